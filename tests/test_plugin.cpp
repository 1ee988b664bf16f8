// The built corrugo.p, loaded by file into the substitute host the way the
// modeller loads it, and driven through the host's Tcl interpreter.
#include "sim_fixture.h"

#include <tcl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

sim::Plugin plugin;

class LoadPlugin : public ::testing::Environment {
public:
    void SetUp() override
    {
        sim::set_message_sink(nullptr);
        std::string error;
        ASSERT_TRUE(sim::load_plugin(CORRUGO_PLUGIN_PATH, plugin, error)) << error;
    }
};
::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new LoadPlugin);

class Plugin : public SimTest {
protected:
    // A flat 3 x 3 grid of quads in the plane y = 0, as object "name".
    acfile::Object *add_grid(const char *name, float x0, acfile::Object *parent = nullptr)
    {
        std::vector<Point> points;
        for (int j = 0; j < 3; j++)
            for (int i = 0; i < 3; i++)
                points.push_back({x0 + (float)i, 0.0f, (float)j});
        acfile::Object *o = add_object(name, points, parent);
        for (uint32_t j = 0; j < 2; j++)
            for (uint32_t i = 0; i < 2; i++)
                add_surface(o, {j * 3 + i, j * 3 + i + 1, j * 3 + i + 4, j * 3 + i + 3});
        return o;
    }
};

TEST_F(Plugin, RegistersTheMenuEntryAndCommandOnce)
{
    HostPluginInit record = {0, "/elsewhere"};
    EXPECT_EQ(plugin.init(&record), 0);
    EXPECT_EQ(plugin.init(&record), 0);
    ASSERT_EQ(sim::menu_items().size(), 1u);
    EXPECT_EQ(sim::menu_items()[0].label, "Corrugo...");
    EXPECT_EQ(sim::menu_items()[0].command, "qorvel_dialog");
    EXPECT_EQ(sim::menu_items()[0].help, "Apply an axis-aligned waveform to the selected vertices");
    ASSERT_EQ(sim::registered_commands().size(), 2u);
    const sim::Registration &r = sim::registered_commands()[0];
    EXPECT_EQ(r.name, "qorvel_go");
    EXPECT_EQ(r.count, 12);
    EXPECT_EQ(r.argument_form, "argv");
    EXPECT_EQ(r.help, "TODO: Show params here");
    EXPECT_EQ(r.description, "Corrugo utility");
    // the preview, beside it, takes the same words
    const sim::Registration &preview = sim::registered_commands()[1];
    EXPECT_EQ(preview.name, "qorvel_preview");
    EXPECT_EQ(preview.count, 12);
    EXPECT_EQ(preview.argument_form, "argv");
    EXPECT_EQ(plugin.exit(), 0);
    EXPECT_EQ(eval("info commands qorvel_go"), "qorvel_go") << "exit removes nothing";
    EXPECT_EQ(eval("info commands qorvel_preview"), "qorvel_preview");
}

TEST_F(Plugin, AnswersTheAboutAndInfoQueries)
{
    EXPECT_EQ(std::string(plugin.about()).rfind("Corrugo - version 1.00 - ", 0), 0u);
    EXPECT_GT(std::string(plugin.about()).size(), std::string("Corrugo - version 1.00 - ").size());
    EXPECT_STREQ(plugin.info(), "Corrugo utility - Applies an axis-aligned waveform to selected vertices");
}

TEST_F(Plugin, SourcesTheDialogScriptFromItsFolder)
{
    EXPECT_EQ(eval("info procs qorvel_dialog"), "qorvel_dialog");
    EXPECT_EQ(eval("info commands qorvel_dialog"), "qorvel_dialog");
}

