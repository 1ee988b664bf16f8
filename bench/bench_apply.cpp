// The wave loop against the machine: apply_wave over one object of N
// gathered vertices, with the host's functions costing next to nothing (debug
// output discarded), against a bare loop over the same list doing the same
// two passes and the same arithmetic and nothing else.
//
// Before timing, each benchmark moves the same vertices both ways and checks
// that the bare loop wrote the very bits apply_wave wrote: the comparison is
// only fair while both do the same work.
#include "bench_model.h"

#include <benchmark/benchmark.h>
#include <tcl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The status the last preview left in ::qorvel_preview_answer.
std::string eval_answer_status()
{
    Tcl_Interp *in = sim::interp();
    if (Tcl_Eval(in, "dict get $::qorvel_preview_answer status") != TCL_OK)
        return "none";
    return Tcl_GetStringResult(in);
}

// x along, sine on y and cosine on z, with decay and an offset: every part of
// the per-vertex arithmetic is live. Replace mode, so that moving the same
// vertices again does the same work.
const char COMMAND[] = "x y z 3 0.1 0.05 50 25 0 25 0 0";

const float DEGREES_TO_RADIANS = 0.017453292f;

// The two passes of the wave with nothing around them: the extent along x,
// then per vertex the distance, decay, sine and cosine, written to y and z.
// Axes are fixed; the frequency is normalised over the extent as the command
// does when it counts cycles over the selection.
void bare_wave(const WaveParams &params, HostList *vertices)
{
    HostVertex *lo = (HostVertex *)vertices->data, *hi = lo;
    for (HostList *node = vertices->next; node; node = node->next) {
        HostVertex *v = (HostVertex *)node->data;
        if (v->x < lo->x)
            lo = v;
        if (v->x > hi->x)
            hi = v;
    }
    const double low = lo->x;
    const double extent = (double)hi->x - low;
    const float freqsiz = (float)extent;
    const float base_1 = lo->y, base_2 = lo->z;
    const float offset_1 = params.offset_1 * params.frequency;
    const float offset_2 = params.offset_2 * params.frequency;
    const float frequency = extent == 0.0 ? 0.0f : (float)(params.frequency / extent);
    const float inverse = (float)(1.0 / freqsiz);

    for (HostList *node = vertices; node; node = node->next) {
        HostVertex *v = (HostVertex *)node->data;
        const float d = (float)((double)v->x - low);
        const float math =
            freqsiz == 0.0f ? 1.0f : (float)(((double)freqsiz - (double)d) * (double)inverse);
        const double along = (double)d * (double)frequency;
        const double angle_1 = (along + (double)offset_1) * 360.0 * (double)DEGREES_TO_RADIANS;
        const double angle_2 = (along + (double)offset_2) * 360.0 * (double)DEGREES_TO_RADIANS;
        const float k = (float)(sin(angle_1) * (1.0 - (1.0 - (double)math) * (double)params.decay_1) *
                                (double)params.amplitude_1);
        const double l = cos(angle_2) * (1.0 - (1.0 - (double)math) * (double)params.decay_2) *
                         (double)params.amplitude_2;
        v->y = (float)((double)base_1 + (double)k);
        v->z = (float)((double)base_2 + l);
    }
}

// One object of "n" vertices, gathered once; the wave's parameters.
struct Scene {
    HostList *vertices = nullptr;
    WaveParams params{};
};

bool make_scene(size_t objects, size_t per_object, bool whole_model, Scene *scene)
{
    std::vector<acfile::Object *> grids = bench::make_grouped_model(objects, per_object);
    if (!whole_model) { /* the first grid only */
        sim::selection().objects = {grids[0]};
    }
    bench::build_host_lists();
    if (!bench::parse_command(COMMAND, &scene->params))
        return false;
    scene->vertices = gather_wave_vertices();
    return scene->vertices != nullptr;
}

// Moves the scene's vertices with apply_wave and with the bare loop from the
// same positions; false, with "why", unless both wrote the same bits.
bool same_bits_both_ways(Scene &scene, std::string *why)
{
    const std::vector<float> start = bench::positions_of(scene.vertices);
    WaveParams p = scene.params;
    apply_wave(&p, scene.vertices);
    const std::vector<float> waved = bench::positions_of(scene.vertices);
    bench::restore_positions(scene.vertices, start);
    bare_wave(scene.params, scene.vertices);
    const std::vector<float> bare = bench::positions_of(scene.vertices);
    bench::restore_positions(scene.vertices, start);
    for (size_t i = 0; i < waved.size(); i++)
        if (std::memcmp(&waved[i], &bare[i], sizeof(float)) != 0) {
            *why = "the bare loop differs from apply_wave at vertex " + std::to_string(i / 3) +
                   " coordinate " + "xyz"[i % 3];
            return false;
        }
    if (waved == start) {
        *why = "the wave moved nothing";
        return false;
    }
    return true;
}

bool prepare(benchmark::State &state, size_t objects, size_t per_object, bool whole_model,
             Scene *scene)
{
    std::string why;
    if (!make_scene(objects, per_object, whole_model, scene)) {
        state.SkipWithError("no vertices gathered");
        return false;
    }
    if (!same_bits_both_ways(*scene, &why)) {
        state.SkipWithError(why.c_str());
        return false;
    }
    return true;
}

void set_vertex_rate(benchmark::State &state, size_t vertices)
{
    state.SetItemsProcessed((int64_t)(state.iterations() * vertices));
}

// {====== One object of N vertices ======

