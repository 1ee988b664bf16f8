// The Windows test host: loads corrugo.p from its file beside this program,
// as the modeller does, and drives it through its four entry points and the
// command it registers, over the substitute host's model.
//
//   corrugo_wintest_full full        every host function exported
//   corrugo_wintest_missing missing  display_status not exported
//
// The host functions format the plug-in's texts with this program's own
// printf (MinGW's, which prints what C99 and glibc print), so the texts are
// compared with the Linux build's exactly, with nothing normalised.
//
// Prints each failure, then "N passed, M failed"; exits non-zero on any
// failure.
#include "wintest/host_commands.h"
#include "wintest/load_dll.h"
#include "wintest/scenarios.h"

#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace wintest;

// The Linux build's results for the scenarios, as constants: written by
// expected_linux.cpp (built on Linux as corrugo_windows_expected; the header
// of the file says how), checked for staleness by scripts/test-windows.sh.
#include "wintest/expected_linux.inc"

// {====== Checks ======

static int passed = 0, failed = 0;

static bool check(bool ok, const std::string &what)
{
    if (ok) {
        passed++;
    } else {
        failed++;
        std::printf("FAIL: %s\n", what.c_str());
    }
    return ok;
}

// "text" quoted for a failure line, long texts cut short.
static std::string shown(const std::string &text)
{
    const size_t limit = 240;
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < limit; i++)
        out += text[i] == '\n' ? std::string("\\n") : std::string(1, text[i]);
    out += "\"";
    if (text.size() > limit)
        out += "... (" + std::to_string(text.size()) + " characters)";
    return out;
}

static bool check_text(const std::string &got, const std::string &wanted, const std::string &what)
{
    return check(got == wanted, what + ": got " + shown(got) + ", expected " + shown(wanted));
}

static bool check_texts(const std::vector<std::string> &got, const std::vector<std::string> &wanted,
                        const std::string &what)
{
    std::string g, w;
    for (const std::string &text : got)
        g += shown(text) + " ";
    for (const std::string &text : wanted)
        w += shown(text) + " ";
    return check(got == wanted, what + ": got [ " + g + "], expected [ " + w + "]");
}

static void section(const char *name)
{
    std::printf("-- %s\n", name);
}

// }======

static const char *const ABOUT_PREFIX = "Corrugo - version 1.00 - ";
static const char *const INFO_TEXT =
    "Corrugo utility - Applies an axis-aligned waveform to selected vertices";

static void run_command(const std::vector<std::string> &words)
{
    call_command(words);
}

static std::string slashed(std::string text)
{
    for (char &c : text)
        if (c == '\\')
            c = '/';
    return text;
}

// Loads the plug-in beside this program; on failure nothing else can run.
static bool load(PluginDll &dll)
{
    std::string path = program_directory() + "\\corrugo.p";
    std::string error;
    bool loaded = load_plugin_dll(path, dll, error);
    check(loaded, "loading " + path + ": " + error);
    return loaded;
}

static void check_entry_texts(PluginDll &dll)
{
    section("about and info");
    const char *about = dll.about();
    check(about && std::strncmp(about, ABOUT_PREFIX, std::strlen(ABOUT_PREFIX)) == 0,
          std::string("about text starts with \"") + ABOUT_PREFIX + "\": " + (about ? about : "(null)"));
    check_text(dll.info() ? dll.info() : "(null)", INFO_TEXT, "info text");
}

// {====== Every host function exported ======