TEST_F(Plugin, RunsThroughTclInEverySelectionMode)
{
    acfile::Object *a = add_grid("a", 0);
    add_grid("b", 10);
    const char *command = "qorvel_go x y n 1 0.5 0 0 0 0 0 0 0";
    for (int mode : {SELECT_OBJECTS, SELECT_SURFACES, SELECT_VERTICES}) {
        sim::select_all(sim::model(), sim::selection(), mode);
        std::vector<Point> before = positions();
        // the preview first: the same vertices, nothing changed or said
        debug.clear();
        eval("qorvel_preview x y n 1 0.5 0 0 0 0 0 0 0");
        PreviewAnswer preview = preview_answer();
        EXPECT_EQ(preview.status, "ok") << preview.message;
        EXPECT_EQ(preview.count, 18u) << mode;
        EXPECT_EQ(preview.points.size(), 18u) << mode;
        EXPECT_EQ(preview.low, 0.0f);
        EXPECT_EQ(preview.high, 12.0f);
        EXPECT_TRUE(SameBits(positions(), before)) << mode;
        EXPECT_EQ(sim::undo_depth(), 0u);
        EXPECT_EQ(debug, "");
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(sim::observations().refreshes.empty());
        EXPECT_EQ(sim::live_list_nodes(), 0u) << "the preview frees what it gathered";
        debug.clear();
        EXPECT_EQ(eval(command), "") << mode;
        EXPECT_TRUE(messages.empty());
        EXPECT_FALSE(SameBits(positions(), before)) << mode;
        EXPECT_EQ(debug.rfind("Corrugo:\nFrequency axis = x\n", 0), 0u);
        size_t lines = 0;
        for (size_t at = debug.find("\nCorrugo:\nfreqsiz"); at != std::string::npos;
             at = debug.find("\nCorrugo:\nfreqsiz", at + 1))
            lines++;
        EXPECT_EQ(lines, 18u) << "one line per moved vertex, mode " << mode;
        // every vertex where the preview said it would be
        std::vector<Point> after = positions();
        for (const auto &p : preview.points) {
            size_t found = 0;
            for (size_t i = 0; i < after.size(); i++)
                if (bits(before[i][0]) == bits(p[0]) && bits(before[i][1]) == bits(p[1]) &&
                    bits(before[i][2]) == bits(p[3])) {
                    found++;
                    EXPECT_EQ(bits(after[i][1]), bits(p[2])) << mode << " vertex " << i;
                }
            EXPECT_EQ(found, 1u) << mode;
        }
        ASSERT_TRUE(sim::undo());
        EXPECT_TRUE(SameBits(positions(), before));
        sim::observations() = sim::Observations();
    }
    // only the selection moves
    sim::selection().mode = SELECT_VERTICES;
    sim::selection().vertices = {&a->vertices[0], &a->vertices[8]};
    std::vector<Point> before = positions();
    eval("qorvel_go x y n 1 0.5 0 0 0 0 0 1 1");
    std::vector<Point> after = positions();
    for (size_t i = 0; i < after.size(); i++)
        if (i != 0 && i != 8)
            EXPECT_TRUE(SameBits({after[i]}, {before[i]})) << i;
}

TEST_F(Plugin, FaultsLeaveTheModelUntouchedAndRecordNoUndoStep)
{
    add_grid("a", 0);
    sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
    std::vector<Point> before = positions();
    const struct {
        const char *command, *message;
    } faults[] = {
        {"qorvel_go x y n 1 0.5 0 0 0 0 0 0", "Insufficient parameters passed to wave utility"},
        {"qorvel_go", "Insufficient parameters passed to wave utility"},
        {"qorvel_go y y n 1 1 0 0 0 0 0 0 0", "Corrugo : cannot apply frequency and amplitude to same axis"},
        {"qorvel_go x y n 1e39 1 0 0 0 0 0 0 0", "Corrugo : unable to parse 1e39 for frequency"},
        {"qorvel_go x y n 1 1 0 0 0 0x1p3 {} 0 0", "Corrugo : unable to parse  for offset 2"},
        {"qorvel_go x y n 1 1 0 0 0 Random 0 0 0", "Corrugo : unable to parse Random for offset 1"},
        // what Tcl would substitute reaches the preview's answer as it was typed
        {"qorvel_go x y n {[puts $a\"\\]} 1 0 0 0 0 0 0 0",
         "Corrugo : unable to parse [puts $a\"\\] for frequency"},
        {"qorvel_go x Q n 1 1 0 0 0 0 0 0 0", "Corrugo : cannot interpret amplitude axis q"},
    };
    for (const auto &f : faults) {
        messages.clear();
        debug.clear();
        EXPECT_EQ(eval(f.command), "") << "faults are messages, not Tcl errors";
        EXPECT_EQ(messages, std::vector<std::string>{f.message}) << f.command;
        EXPECT_EQ(debug, "") << f.command;
        // the preview's answer carries the same message, and nothing is shown
        messages.clear();
        std::string preview = std::string("qorvel_preview") + (f.command + 9);
        eval(preview);
        PreviewAnswer answer = preview_answer();
        EXPECT_EQ(answer.status, "error") << preview;
        EXPECT_EQ(answer.message, f.message) << preview;
        EXPECT_TRUE(messages.empty()) << preview;
        EXPECT_EQ(debug, "") << preview;
    }
    sim::select_none(sim::selection());
    messages.clear();
    eval("qorvel_preview x y n 1 1 0 0 0 0 0 0 0");
    EXPECT_EQ(preview_answer().message, "Corrugo : no vertices selected");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(debug, "") << "the preview writes no summary";
    eval("qorvel_go x y n 1 1 0 0 0 0 0 0 0");
    EXPECT_EQ(messages, std::vector<std::string>{"Corrugo : no vertices selected"});
    EXPECT_EQ(debug.rfind("Corrugo:\nFrequency axis = x\n", 0), 0u) << "the summary comes first";
    EXPECT_TRUE(SameBits(positions(), before));
    EXPECT_EQ(sim::undo_depth(), 0u);
    EXPECT_EQ(sim::observations().redraws, 0);
}