void BM_ApplyWave(benchmark::State &state)
{
    const size_t n = (size_t)state.range(0);
    Scene scene;
    if (!prepare(state, 1, n, true, &scene))
        return;
    for (auto _ : state) {
        WaveParams p = scene.params; /* apply_wave normalises its copy */
        apply_wave(&p, scene.vertices);
        benchmark::ClobberMemory();
    }
    set_vertex_rate(state, n);
}

void BM_BareLoop(benchmark::State &state)
{
    const size_t n = (size_t)state.range(0);
    Scene scene;
    if (!prepare(state, 1, n, true, &scene))
        return;
    for (auto _ : state) {
        bare_wave(scene.params, scene.vertices);
        benchmark::ClobberMemory();
    }
    set_vertex_rate(state, n);
}

// The host's refresh at the end of apply_wave: the substitute host's
// find_bounding_box walks every vertex of the model.
void BM_HostRefresh(benchmark::State &state)
{
    const size_t n = (size_t)state.range(0);
    bench::make_grouped_model(1, n);
    for (auto _ : state) {
        find_bounding_box();
        redraw_all();
        display_status();
    }
    set_vertex_rate(state, n);
}

// With a debug sink present every per-vertex line is formatted: what the
// diagnostics cost when someone reads them.
void BM_ApplyWaveDebugFormatted(benchmark::State &state)
{
    const size_t n = (size_t)state.range(0);
    Scene scene;
    if (!prepare(state, 1, n, true, &scene))
        return;
    size_t bytes = 0;
    sim::set_debug_sink([&bytes](const std::string &text) { bytes += text.size(); });
    for (auto _ : state) {
        WaveParams p = scene.params;
        apply_wave(&p, scene.vertices);
    }
    sim::set_debug_sink(nullptr);
    benchmark::DoNotOptimize(bytes);
    set_vertex_rate(state, n);
}

const int64_t SIZES[] = {1000, 10000, 100000, 1000000};

BENCHMARK(BM_ApplyWave)->ArgName("n")->Arg(SIZES[0])->Arg(SIZES[1])->Arg(SIZES[2])->Arg(SIZES[3]);
BENCHMARK(BM_BareLoop)->ArgName("n")->Arg(SIZES[0])->Arg(SIZES[1])->Arg(SIZES[2])->Arg(SIZES[3]);
BENCHMARK(BM_HostRefresh)->ArgName("n")->Arg(SIZES[0])->Arg(SIZES[1])->Arg(SIZES[2])->Arg(SIZES[3]);
BENCHMARK(BM_ApplyWaveDebugFormatted)->ArgName("n")->Arg(10000);

// }======

// {====== A small selection in a large model ======

// 1,000 vertices (one grid) selected in a model of 1,000,000 (1,000 grids):
// the refresh still walks the whole model.
void BM_ApplyWaveOneGridOfMany(benchmark::State &state)
{
    const size_t objects = (size_t)state.range(0);
    Scene scene;
    if (!prepare(state, objects, 1000, false, &scene))
        return;
    for (auto _ : state) {
        WaveParams p = scene.params;
        apply_wave(&p, scene.vertices);
        benchmark::ClobberMemory();
    }
    set_vertex_rate(state, 1000);
}
BENCHMARK(BM_ApplyWaveOneGridOfMany)->ArgName("objects")->Arg(1)->Arg(1000);

// }======

// {====== The preview against the command ======

// The words of COMMAND, or with offset 1 drawn at random, as an argument
// vector over "entries" (entry 0 the command's name).
std::vector<char *> command_words(bool random, std::vector<std::string> &entries)
{
    entries = {"qorvel_go"};
    std::string words = COMMAND;
    for (size_t at = 0, end; at < words.size(); at = end + 1) {
        end = words.find(' ', at);
        if (end == std::string::npos)
            end = words.size();
        entries.push_back(words.substr(at, end - at));
    }
    if (random)
        entries[9] = "random";
    std::vector<char *> vector;
    for (std::string &e : entries)
        vector.push_back(&e[0]);
    return vector;
}

// 1,000,000 vertices, 1,000 grids of 1,000 in a selected group: the command
// as it runs without its undo step (the words read, the selection gathered,
// every vertex moved, the refresh), the list released outside the timing.
// Argument 1: offset 1 random.
void BM_CommandWithoutUndo(benchmark::State &state)
{
    bench::make_grouped_model(1000, 1000);
    bench::build_host_lists();
    std::vector<std::string> entries;
    std::vector<char *> words = command_words(state.range(0) != 0, entries);
    for (auto _ : state) {
        WaveParams p;
        if (!parse_wave_params((int)words.size(), words.data(), &p))
            state.SkipWithError("the words are refused");
        HostList *vertices = gather_selected_vertices(host.windows_message_dialog);
        apply_wave(&p, vertices);
        state.PauseTiming();
        list_free(&vertices);
        state.ResumeTiming();
    }
    set_vertex_rate(state, 1000000);
}

// The preview of the same selection, whole: the words read, the selection
// gathered, the extent, at most 2,000 vertices evaluated and answered to the
// substitute host's Tcl interpreter, the list released.
void BM_Preview(benchmark::State &state)
{
    bench::make_grouped_model(1000, 1000);
    bench::build_host_lists();
    std::vector<std::string> entries;
    std::vector<char *> words = command_words(state.range(0) != 0, entries);
    words[0] = (char *)"qorvel_preview";
    for (auto _ : state)
        preview_wave_command((int)words.size(), words.data());
    if (eval_answer_status() != "ok")
        state.SkipWithError("the preview did not answer");
    set_vertex_rate(state, 1000000);
}

BENCHMARK(BM_CommandWithoutUndo)->ArgName("random")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Preview)->ArgName("random")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// }======

} // namespace