static void check_initialisation(PluginDll &dll)
{
    section("initialisation");
    std::string directory = program_directory();
    std::vector<char> record_text(directory.begin(), directory.end());
    record_text.push_back('\0');
    HostPluginInit record = {0, record_text.data()};

    check(dll.init(&record) == 0, "first AC3DPluginInit returns 0");
    check_text(record_text.data(), directory, "the record's folder text after initialisation");
    check_texts(tcl_texts(), {"source \"" + slashed(directory) + "/corrugo.tcl\""},
                "Tcl run at initialisation");
    check_texts(tcl_formats(), {"source \"%s/corrugo.tcl\""},
                "the host is given the plug-in's format, and formats it itself");

    const std::vector<sim::MenuItem> &menu = sim::menu_items();
    if (check(menu.size() == 1, "one Tools menu entry, got " + std::to_string(menu.size()))) {
        check_text(menu[0].label, "Corrugo...", "menu label");
        check_text(menu[0].command, "qorvel_dialog", "menu command");
        check_text(menu[0].help, "Apply an axis-aligned waveform to the selected vertices",
                   "menu help");
    }
    const std::vector<sim::Registration> &commands = sim::registered_commands();
    if (check(commands.size() == 2, "two commands registered, got " + std::to_string(commands.size()))) {
        check_text(commands[0].name, "qorvel_go", "command name");
        check(commands[0].count == 12, "argument count 12, got " + std::to_string(commands[0].count));
        check_text(commands[0].argument_form, "argv", "argument form");
        check_text(commands[0].help, "TODO: Show params here", "command help");
        check_text(commands[0].description, "Corrugo utility", "command description");
        check_text(commands[1].name, "qorvel_preview", "the preview's name");
        check(commands[1].count == 12, "the preview's argument count 12");
        check_text(commands[1].argument_form, "argv", "the preview's argument form");
    }

    check(dll.init(&record) == 0, "second AC3DPluginInit returns 0");
    check(sim::menu_items().size() == 1 && sim::registered_commands().size() == 2 &&
              tcl_texts().size() == 1,
          "second AC3DPluginInit registers nothing more");
}

static const Scenario &scenario(const char *name)
{
    for (int i = 0; i < scenario_count; i++)
        if (std::strcmp(scenarios[i].name, name) == 0)
            return scenarios[i];
    std::printf("no scenario \"%s\"\n", name);
    std::abort();
}

// The words of a command call: "qorvel_go" then the parameters.
static std::vector<std::string> words(std::vector<std::string> params)
{
    params.insert(params.begin(), "qorvel_go");
    return params;
}

// A run of the command on the "quarter cycle" model that must stop with
// "message" before touching anything.
static void check_refusal(const std::vector<std::string> &params, const std::string &message,
                          const std::string &what)
{
    Outcome o = run_scenario(scenario("quarter cycle"), [&](const std::vector<std::string> &) {
        run_command(words(params));
    });
    check_texts(o.messages, {message}, what + ": message");
    check(o.positions == o.before, what + ": the model is untouched");
    check(o.undo_steps == 0 && o.debug.empty(), what + ": no undo step and no summary");
}

static void check_messages()
{
    section("messages");
    check_refusal({"x", "y", "n", "1", "1", "0", "0", "0", "0", "0", "0"},
                  "Insufficient parameters passed to wave utility", "eleven parameters");
    check_refusal({"x", "y", "n", "abc", "1", "0", "0", "0", "0", "0", "0", "0"},
                  "Corrugo : unable to parse abc for frequency", "frequency abc");
    check_refusal({"n", "x", "y", "1", "1", "0", "0", "0", "0", "0", "0", "0"},
                  "Corrugo : cannot interpret frequency axis n", "frequency axis n");
    // A %c of the empty entry's terminating NUL ends the text there.
    check_refusal({"", "x", "y", "1", "1", "0", "0", "0", "0", "0", "0", "0"},
                  "Corrugo : cannot interpret frequency axis ", "empty frequency axis");
    check_refusal({"x", "y", "n", "1", "1", "0", "0", "0", "Random", "0", "0", "0"},
                  "Corrugo : unable to parse Random for offset 1", "offset Random");
    // Longer than any fixed buffer the plug-in formats into first.
    std::string long_entry(5000, 'q');
    check_refusal({"x", "y", "n", "1", "1", "0", "0", long_entry, "0", "0", "0", "0"},
                  "Corrugo : unable to parse " + long_entry + " for decay 2",
                  "a 5000-character decay");

    Outcome o = run_scenario(scenario("empty selection"), run_command);
    check_texts(o.messages, {"Corrugo : no vertices selected"}, "empty group: message");
    check(o.undo_steps == 0 && o.positions == o.before, "empty group: no undo step, model untouched");
    check(o.debug.size() == 1, "empty group: the summary was written");
}