TEST_F(Plugin, AGroupWithVerticesOnlyInItsChildrenMovesThemAll)
{
    acfile::Object *group = add_object("group", {});
    add_grid("left", 0, group);
    add_grid("right", 3, group);
    sim::selection().mode = SELECT_OBJECTS;
    sim::selection().objects = {group};
    std::vector<Point> before = positions();
    eval("qorvel_go x y n 1 1 0 100 0 0 0 0 0");
    std::vector<Point> after = positions();
    // decay 100: full amplitude at the lowest vertex, none at the highest
    EXPECT_EQ(after[0][1], 0.0f);
    EXPECT_EQ(after[5 + 9][1], 0.0f);
    int moved = 0;
    for (size_t i = 0; i < after.size(); i++)
        moved += after[i][1] != before[i][1];
    EXPECT_GT(moved, 8);
    ASSERT_EQ(sim::undo_depth(), 1u);
    EXPECT_EQ(eval("ac3d undo"), "");
    EXPECT_TRUE(SameBits(positions(), before));
}

// The module asks the loading program for its tick count, so a pinned tick
// reaches it whatever the compiler inlined.
TEST_F(Plugin, RandomOffsetsFollowThePinnedTickBitForBit)
{
    acfile::Object *a = add_object("A", {{0, 1, 0}, {0.37f, 1.1f, -0.5f}, {1.11f, 1.3f, -1.5f}});
    acfile::Object *b = add_object("B", {{0.74f, 1.2f, -1.0f}});
    sim::selection().mode = SELECT_VERTICES;
    sim::selection().vertices = {&a->vertices[0], &a->vertices[1], &b->vertices[0],
                                       &a->vertices[2]};
    sim::pin_tick(1000);
    // the preview draws as Apply draws, from the same tick
    eval("qorvel_preview x y z 2 0.5 0.5 0 0 random random 1 0");
    PreviewAnswer preview = preview_answer();
    eval("qorvel_go x y z 2 0.5 0.5 0 0 random random 1 0");
    const uint32_t expected[4][3] = {{0x00000000, 0x3f856d76, 0x3ebdc26a},
                                     {0x3ebd70a4, 0x3fc14fea, 0xbf79d8c2},
                                     {0x3f8e147b, 0x3fdf8c18, 0xbfc48650},
                                     {0x3f3d70a4, 0x3f558bac, 0xbf0517ae}};
    std::vector<Point> after = positions();
    for (size_t i = 0; i < 4; i++)
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(bits(after[i][k]), expected[i][k]) << "vertex " << i << " axis " << k;
    // in the selection's order: A, A, B, A
    ASSERT_EQ(preview.points.size(), 4u);
    const size_t order[4] = {0, 1, 3, 2};
    for (size_t j = 0; j < 4; j++) {
        EXPECT_EQ(bits(preview.points[j][0]), expected[order[j]][0]) << j;
        EXPECT_EQ(bits(preview.points[j][2]), expected[order[j]][1]) << j;
        EXPECT_EQ(bits(preview.points[j][4]), expected[order[j]][2]) << j;
    }
}

