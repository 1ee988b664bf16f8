// The scenarios: each model is small, but together they cover the three
// selection modes, both frequency units, both placements, decay, fixed
// offsets, a subdivided object, ties for the lowest vertex, phases from a
// fraction of a cycle to hundreds of thousands of radians, and phases at
// whole, half and quarter cycles, where the sine or the cosine is near zero
// and C libraries differ most.
#include "wintest/scenarios.h"

#include <cstring>
#include <initializer_list>

namespace wintest {

// {====== Building models ======

static acfile::Vertex *add_vertex(acfile::Object *object, float x, float y, float z)
{
    object->vertices.push_back({x, y, z, object});
    return &object->vertices.back();
}

// A surface through the vertices of "object" at "indices".
static void add_surface(acfile::Object *object, std::initializer_list<uint32_t> indices)
{
    object->surfaces.push_back({object, (uint32_t)object->refs.size(), (uint32_t)indices.size()});
    object->refs.insert(object->refs.end(), indices);
}

// A group "frame" whose vertices all lie in its children, a subdivided
// object "post" and an unselected object "spare".
static void build_group(acfile::Model &model, sim::Selection &selection)
{
    acfile::Object *frame = model.add_object(nullptr, "frame");
    acfile::Object *left = model.add_object(frame, "left");
    for (float x : {0.0f, 1.0f, 2.0f, 3.0f})
        add_vertex(left, x, 0.5f * x - 0.25f, 0.125f * x);
    acfile::Object *right = model.add_object(frame, "right");
    add_vertex(right, 4.0f, 0.0f, 1.0f);
    add_vertex(right, 5.0f, -0.5f, 1.0f);
    add_vertex(right, 6.5f, 0.25f, 0.75f);
    acfile::Object *post = model.add_object(nullptr, "post");
    post->subdivided = true;
    add_vertex(post, -1.5f, 2.0f, 0.0f);
    add_vertex(post, 7.25f, 2.0f, -0.3f);
    acfile::Object *spare = model.add_object(nullptr, "spare");
    add_vertex(spare, 100.0f, 100.0f, 100.0f);
    sim::select_all(model, selection, SELECT_OBJECTS, {"frame", "post"});
}

// A 4 x 3 grid of quads sharing their edges, slightly bent, all selected.
static void build_sheet(acfile::Model &model, sim::Selection &selection)
{
    acfile::Object *sheet = model.add_object(nullptr, "sheet");
    for (int row = 0; row < 3; row++)
        for (int column = 0; column < 4; column++)
            add_vertex(sheet, 0.75f * (float)column, 0.1f * (float)(row * column),
                       1.3f * (float)row - 0.2f * (float)column);
    for (uint32_t row = 0; row < 2; row++)
        for (uint32_t column = 0; column < 3; column++) {
            uint32_t corner = row * 4 + column;
            add_surface(sheet, {corner, corner + 1, corner + 5, corner + 4});
        }
    sim::select_all(model, selection, SELECT_SURFACES, {"sheet"});
}

// Vertices selected out of file order, two of them sharing the lowest y.
static void build_strip(acfile::Model &model, sim::Selection &selection)
{
    acfile::Object *strip = model.add_object(nullptr, "strip");
    const float ys[] = {3.0f, -1.0f, 0.5f, -1.0f, 2.25f, 1.0f, 4.0f, 0.0f};
    for (int i = 0; i < 8; i++)
        add_vertex(strip, 0.2f * (float)i, ys[i], (float)(i % 3));
    selection.mode = SELECT_VERTICES;
    for (int i : {4, 3, 0, 1, 6, 2})
        selection.vertices.push_back(&strip->vertices[i]);
}

// Vertices at x = 0, 2.5 and 10: a quarter cycle and a whole one.
static void build_quarter(acfile::Model &model, sim::Selection &selection)
{
    acfile::Object *bar = model.add_object(nullptr, "bar");
    add_vertex(bar, 0.0f, 1.0f, 0.0f);
    add_vertex(bar, 2.5f, 5.0f, 0.0f);
    add_vertex(bar, 10.0f, -3.0f, 0.0f);
    sim::select_all(model, selection, SELECT_VERTICES);
}

// 64 vertices, irregularly spaced along x, spread over two objects.
static void build_long(acfile::Model &model, sim::Selection &selection)
{
    acfile::Object *halves[2] = {model.add_object(nullptr, "front"), model.add_object(nullptr, "back")};
    for (int i = 0; i < 64; i++)
        add_vertex(halves[i % 2], -20.0f + (float)i + 0.13f * (float)(i % 7),
                   0.01f * (float)(i * i % 17), 0.5f - 0.03f * (float)i);
    sim::select_all(model, selection, SELECT_OBJECTS);
}

// 201 vertices along x, "step" apart from 0, on y = z = 0: with one cycle
// per model unit, steps of 1, 0.5 and 0.25 put every vertex at a whole, half
// or quarter cycle, up to 200 cycles, as a model on a grid does.
static void build_cycles(acfile::Model &model, sim::Selection &selection, float step)
{
    acfile::Object *rail = model.add_object(nullptr, "rail");
    for (int i = 0; i <= 200; i++)
        add_vertex(rail, step * (float)i, 0.0f, 0.0f);
    sim::select_all(model, selection, SELECT_VERTICES);
}

static void build_whole_cycles(acfile::Model &model, sim::Selection &selection)
{
    build_cycles(model, selection, 1.0f);
}

static void build_half_cycles(acfile::Model &model, sim::Selection &selection)
{
    build_cycles(model, selection, 0.5f);
}

static void build_quarter_cycles(acfile::Model &model, sim::Selection &selection)
{
    build_cycles(model, selection, 0.25f);
}

// An empty group: an object selection with no vertex anywhere below it.
static void build_empty(acfile::Model &model, sim::Selection &selection)
{
    acfile::Object *group = model.add_object(nullptr, "group");
    model.add_object(group, "nothing");
    acfile::Object *other = model.add_object(nullptr, "other");
    add_vertex(other, 1.0f, 2.0f, 3.0f);
    sim::select_all(model, selection, SELECT_OBJECTS, {"group"});
}

// }======

const Scenario scenarios[] = {
    {"objects, extent, replace", build_group,
     {"x", "y", "z", "2.5", "0.75", "-1.25", "40", "100", "12.5", "30", "0", "0"}},
    {"surfaces, per unit, additive", build_sheet,
     {"Z", "x", "n", "0.37", "2", "5", "0", "0", "-20", "0", "1", "1"}},
    {"vertices, tie, decay", build_strip,
     {"y", "n", "X", "-3", "0", "1.5", "0", "250", "0", "75", "0", "0"}},
    {"quarter cycle", build_quarter,
     {"x", "y", "n", "1", "1", "0", "0", "0", "0", "0", "0", "0"}},
    {"many cycles", build_long,
     {"x", "y", "z", "37", "1", "1", "50", "25", "33", "66", "0", "0"}},
    {"large phases", build_long,
     {"x", "z", "y", "1234.5", "0.5", "0.25", "0", "0", "0", "0", "1", "1"}},
    {"same offsets", build_long,
     {"x", "y", "z", "3", "1", "1", "10", "10", "5", "5", "0", "0"}},
    {"whole cycles", build_whole_cycles,
     {"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "0", "1"}},
    {"half cycles", build_half_cycles,
     {"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "0", "1"}},
    {"quarter cycles", build_quarter_cycles,
     {"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "0", "1"}},
    {"empty selection", build_empty,
     {"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "0", "0"}},
};
const int scenario_count = (int)(sizeof scenarios / sizeof scenarios[0]);

std::vector<float> model_positions(const acfile::Model &model)
{
    std::vector<float> positions;
    for (const auto &object : model.objects)
        for (const acfile::Vertex &v : object->vertices)
            positions.insert(positions.end(), {v.x, v.y, v.z});
    return positions;
}

Outcome run_scenario(const Scenario &scenario, const CommandCall &call)
{
    acfile::Model model;
    sim::Selection selection;
    scenario.build(model, selection);
    sim::replace_model(std::move(model));
    sim::selection() = selection; /* the objects stay where they are */
    sim::observations() = sim::Observations();

    Outcome outcome;
    outcome.before = model_positions(sim::model());
    sim::set_message_sink([&](const std::string &text) { outcome.messages.push_back(text); });
    sim::set_debug_sink([&](const std::string &text) { outcome.debug.push_back(text); });
    std::vector<std::string> words = {"qorvel_go"};
    words.insert(words.end(), scenario.params, scenario.params + 12);
    call(words);
    sim::set_message_sink(sim::TextSink());
    sim::set_debug_sink(sim::TextSink());

    outcome.positions = model_positions(sim::model());
    outcome.undo_steps = sim::undo_depth();
    if (outcome.undo_steps > 0)
        outcome.undo_label = sim::undo_label(outcome.undo_steps - 1);
    outcome.subdivision_rebuilds = sim::observations().subdivision_rebuilds;
    outcome.redraws = sim::observations().redraws;
    return outcome;
}

uint32_t float_bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint64_t double_bits(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double double_from_bits(uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint64_t text_hash(const std::vector<std::string> &texts)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::string &text : texts)
        for (unsigned char c : text) {
            hash ^= c;
            hash *= 0x100000001b3ull;
        }
    return hash;
}

} // namespace wintest