// {====== The preview ======

// What one run of qorvel_preview answered: the Tcl texts it ran, which set
// ::qorvel_preview_answer, read back.
struct PreviewRun {
    Outcome outcome;
    std::string first;              // the first text: the answer's head
    std::vector<float> points;      // five numbers per sampled vertex
    bool well_formed = true;
};

static PreviewRun run_preview(const Scenario &s)
{
    PreviewRun run;
    size_t from = 0;
    run.outcome = run_scenario(s, [&](const std::vector<std::string> &params) {
        std::vector<std::string> words(params);
        words[0] = "qorvel_preview";
        from = tcl_texts().size();
        call_command(words);
    });
    const std::vector<std::string> &texts = tcl_texts();
    const std::string lappend = "dict lappend ::qorvel_preview_answer points ";
    for (size_t i = from; i < texts.size(); i++) {
        if (i == from) {
            run.first = texts[i];
            continue;
        }
        if (texts[i].compare(0, lappend.size(), lappend) != 0) {
            run.well_formed = false;
            continue;
        }
        const char *p = texts[i].c_str() + lappend.size();
        for (int k = 0; k < 5; k++) {
            char *end;
            run.points.push_back(std::strtof(p, &end));
            run.well_formed = run.well_formed && end != p;
            p = end;
        }
    }
    return run;
}

// Every scenario previewed, then applied: nothing changes, nothing is said,
// and each sampled vertex's "after" is where Apply then puts it, to the bit.
static void check_preview()
{
    section("the preview");
    for (int i = 0; i < scenario_count; i++) {
        const Scenario &s = scenarios[i];
        std::string name = s.name;
        bool random = false;
        for (const char *word : s.params)
            random = random || std::strcmp(word, "random") == 0;
        PreviewRun preview = run_preview(s);
        const Outcome &p = preview.outcome;
        check(p.positions == p.before && p.undo_steps == 0 && p.redraws == 0 && p.debug.empty() &&
                  p.messages.empty() && p.subdivision_rebuilds == 0,
              name + ": the preview changes, records, writes and shows nothing");
        if (preview.first.find("status error") != std::string::npos) {
            Outcome o = run_scenario(s, run_command);
            check(!o.messages.empty() &&
                      preview.first == "set ::qorvel_preview_answer [list status error message \"" +
                                           o.messages[0] + "\"]",
                  name + ": the preview answers the command's message: " + preview.first);
            continue;
        }
        const std::string ok = "set ::qorvel_preview_answer [list status ok count ";
        check(preview.well_formed && preview.first.compare(0, ok.size(), ok) == 0,
              name + ": the answer's form: " + preview.first);
        if (random)
            continue; /* Apply draws anew */
        Outcome o = run_scenario(s, run_command);
        int f = std::tolower(s.params[0][0]) - 'x';
        int a1 = std::tolower(s.params[1][0]) - 'x', a2 = std::tolower(s.params[2][0]) - 'x';
        // the scenarios' models are small: every vertex is sampled, in the
        // gathered order; each is found by its coordinates before
        size_t matched = 0, points = preview.points.size() / 5;
        for (size_t j = 0; j < points; j++) {
            const float *q = &preview.points[j * 5];
            for (size_t v = 0; v + 2 < o.before.size(); v += 3) {
                const float *b = &o.before[v], *a = &o.positions[v];
                if (float_bits(b[f]) != float_bits(q[0]) ||
                    (a1 >= 0 && a1 < 3 && float_bits(b[a1]) != float_bits(q[1])) ||
                    (a2 >= 0 && a2 < 3 && float_bits(b[a2]) != float_bits(q[3])))
                    continue;
                if ((a1 < 0 || a1 > 2 || float_bits(a[a1]) == float_bits(q[2])) &&
                    (a2 < 0 || a2 > 2 || float_bits(a[a2]) == float_bits(q[4])))
                    matched++;
                break;
            }
        }
        check(points > 0 && matched == points,
              name + ": " + std::to_string(matched) + " of " + std::to_string(points) +
                  " sampled vertices where Apply puts them");
    }
}