// More vertices than a preview answers with: 2,000 of them, spread over the
// gathered order, the first and last among them, and the lowest and highest
// along the frequency axis kept wherever they lie; each where Apply puts it.
TEST_F(Plugin, APreviewOfManyVerticesSamplesTwoThousandWithTheEndsKept)
{
    std::vector<Point> points;
    for (int i = 0; i < 5001; i++)
        points.push_back({(float)(i + 10), (float)(i % 7) * 0.25f, -(float)(i % 3)});
    points[1][0] = -5;     // the lowest, where no spread sample falls
    points[4999][0] = 1e4; // the highest, likewise
    add_object("line", points);
    sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
    const std::string words = " x y z 3 1 0.5 20 40 10 0 0 0";
    std::vector<Point> before = positions();
    eval("qorvel_preview" + words);
    PreviewAnswer preview = preview_answer();
    EXPECT_TRUE(SameBits(positions(), before));
    EXPECT_EQ(sim::undo_depth(), 0u);
    EXPECT_EQ(preview.count, 5001u);
    EXPECT_EQ(preview.low, -5.0f);
    EXPECT_EQ(preview.high, 1e4f);
    ASSERT_EQ(preview.points.size(), 2000u);
    EXPECT_EQ(preview.points.front()[0], 10.0f) << "the first gathered";
    EXPECT_EQ(preview.points[1][0], -5.0f) << "the lowest, in its place";
    EXPECT_EQ(preview.points[1998][0], 1e4f) << "the highest, in its place";
    EXPECT_EQ(preview.points.back()[0], 5010.0f) << "the last gathered";
    float last = 0;
    size_t widest = 0;
    for (size_t j = 0; j < preview.points.size(); j++) {
        float x = preview.points[j][0];
        if (x == -5.0f || x == 1e4f)
            continue;
        EXPECT_GT(x, last) << "in the gathered order, each once: " << j;
        if (j > 0)
            widest = std::max(widest, (size_t)(x - last));
        last = x;
    }
    EXPECT_LE(widest, 3u) << "evenly spread";

    eval("qorvel_go" + words);
    std::vector<Point> after = positions();
    for (const auto &p : preview.points) {
        size_t i = p[0] == -5.0f ? 1 : p[0] == 1e4f ? 4999 : (size_t)p[0] - 10;
        EXPECT_EQ(bits(p[1]), bits(before[i][1])) << i;
        EXPECT_EQ(bits(p[3]), bits(before[i][2])) << i;
        EXPECT_EQ(bits(p[2]), bits(after[i][1])) << i;
        EXPECT_EQ(bits(p[4]), bits(after[i][2])) << i;
    }
}

// A subdivided object is rebuilt by Apply only: the preview asks the host for
// nothing but the selection.
TEST_F(Plugin, APreviewAsksForNoRefreshAndNoRebuild)
{
    add_grid("smooth", 0)->subdivided = true;
    sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
    eval("qorvel_preview x y n 1 1 0 0 0 random 0 1 0");
    EXPECT_EQ(preview_answer().status, "ok");
    EXPECT_TRUE(sim::observations().refreshes.empty());
    EXPECT_EQ(sim::observations().subdivision_rebuilds, 0);
    EXPECT_EQ(sim::undo_depth(), 0u);
    EXPECT_EQ(debug, "");
    std::string result = eval("qorvel_preview x z n 1 1 0 0 0 0 0 1 0");
    EXPECT_EQ(result, eval("set ::qorvel_preview_answer"))
        << "in this host the command's result is the answer too";
}

TEST_F(Plugin, TheHostCommandAc3dRejectsUnknownSubcommands)
{
    EXPECT_EQ(eval("ac3d frobnicate"),
              "error: bad subcommand \"frobnicate\": must be remake_subdivisions or undo");
    EXPECT_EQ(eval("ac3d"), "error: wrong # args: should be \"ac3d subcommand\"");
    EXPECT_EQ(eval("ac3d undo"), "") << "nothing to undo is not an error";
}

