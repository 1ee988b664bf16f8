// Fuzzes the .ac reader and writer with arbitrary bytes as a model file.
//
// Every input is either refused with a message naming the file and one of its
// lines ("fuzz.ac:N: ..."), the model and source handed to the reader left as
// they were, or read into a model that writes back byte for byte. A model that
// was read is then corrugated by the plug-in's command: undoing that gives the
// file back byte for byte; after a second wave and some coordinates set to the
// edges of a float or to arbitrary bits, the written text reads again with the
// same objects and vertex counts, every vertex of an object without a
// transform at exactly the position it was given, and writes back as itself.
#include "acfile/acfile.h"
#include "acfile/read.h"
#include "acfile/write.h"
#include "sim/host.h"
#include "wave/wave.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char FILE_NAME[] = "fuzz.ac";

[[noreturn]] void broken(const char *invariant, const std::string &detail = "")
{
    std::fprintf(stderr, "fuzz_model: %s%s%s\n", invariant, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

// A refusal must read "fuzz.ac:N: ..." with N a line of the text (or the one
// after its last line, for what is missing at its end).
void check_refusal(const std::string &error, const std::string &text)
{
    const std::string prefix = std::string(FILE_NAME) + ":";
    if (error.rfind(prefix, 0) != 0)
        broken("a refusal without the file name", error);
    size_t p = prefix.size(), digits = 0;
    unsigned long long line = 0;
    while (p < error.size() && error[p] >= '0' && error[p] <= '9' && digits < 19)
        line = line * 10 + unsigned(error[p++] - '0'), digits++;
    if (digits == 0 || error.compare(p, 2, ": ") != 0 || error.size() == p + 2)
        broken("a refusal without a line number and a reason", error);
    unsigned long long lines = 1;
    for (char c : text)
        lines += c == '\n';
    if (line < 1 || line > lines)
        broken("a refusal naming a line the file does not have", error);
}

// The same float, or both not numbers.
bool same_value(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

int messages = 0;

// Runs "qorvel_go" with "words" (after the name) on everything.
void run_wave(const char *words)
{
    std::string line = std::string("qorvel_go ") + words;
    std::vector<std::string> split;
    for (size_t start = 0; start < line.size();) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos)
            end = line.size();
        split.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char *> vector;
    for (std::string &w : split)
        vector.push_back(&w[0]);
    vector.push_back(nullptr);
    sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
    apply_wave_command((int)split.size(), vector.data());
}

const char *const WAVES[] = {
    "x y n 3 0.2 0 0 0 0 0 0 0",
    "z x y 1 0.5 0.5 50 100 random 25 1 1",
    "y z x 0.25 1e30 -2 0 0 0 random 0 0",
};

const float EDGES[] = {-0.0f, FLT_TRUE_MIN, FLT_MIN, FLT_MAX, -FLT_MAX, 0.1f, 16777217.0f};

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
    sim::set_message_sink([](const std::string &) { messages++; });
    sim::pin_tick(0);
    return 0;
}

// One input in READ_AHEAD_SAMPLE, picked by its hash (so an input that fails
// fails again when replayed), is also read on two threads. Starting and
// joining a thread costs about as much as the rest of an input under the
// sanitizers: reading every input so ran the target at 60 % of its speed.
const uint32_t READ_AHEAD_SAMPLE = 16;

// The text read on two threads, the second starting on an OBJECT line that
// the hash picks, must give what one thread gave: the same message, or the
// same objects, tree and vertices.
static void check_read_ahead(const std::string &text, uint32_t hash, bool read,
                             const std::string &error, const acfile::Model &model)
{
    if ((hash >> 24) % READ_AHEAD_SAMPLE != 0)
        return;
    size_t at = text.empty() ? 0 : hash % text.size();
    at = text.find("\nOBJECT", at);
    if (at == std::string::npos)
        return;
    acfile::Model two;
    acfile::AcSource bytes, source;
    bytes.text = text;
    std::string two_error;
    bool two_read = acfile::read_source_split(bytes, FILE_NAME, two, source, two_error, at + 1);
    if (two_read != read || two_error != error)
        broken("reading on two threads gives another outcome", two_error);
    if (!read)
        return;
    if (two.objects.size() != model.objects.size())
        broken("reading on two threads gives other objects");
    for (size_t i = 0; i < model.objects.size(); i++) {
        const acfile::Object &a = *model.objects[i], &b = *two.objects[i];
        bool same_parent = (a.parent == nullptr) == (b.parent == nullptr) &&
                           (!a.parent || a.parent->name == b.parent->name);
        if (a.name != b.name || !same_parent || a.refs != b.refs ||
            a.vertices.size() != b.vertices.size())
            broken("reading on two threads gives another object", a.name);
        for (size_t v = 0; v < a.vertices.size(); v++)
            if (std::memcmp(&a.vertices[v].x, &b.vertices[v].x, 3 * sizeof(float)) != 0)
                broken("reading on two threads gives another vertex", a.name);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ClearedAfter cleared;
    const std::string text(reinterpret_cast<const char *>(data), size);
    uint32_t hash = 2166136261u;
    for (unsigned char c : text)
        hash = (hash ^ c) * 16777619u;

    acfile::Model model;
    model.add_object(nullptr, "untouched");
    acfile::AcSource source;
    source.text = "untouched";
    std::string error;
    const bool read = acfile::read_ac(text, FILE_NAME, model, source, error);
    check_read_ahead(text, hash, read, error, model);
    if (!read) {
        check_refusal(error, text);
        if (model.objects.size() != 2 || model.objects[1]->name != "untouched" ||
            source.text != "untouched")
            broken("a refused file changed the model it was read into");
        return 0;
    }
    if (!error.empty())
        broken("a file that was read, yet an error", error);

    std::string out;
    acfile::write_ac(model, source, out);
    if (out != text)
        broken("the file does not write back byte for byte");

    // A wave and its undo give the file back.
    sim::replace_model(std::move(model));
    run_wave(WAVES[hash % 3]);
    if (sim::undo_depth() > 0 && !sim::undo())
        broken("undo failed");
    acfile::write_ac(sim::model(), source, out);
    if (out != text)
        broken("a wave and its undo do not give the file back");

    // A wave, some vertices at the edges of a float, then the file reads back.
    run_wave(WAVES[(hash >> 8) % 3]);
    size_t k = hash >> 16;
    for (const auto &object : sim::model().objects)
        for (acfile::Vertex &v : object->vertices) {
            if (k % 5 == 0)
                (&v.x)[k % 3] = EDGES[k % (sizeof EDGES / sizeof EDGES[0])];
            if (k % 5 == 1) { // any bits at all, the writer's shortest form included
                uint32_t bits = (hash ^ uint32_t(k)) * 2654435761u;
                std::memcpy(&(&v.x)[k % 3], &bits, sizeof bits);
            }
            k++;
        }
    acfile::write_ac(sim::model(), source, out);
    std::string in_parts;
    acfile::write_ac_in_parts(sim::model(), source, in_parts, 2, 1 + hash % 3);
    if (in_parts != out)
        broken("writing in parts on two threads gives other bytes");

    acfile::Model again;
    acfile::AcSource again_source;
    if (!acfile::read_ac(out, FILE_NAME, again, again_source, error))
        broken("the written file does not read back", error);
    const acfile::Model &moved = sim::model();
    if (again.objects.size() != moved.objects.size())
        broken("the written file has other objects");
    for (size_t i = 0; i < moved.objects.size(); i++)
        if (again.objects[i]->vertices.size() != moved.objects[i]->vertices.size())
            broken("the written file has other vertex counts");
    for (const acfile::AcSource::ObjectRecord &record : source.objects) {
        if (record.frame >= 0)
            continue; // written in its object's frame: rounded on the way
        const auto &was = moved.objects[record.model_index]->vertices;
        const auto &is = again.objects[record.model_index]->vertices;
        for (size_t i = 0; i < was.size(); i++)
            if (!same_value(was[i].x, is[i].x) || !same_value(was[i].y, is[i].y) ||
                !same_value(was[i].z, is[i].z))
                broken("a moved vertex reads back elsewhere",
                       "object " + std::to_string(record.model_index) + " vertex " +
                           std::to_string(i));
    }
    std::string twice;
    acfile::write_ac(again, again_source, twice);
    if (twice != out)
        broken("the written file does not write back byte for byte");
    return 0;
}
