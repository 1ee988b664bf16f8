// Fuzzes the command "qorvel_go": any words, in any selection mode, on a small
// model, through the handler the plug-in registers.
//
// An input is:
//   byte 0   the selection mode the host reports (0 to 7: 2 surfaces,
//            3 vertices, anything else objects)
//   byte 1   the model: one of MODELS, or RAW_MODEL for three vertices whose
//            coordinates are the next 36 bytes (nine floats, as bits)
//   byte 2   the pinned tick count that seeds random offsets
//   the rest the command's words after its name, one per line ("\n")
//
// After each command it checks, and aborts when one fails:
// - a message leaves every position bit for bit as it was, records no undo
//   step and refreshes nothing;
// - a command that ran records the undo step "Corrugo" and refreshes once;
//   coordinates on the frequency axis, and on any axis that is not an
//   amplitude axis, keep their bits; a coordinate that was finite is finite;
// - undoing it gives every position back bit for bit.
#include "sim/host.h"
#include "wave/wave.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// {====== The model ======

struct ObjectShape {
    int parent; // index of an earlier object, -1 for the world
    bool subdivided;
    std::vector<std::array<float, 3>> points;
    std::vector<std::vector<uint32_t>> surfaces;
};
using ModelShape = std::vector<ObjectShape>;

const float BIG = 3.0e38f;
const float NaN = NAN;
const float INF = INFINITY;

// Models at the ordinary and at the limits: a group whose vertices lie in its
// children, a subdivided object, shared surface vertices; one vertex; every
// vertex on one plane across every axis; coordinates near the float limits;
// NaN and infinities; an empty object.
const ModelShape MODELS[] = {
    {{-1, false, {{0, 0, 0}, {2.5f, 1, 0}, {10, 0, 1}}, {{0, 1, 2}}},
     {0, false, {{1, 1, 1}, {4, -1, 2}}, {{0, 1}}},
     {-1, true, {{-3, 0.5f, 0}, {7, 0, -2}, {7, 0, -2}, {5, 5, 5}}, {{0, 1, 3}, {3, 2, 1}}}},
    {{-1, false, {{1, 2, 3}}, {{0}}}},
    {{-1, false, {{4, 4, 4}, {4, 4, 4}, {4, 4, 4}}, {{0, 1, 2}}},
     {-1, true, {{4, 4, 4}}, {}}},
    {{-1, false, {{-BIG, BIG, 0}, {BIG, -BIG, 1e-45f}, {0, 0, -0.0f}}, {{0, 1, 2}}},
     {-1, false, {{1e-38f, -1e-38f, BIG}}, {{0}}}},
    {{-1, false, {{NaN, 0, 0}, {0, NaN, 0}, {1, 1, NaN}, {2, 0, 0}}, {{0, 1, 2, 3}}},
     {-1, false, {{INF, 1, 2}, {-INF, 3, 4}, {5, INF, -INF}}, {{0, 1}, {2}}}},
    {{-1, false, {}, {}}},
    {{-1, false, {}, {}}, {0, false, {}, {}}},
};
const int MODEL_COUNT = sizeof MODELS / sizeof MODELS[0];
const int RAW_MODEL = MODEL_COUNT;

void build_model(const ModelShape &shape)
{
    sim::replace_model(acfile::Model());
    acfile::Model &model = sim::model();
    std::vector<acfile::Object *> made;
    for (const ObjectShape &o : shape) {
        acfile::Object *object = model.add_object(o.parent < 0 ? nullptr : made[o.parent], "o");
        object->subdivided = o.subdivided;
        for (const auto &p : o.points)
            object->vertices.push_back({p[0], p[1], p[2], object});
        for (const auto &indices : o.surfaces) {
            object->surfaces.push_back({object, (uint32_t)object->refs.size(), (uint32_t)indices.size()});
            object->refs.insert(object->refs.end(), indices.begin(), indices.end());
        }
        made.push_back(object);
    }
}

// Every coordinate of the model, objects in creation order.
std::vector<float> coordinates()
{
    std::vector<float> all;
    all.reserve(3 * acfile::count_vertices(sim::model()));
    for (const auto &object : sim::model().objects)
        for (const acfile::Vertex &v : object->vertices)
            all.insert(all.end(), {v.x, v.y, v.z});
    return all;
}

// The refreshes counted so far.
struct Refreshes {
    int bounding_boxes, redraws, status_updates;
};

Refreshes refreshes()
{
    const sim::Observations &seen = sim::observations();
    return {seen.bounding_boxes, seen.redraws, seen.status_updates};
}

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// }======