// A copy of the plug-in in a folder whose name Tcl would otherwise
// substitute: the script still loads as a plain file.
TEST_F(Plugin, AnyFolderNameLoadsTheScriptAsAPlainFile)
{
    fs::path dir = fs::temp_directory_path() /
                   ("corrugo [puts injected] $env(HOME) \"q\" {" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::copy_file(CORRUGO_PLUGIN_PATH, dir / "corrugo.p", fs::copy_options::overwrite_existing);
    std::ofstream(dir / "corrugo.tcl") << "set ::loaded_from [info script]\n"
                                       << "proc qorvel_dialog {} {}\n";
    sim::Plugin copy;
    std::string error;
    ASSERT_TRUE(sim::load_plugin((dir / "corrugo.p").string(), copy, error)) << error;
    EXPECT_EQ(eval("set ::loaded_from"), dir.string() + "/corrugo.tcl");
    fs::remove_all(dir);
}

using InitFunction = int32_t (*)(HostPluginInit *);

// The initialisation entry of a fresh copy of the module in "dir", loaded by
// hand without being initialised, so that its first initialisation can be
// watched; null when it cannot be loaded.
InitFunction fresh_module(const fs::path &dir)
{
    fs::create_directories(dir);
    fs::copy_file(CORRUGO_PLUGIN_PATH, dir / "corrugo.p", fs::copy_options::overwrite_existing);
    void *handle = dlopen((dir / "corrugo.p").c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle ? (InitFunction)dlsym(handle, "AC3DPluginInit") : nullptr;
}

TEST_F(Plugin, TheRecordsFolderTextIsNeverChanged)
{
    // the copy is unbackslashed, never the host's own text
    fs::path dir = fs::temp_directory_path() / ("corrugo-record-" + std::to_string(getpid()));
    InitFunction init = fresh_module(dir);
    ASSERT_NE(init, nullptr);
    char text[] = "C:\\Program Files\\host\\plugins";
    HostPluginInit record = {0, text};
    EXPECT_EQ(init(&record), 0);
    EXPECT_STREQ(text, "C:\\Program Files\\host\\plugins");
    HostPluginInit empty = {0, nullptr};
    EXPECT_EQ(init(&empty), 0) << "a second call does nothing";
    fs::remove_all(dir);
}

// A folder given with backslashes, as the modeller gives it on Windows: the
// script is sourced from the folder with slashes.
TEST_F(Plugin, TheFolderIsUnbackslashedBeforeTheScriptIsSourced)
{
    fs::path dir = fs::temp_directory_path() / ("corrugo-backslash-" + std::to_string(getpid()));
    InitFunction init = fresh_module(dir);
    ASSERT_NE(init, nullptr);
    fs::create_directories(dir / "sub" / "deeper");
    std::ofstream(dir / "sub" / "deeper" / "corrugo.tcl") << "set ::loaded_from [info script]\n"
                                                          << "proc qorvel_dialog {} {}\n";
    std::string text = dir.string() + "\\sub\\deeper";
    HostPluginInit record = {0, text.c_str()};
    EXPECT_EQ(init(&record), 0);
    EXPECT_EQ(eval("set ::loaded_from"), (dir / "sub" / "deeper" / "corrugo.tcl").string());
    fs::remove_all(dir);
}

TEST_F(Plugin, AFirstInitialisationWithoutAFolderStillRegisters)
{
    fs::path dir = fs::temp_directory_path() / ("corrugo-nofolder-" + std::to_string(getpid()));
    InitFunction init = fresh_module(dir);
    ASSERT_NE(init, nullptr);
    size_t menu = sim::menu_items().size(), commands = sim::registered_commands().size();
    HostPluginInit record = {0, nullptr};
    EXPECT_EQ(init(&record), 0);
    EXPECT_EQ(sim::menu_items().size(), menu + 1);
    EXPECT_EQ(sim::registered_commands().size(), commands + 2);
    fs::remove_all(dir);
}

} // namespace