// }======

static bool same_bits(const std::vector<float> &got, const uint32_t *wanted, size_t count,
                      std::string &difference)
{
    if (got.size() != count) {
        difference = std::to_string(got.size()) + " coordinates, expected " + std::to_string(count);
        return false;
    }
    for (size_t i = 0; i < count; i++)
        if (float_bits(got[i]) != wanted[i]) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "coordinate %zu (vertex %zu, %c) is %.9g (0x%08" PRIx32
                          "), Linux gives 0x%08" PRIx32,
                          i, i / 3, "xyz"[i % 3], (double)got[i], float_bits(got[i]), wanted[i]);
            difference = text;
            return false;
        }
    return true;
}

static void check_scenarios()
{
    section("wave runs against the Linux build");
    const int expected_count = (int)(sizeof expected_runs / sizeof expected_runs[0]);
    check(expected_count == scenario_count,
          "expected_linux.inc has a result for every scenario (regenerate it)");
    for (int i = 0; i < scenario_count && i < expected_count; i++) {
        const ExpectedRun &e = expected_runs[i];
        std::string name = scenarios[i].name;
        if (!check_text(e.name, name, "scenario order in expected_linux.inc"))
            continue;
        Outcome o = run_scenario(scenarios[i], run_command);
        std::string difference;
        check(same_bits(o.positions, e.positions, e.count, difference),
              name + ": positions: " + difference);
        check_text(o.debug.empty() ? "" : o.debug[0], e.summary, name + ": summary");
        check(text_hash(o.debug) == e.debug_hash && o.debug.size() == e.debug_count,
              name + ": debug text as on Linux (" + std::to_string(o.debug.size()) + " texts, " +
                  std::to_string(e.debug_count) + " expected)");
        check(o.subdivision_rebuilds == e.subdivision_rebuilds,
              name + ": subdivision rebuilds " + std::to_string(o.subdivision_rebuilds));
        if (o.messages.empty()) {
            check(o.undo_steps == 1 && o.undo_label == "Corrugo",
                  name + ": one undo step \"Corrugo\", got " + std::to_string(o.undo_steps) +
                      " \"" + o.undo_label + "\"");
            check(o.redraws == 1, name + ": one redraw");
            sim::undo();
            check(model_positions(sim::model()) == o.before, name + ": undo restores every position");
        }
    }
}

static void check_random_offsets()
{
    section("random offsets");
    Scenario random = {"random", scenario("objects, extent, replace").build,
                       {"x", "y", "z", "1", "0.5", "0.5", "0", "0", "random", "random", "1", "1"}};
    Outcome o = run_scenario(random, run_command);
    check(o.messages.empty() && o.undo_steps == 1, "random offsets are accepted");
    float offset = -1.0f;
    const char *at = o.debug.empty() ? nullptr : std::strstr(o.debug[0].c_str(), "Offset 1 = ");
    check(at && std::sscanf(at, "Offset 1 = %f", &offset) == 1 && offset >= 0.0f && offset <= 0.99f,
          "summary offset 1 between 0 and 0.99: " + std::to_string(offset));
    // Additive, amplitudes 0.5 on y and z: nothing moves further than that.
    bool bounded = o.positions.size() == o.before.size();
    for (size_t i = 0; bounded && i < o.positions.size(); i++)
        bounded = std::isfinite(o.positions[i]) &&
                  std::fabs((double)o.positions[i] - (double)o.before[i]) <= 0.5 + 1e-6;
    check(bounded, "every coordinate stays within the amplitudes of where it was");
}