[[noreturn]] void broken(const char *invariant, const std::string &detail = "")
{
    std::fprintf(stderr, "fuzz_params: %s%s%s\n", invariant, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

int messages = 0;
std::string last_message;

// The command's name and the words after it: at most 39 of them.
const size_t MAX_WORDS = 40;

int axis_index(char axis)
{
    return axis == 'x' ? 0 : axis == 'y' ? 1 : axis == 'z' ? 2 : -1;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Each input ends with the host's model empty and nothing observed, so that
// what the host records (the refreshes, the model, the undo steps) does not
// pile up from one input to the next: an input frees what it allocates, and
// libFuzzer runs LeakSanitizer only when one does not.
struct ClearedAfter {
    ~ClearedAfter()
    {
        sim::replace_model(acfile::Model());
        sim::observations() = sim::Observations();
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    sim::set_message_sink([](const std::string &text) {
        messages++;
        last_message = text;
    });
    // The diagnostic lines are formatted, as in the modeller, and dropped.
    sim::set_debug_sink([](const std::string &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    ClearedAfter cleared;
    const int mode = data[0] & 7;
    const int which = data[1] % (MODEL_COUNT + 1);
    sim::pin_tick(data[2] * 0x01010101u);
    size_t at = 3;
    if (which == RAW_MODEL) {
        ObjectShape raw{-1, false, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{0, 1, 2}}};
        for (int i = 0; i < 9 && at + 4 <= size; i++, at += 4)
            std::memcpy(&raw.points[i / 3][i % 3], data + at, 4);
        build_model({raw});
    } else {
        build_model(MODELS[which]);
    }
    sim::select_all(sim::model(), sim::selection(), mode);

    // The words: the command's name, then one per line.
    std::vector<std::string> words = {"qorvel_go"};
    words.reserve(MAX_WORDS);
    std::string rest(reinterpret_cast<const char *>(data) + at, size - at);
    for (size_t start = 0; start <= rest.size() && words.size() < MAX_WORDS;) {
        size_t end = rest.find('\n', start);
        if (end == std::string::npos)
            end = rest.size();
        words.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char *> vector;
    vector.reserve(words.size() + 1);
    for (std::string &w : words)
        vector.push_back(&w[0]);
    vector.push_back(nullptr);

    const std::vector<float> before = coordinates();
    const Refreshes seen = refreshes();
    messages = 0;
    apply_wave_command((int)words.size(), vector.data());
    const std::vector<float> after = coordinates();
    const Refreshes now = refreshes();

    if (messages > 1)
        broken("more than one message", last_message);
    if (messages == 1) {
        if (last_message.rfind("Corrugo : ", 0) != 0 &&
            last_message != "Insufficient parameters passed to wave utility")
            broken("a message that is not the command's", last_message);
        for (size_t i = 0; i < before.size(); i++)
            if (!same_bits(before[i], after[i]))
                broken("a message, yet a coordinate changed", std::to_string(i));
        if (sim::undo_depth() != 0)
            broken("a message, yet an undo step was recorded");
        if (now.redraws != seen.redraws || now.bounding_boxes != seen.bounding_boxes)
            broken("a message, yet the views were refreshed");
        return 0;
    }

    // The command ran: its three axis words were valid.
    if (sim::undo_depth() != 1 || sim::undo_label(0) != "Corrugo")
        broken("no undo step \"Corrugo\" for a command that ran");
    if (now.redraws != seen.redraws + 1 || now.bounding_boxes != seen.bounding_boxes + 1 ||
        now.status_updates != seen.status_updates + 1)
        broken("not refreshed exactly once");
    const int a1 = axis_index(lower(words[2][0]));
    const int a2 = axis_index(lower(words[3][0]));
    for (size_t i = 0; i < before.size(); i++) {
        const int axis = int(i % 3);
        if (axis != a1 && axis != a2 && !same_bits(before[i], after[i]))
            broken("a coordinate off the amplitude axes changed", std::to_string(i));
        if (std::isfinite(before[i]) && !std::isfinite(after[i]))
            broken("a finite coordinate became infinite or NaN", std::to_string(i));
    }
    if (!sim::undo())
        broken("undo found no step");
    const std::vector<float> undone = coordinates();
    for (size_t i = 0; i < before.size(); i++)
        if (!same_bits(before[i], undone[i]))
            broken("undo did not give a coordinate back", std::to_string(i));
    return 0;
}