// The C library's sine and cosine here against glibc's, on every argument
// the wave took on Linux. The first differences are listed, all are counted;
// they count as failures only through the positions they change, which
// check_scenarios compares.
static void report_math()
{
    section("sin and cos against glibc");
    size_t count = sizeof expected_math / sizeof expected_math[0], differing = 0;
    for (size_t i = 0; i < count; i++) {
        const ExpectedMath &m = expected_math[i];
        double x = double_from_bits(m.input);
        double y = m.function == 's' ? std::sin(x) : std::cos(x);
        if (double_bits(y) == m.output)
            continue;
        if (++differing > 10)
            continue; // counted, not listed
        long long ulps = (long long)(double_bits(y) - m.output);
        std::printf("   %s(%.17g) [0x%016" PRIx64 "]: here 0x%016" PRIx64 ", glibc 0x%016" PRIx64
                    " (%+lld ulp)\n",
                    m.function == 's' ? "sin" : "cos", x, m.input, double_bits(y), m.output, ulps);
    }
    std::printf("   %zu of %zu results differ from glibc's\n", differing, count);
}

static void test_full(PluginDll &dll)
{
    check_entry_texts(dll);
    check_initialisation(dll);
    check_messages();
    check_scenarios();
    check_preview();
    check_random_offsets();
    report_math();
    check(message_boxes().empty() && debugger_texts().empty(),
          "with every host function there, no message box and no debugger output");
}

// }======

// {====== A host function missing ======

static void test_missing(PluginDll &dll)
{
    section("a host without display_status");
    check(!program_exports("display_status") && program_exports("debugf"),
          "this program exports every host function but display_status");
    std::string directory = program_directory();
    HostPluginInit record = {0, directory.c_str()};
    std::vector<std::string> host_messages;
    sim::set_message_sink([&](const std::string &text) { host_messages.push_back(text); });
    check(dll.init(&record) == 0, "AC3DPluginInit returns 0");
    check(dll.init(&record) == 0, "AC3DPluginInit returns 0 again");
    sim::set_message_sink(sim::TextSink());
    check_texts(host_messages, {}, "no message through the host");

    // Said once, in a box and to the debugger, naming the plug-in and what is missing.
    const std::vector<MessageBoxCall> &boxes = message_boxes();
    if (check(boxes.size() == 1, "one message box, got " + std::to_string(boxes.size()))) {
        check_text(boxes[0].caption, "Corrugo", "message box caption");
        check(boxes[0].text.find("Corrugo") != std::string::npos &&
                  boxes[0].text.find("\"display_status\"") != std::string::npos,
              "message box names the plug-in and display_status: " + shown(boxes[0].text));
    }
    const std::vector<std::string> &debugger = debugger_texts();
    if (check(debugger.size() == 1, "one debugger text, got " + std::to_string(debugger.size())))
        check(debugger[0].find("\"display_status\"") != std::string::npos,
              "debugger text names display_status: " + shown(debugger[0]));

    check(tcl_texts().empty(), "no script sourced");
    check(sim::menu_items().empty(), "no menu entry added");
    check(sim::registered_commands().empty(), "no command registered");
    check_entry_texts(dll);
}

// }======

int main(int argc, char *argv[])
{
    std::string mode = argc > 1 ? argv[1] : "full";
    if (mode != "full" && mode != "missing") {
        std::fprintf(stderr, "usage: %s full|missing\n", argv[0]);
        return 2;
    }
    PluginDll dll;
    if (load(dll)) {
        check(watch_system_output(dll), "the plug-in imports GetProcAddress and OutputDebugStringA");
        if (mode == "full")
            test_full(dll);
        else
            test_missing(dll);
        check(dll.exit() == 0, "AC3DPluginExit returns 0");
        unload_plugin_dll(dll);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
