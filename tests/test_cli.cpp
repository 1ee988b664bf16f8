// corrugo-host from the outside: options, selection, exit statuses, messages
// and what it writes.
#include "host_folder.h"
#include "shell.h"
#include "acfile/acfile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace host_folder;

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Each test runs corrugo-host in a folder of its own.
class Cli : public HostFolder {
protected:
    // Indices of the vertices whose positions differ between two files.
    std::vector<size_t> moved(const char *a, const char *b) const
    {
        auto pa = positions(a), pb = positions(b);
        std::vector<size_t> m;
        for (size_t i = 0; i < pa.size() && i < pb.size(); i++)
            if (pa[i] != pb[i])
                m.push_back(i);
        return m;
    }
};

const char WAVE[] = "qorvel_go x y n 3 0.2 0 0 0 0 0 0 0";
const char TUBE[] = "qorvel_go z x y 1 0.3 0.3 0 0 0 0 1 1";

// Three objects: "a" at the top with a child "inner", then "b".
const char NESTED[] = "AC3Db\n"
                      "OBJECT world\nkids 2\n"
                      "OBJECT poly\nname \"a\"\nnumvert 2\n0 0 0\n1 0 0\nnumsurf 1\nSURF 0x20\nmat 0\nrefs 2\n0 0 0\n1 0 0\nkids 1\n"
                      "OBJECT poly\nname \"inner\"\nnumvert 2\n2 0 0\n3 0 0\nnumsurf 0\nkids 0\n"
                      "OBJECT poly\nname \"b\"\nnumvert 2\n4 0 0\n5 0 0\nnumsurf 1\nSURF 0x20\nmat 0\nrefs 2\n0 0 0\n1 0 0\nkids 0\n";

TEST_F(Cli, HelpShowsUsageWithExamples)
{
    for (const char *flag : {"-h", "--help"}) {
        Outcome r = run({flag});
        EXPECT_EQ(r.status, 0);
        // The named form first.
        EXPECT_EQ(r.out.rfind("Usage: corrugo-host MODEL.ac... --along AXIS --sine AXIS --cycles N", 0), 0u);
        EXPECT_NE(r.out.find("Examples:"), std::string::npos);
    }
    // Each option's help starts at column 20, its further lines too; a label
    // that reaches column 20 (18 letters or more) has its help on the lines
    // after it.
    const std::string out = run({"--help"}).out;
    for (const char *lines :
         {"\n  --sine AXIS       the axis the sine wave moves: x, y, z or n (none, the\n"
          "                    default)\n  --cosine AXIS     ",
          "\n  -o FILE           write the model to FILE after the commands (FILE may be\n"
          "                    MODEL.ac itself; - for standard output); written whole or\n"
          "                    not at all, and only when every command ran without a\n"
          "                    message or Tcl error\n  -i, --in-place    ",
          "\n  --seed N, --tick N\n"
          "                    start the random offsets' draw at N (0 to 4294967295):\n"})
        EXPECT_NE(out.find(lines), std::string::npos) << lines;
}

// The program finds its libraries beside itself, never in the folder it is
// run from (an empty entry of its run path would look there).
TEST_F(Cli, TheFolderItRunsFromLendsNoLibraries)
{
    for (const char *library : {"libtcl8.6.so", "libtk8.6.so", "libcorrugo_sim.so"})
        put(library, "not a library");
    Outcome r = run({"--version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("corrugo-host ", 0), 0u);
}

TEST_F(Cli, UsageErrorsExitTwoAndSayWhatWasWrong)
{
    example("roof.ac");
    const struct {
        std::vector<std::string> args;
        const char *says;
        int status = 2; /* a mistake in the command line; 3: a file that cannot be read */
    } cases[] = {
        {{}, "corrugo-host: no model file given\n"},
        {{"roof.ac", "--bogus"}, "corrugo-host: unknown option --bogus\n"},
        {{"roof.ac", "---x=1"}, "corrugo-host: unknown option ---x\n"},
        {{"roof.ac", "-c"}, "corrugo-host: option -c needs a value\n"},
        {{"roof.ac", "--select", "edges"}, "corrugo-host: --select takes objects, surfaces or vertices, not \"edges\"\n"},
        {{"roof.ac", "--tick", "-1"}, "corrugo-host: --tick takes a whole number from 0 to 4294967295, not \"-1\"\n"},
        {{"roof.ac", "--tick=4294967296"}, "corrugo-host: --tick takes a whole number from 0 to 4294967295, not \"4294967296\"\n"},
        {{"roof.ac", "--tick="}, "corrugo-host: --tick takes a whole number from 0 to 4294967295, not \"\"\n"},
        {{"roof.ac", "--seed", "7a"}, "corrugo-host: --seed takes a whole number from 0 to 4294967295, not \"7a\"\n"},
        {{"roof.ac", "--undo=yes"}, "corrugo-host: option --undo takes no value\n"},
        {{"roof.ac", "--threads", "0"}, "corrugo-host: --threads takes a whole number from 1 to 1024, not \"0\"\n"},
        {{"roof.ac", "--threads=1025"}, "corrugo-host: --threads takes a whole number from 1 to 1024, not \"1025\"\n"},
        {{"roof.ac", "--threads", "two"}, "corrugo-host: --threads takes a whole number from 1 to 1024, not \"two\"\n"},
        {{"roof.ac", "-c", WAVE}, "corrugo-host: nothing would be written: -o FILE writes the model to FILE, -o - "
                                  "to standard output, -i each model to its own file; --report prints what moved\n"},
        {{"roof.ac", "other.ac", "-o", "out.ac"}, "corrugo-host: -o writes one model, not 2; -i saves each to its own file\n"},
        {{"roof.ac", "-i", "-o", "out.ac"},
         "corrugo-host: -i and -o cannot be given together: -i saves each model to its own file\n"},
        {{"-", "roof.ac", "-", "--report"}, "corrugo-host: standard input can be read only once\n"},
        {{"roof.ac", "-", "-i"}, "corrugo-host: -i saves each model to its own file, and standard input has none; "
                                 "use -o FILE or -o -\n"},
        {{"roof.ac", "--in-place", "./roof.ac"}, "corrugo-host: -i: ./roof.ac is a model given before (the same file)\n"},
        {{"--gui", "roof.ac", "roof.ac"}, "corrugo-host: the viewer opens one model, not 2\n"},
        {{"roof.ac", "--", "-o"}, "corrugo-host: nothing would be written: "},
        {{"roof.ac", "--in", "chimney", "-o", "out.ac"}, "corrugo-host: roof.ac: no object named \"chimney\"\n"},
        {{"missing.ac", "-o", "out.ac"}, "corrugo-host: missing.ac: cannot open", 3},
        {{"roof.ac", "--plugin", "nowhere/corrugo.p", "-i"}, "corrugo-host: cannot load the plug-in: ", 3},
    };
    for (const auto &c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << r.err;
    }
}

TEST_F(Cli, WritesOnlyTheVertexLinesThatMoved)
{
    example("roof.ac");
    Outcome r = run({"roof.ac", "-c", WAVE, "-o", "waved.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream a(after("roof.ac")), b(after("waved.ac"));
    std::string la, lb;
    size_t lines = 0, changed = 0;
    while (std::getline(a, la) && std::getline(b, lb)) {
        lines++;
        if (la != lb) {
            changed++;
            EXPECT_EQ(std::count(lb.begin(), lb.end(), ' '), 2) << "a vertex line: " << lb;
        }
    }
    EXPECT_EQ(lines, 2619u);
    EXPECT_GT(changed, 300u);
    EXPECT_LT(changed, 41u * 9u + 1);
}

TEST_F(Cli, WaveThenUndoGivesTheFileBackByteForByte)
{
    example("tube.ac");
    Outcome r = run({"tube.ac", "-c", "qorvel_go z x y 1 0.3 0.3 0 0 0 0 1 1", "--undo", "-o", "same.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("same.ac"), after("tube.ac"));
    // and in place, with no command at all
    r = run({"tube.ac", "-o", "tube.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("tube.ac"), slurp(fs::path(CORRUGO_EXAMPLES) / "tube.ac"));
    // Names with "=" in them: only an option's name ends at its first "=".
    fs::copy_file(dir / "work" / "tube.ac", dir / "work" / "a=b.ac");
    r = run({"a=b.ac", "-c", "qorvel_go z x y 1 0.3 0.3 0 0 0 0 1 1", "--undo", "-o", "c=d.ac",
             "--debug=e=f.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("c=d.ac"), after("tube.ac"));
    EXPECT_EQ(after("e=f.txt").rfind("Corrugo:\n", 0), 0u);
}

TEST_F(Cli, AMessageExitsOneAndWritesNothing)
{
    example("roof.ac");
    Outcome r = run({"roof.ac", "-c", "qorvel_go x x n 3 0.2 0 0 0 0 0 0 0", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "corrugo-host: Corrugo : cannot apply frequency and amplitude to same axis\n");
    EXPECT_FALSE(fs::exists(dir / "after" / "out.ac"));

    r = run({"roof.ac", "--in", "roof panel", "--select", "surfaces", "-c", "ac3d nothing", "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "corrugo-host: -c ac3d nothing: bad subcommand \"nothing\": must be "
                     "remake_subdivisions or undo\n");
    EXPECT_FALSE(fs::exists(dir / "after" / "out.ac"));

    // what a command printed before, to its last byte
    r = run({"roof.ac", "-c", "puts -nonewline {before it}", "-c", "ac3d nothing", "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "before it");
}

TEST_F(Cli, ABrokenModelExitsTwoNamingItsLineAndWritesNothing)
{
    const struct {
        std::string text;
        const char *says;
    } cases[] = {
        {"", "corrugo-host: model.ac:1: expected the AC3D header (such as AC3Db), found end of file\n"},
        {std::string("\x7f" "ELF\x02\x01\x01") + std::string(3, '\0'),
         "corrugo-host: model.ac:1: expected the AC3D header (such as AC3Db), found "
         "\"\\x7fELF\\x02\\x01\\x01\\x00\\x00\\x00\"\n"},
        {"AC3Db\nOBJECT poly\nnumvert 3\n0 0 0\n",
         "corrugo-host: model.ac:3: expected 3 vertex lines, found end of file after 1\n"},
        {std::string("AC3Db\nOBJECT poly\nnumvert 1\n0 0") + '\0' + "0\nkids 0\n",
         "corrugo-host: model.ac:4: expected 3 numbers for a vertex, found \"0 0\\x000\"\n"},
        {"AC3Db\nOBJECT poly\nnumvert 1\n1e39 0 0\nkids 0\n",
         "corrugo-host: model.ac:4: expected 3 numbers for a vertex within a float's range, found \"1e39 0 0\"\n"},
        {"AC3Db\nOBJECT poly\nnumvert 2\n1.0 abc 2.0\n0 0 0\nkids 0\n",
         "corrugo-host: model.ac:4: expected 3 numbers for a vertex, found \"1.0 abc 2.0\"\n"},
    };
    for (const auto &c : cases) {
        put("model.ac", c.text);
        Outcome r = run({"model.ac", "-c", TUBE, "-o", "model.ac"});
        EXPECT_EQ(r.status, 3) << c.says;
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(left(), std::vector<std::string>{"model.ac"});
        EXPECT_TRUE(kept("model.ac", c.text));
    }
    fs::remove(dir / "work" / "model.ac");
    fs::create_directories(dir / "work" / "model.ac");
    Outcome r = run({"model.ac", "-o", "out.ac"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: model.ac: cannot read: Is a directory\n");
}

TEST_F(Cli, SelectionModesAndNames)
{
    put("nested.ac", NESTED);
    const char *wave = "qorvel_go x y n 1 1 0 0 0 12.5 0 1 1";
    const struct {
        std::vector<std::string> args;
        std::vector<size_t> moved;
    } cases[] = {
        {{"--select", "objects"}, {0, 1, 2, 3, 4, 5}},
        {{"--in", "inner"}, {2, 3}},
        {{"--in", "a"}, {0, 1, 2, 3}},
        {{"--in", "inner", "--in", "b"}, {2, 3, 4, 5}},
        {{"--select", "vertices", "--in", "a"}, {0, 1, 2, 3}},
        {{"--select", "vertices", "--in", "inner"}, {2, 3}},
        {{"--select", "surfaces"}, {0, 1, 4, 5}}, // inner has no surfaces
        {{"--select", "surfaces", "--in", "b"}, {4, 5}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"nested.ac", "-c", wave, "-o", "out.ac"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(moved("nested.ac", "out.ac"), c.moved) << ::testing::PrintToString(c.args);
    }
    Outcome r = run({"nested.ac", "--select", "surfaces", "--in", "inner", "-c", wave, "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "corrugo-host: Corrugo : no vertices selected\n");
}

TEST_F(Cli, APinnedTickMakesRandomOffsetsReproducible)
{
    example("fence.ac");
    const char *wave = "qorvel_go y x n 2 0.2 0 0 0 random 0 1 0";
    ASSERT_EQ(run({"fence.ac", "--tick", "42", "-c", wave, "-o", "one.ac"}).status, 0);
    ASSERT_EQ(run({"fence.ac", "--tick=42", "-c", wave, "-o", "two.ac"}).status, 0);
    ASSERT_EQ(run({"fence.ac", "--tick", "43", "-c", wave, "-o", "three.ac"}).status, 0);
    ASSERT_EQ(run({"fence.ac", "--seed", "42", "-c", wave, "-o", "four.ac"}).status, 0);
    EXPECT_EQ(after("one.ac"), after("two.ac"));
    EXPECT_NE(after("one.ac"), after("three.ac"));
    EXPECT_EQ(after("one.ac"), after("four.ac"));
    // Leading zeros count for nothing, however many.
    ASSERT_EQ(run({"fence.ac", "--tick", "0", "-c", wave, "-o", "zero.ac"}).status, 0);
    Outcome r = run({"fence.ac", "--tick", "000000000000", "-c", wave, "-o", "zeros.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("zero.ac"), after("zeros.ac"));
}

// Several models a run, the plug-in loaded once: each saved in place is, to
// the byte, what a run of its own writes; one that fails is named, left as
// it was, and the others are still done; the status says one failed.
TEST_F(Cli, SeveralModelsEachAsARunOfItsOwn)
{
    const char *wave = "qorvel_go y x n 2 0.2 0 0 0 random 0 1 0";
    const std::vector<std::string> models = {"fence.ac", "roof.ac", "tube.ac", "cushion.ac"};
    std::vector<std::string> alone;
    for (const std::string &m : models) {
        example(m.c_str());
        ASSERT_EQ(run({m, "--seed", "7", "-c", wave, "-o", "alone.ac"}).status, 0);
        alone.push_back(after("alone.ac"));
    }
    fs::remove(dir / "work" / "alone.ac");
    const std::string broken = "AC3Db\nOBJECT poly\nnumvert 1\n0 0\nkids 0\n";
    put("-broken.ac", broken);
    Outcome r = run({"--seed", "7", "-c", wave, "-i", models[0], models[1], "--", "-broken.ac", models[2], models[3]});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: -broken.ac:4: expected 3 numbers for a vertex, found \"0 0\"\n");
    for (size_t i = 0; i < models.size(); i++)
        EXPECT_TRUE(after(models[i].c_str()) == alone[i]) << models[i];
    EXPECT_TRUE(kept("-broken.ac", broken));
    EXPECT_EQ(left(), (std::vector<std::string>{"-broken.ac", "cushion.ac", "fence.ac", "roof.ac", "tube.ac"}));
    // A command that fails on one model: status 1, that model untouched.
    put("empty.ac", "AC3Db\nOBJECT world\nkids 0\n");
    const std::string roof = after("roof.ac");
    r = run({"-i", "empty.ac", "roof.ac", "-c", "qorvel_go x y n 1 1 0 0 0 0 0 0 0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "corrugo-host: Corrugo : no vertices selected\n");
    EXPECT_TRUE(kept("empty.ac", "AC3Db\nOBJECT world\nkids 0\n"));
    EXPECT_NE(after("roof.ac"), roof);
    put("flat.ac", "AC3Db\nOBJECT poly\nnumvert 2\n0 0 0\n0 0 0\nkids 0\n");
    // The report names each model.
    r = run({"--report", "flat.ac", "flat.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string each = "vertices: 2, moved: 0\nbounding box before: (0, 0, 0) to (0, 0, 0)\n"
                             "bounding box after : (0, 0, 0) to (0, 0, 0)\n";
    EXPECT_EQ(r.out, "model: flat.ac\n" + each + "model: flat.ac\n" + each);
}

TEST_F(Cli, DebugOutputGoesWhereItIsSent)
{
    example("cushion.ac");
    Outcome r = run({"cushion.ac", "--debug", "debug.txt", "-c", WAVE, "-o", "out.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string debug = after("debug.txt");
    EXPECT_EQ(debug.rfind("Corrugo:\nFrequency axis = x\n", 0), 0u);
    EXPECT_NE(debug.find("\nCorrugo:\nfreqsiz = 2 f = 0 Math = 1 Freq units = false\n"), std::string::npos);
    // A new file, as any new file: 0666 less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(unsigned(fs::status(dir / "work" / "debug.txt").permissions()), 0666u & ~mask);
    // An old one is emptied, even when the run writes nothing to it.
    put("debug.txt", "from before");
    r = run({"cushion.ac", "--debug", "debug.txt", "-c", "set x 1", "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("debug.txt"), "");
    r = run({"cushion.ac", "--debug", "-", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.err, debug);
    // A device loses nothing by taking it, even the one standard input reads.
    r = run({"cushion.ac", "--debug", "/dev/null", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Debug output that cannot be written stops the run before the model is.
    fs::remove(dir / "work" / "out.ac");
    r = run({"cushion.ac", "--debug", "/dev/full", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: /dev/full: No space left on device\n");
    EXPECT_FALSE(fs::exists(dir / "after" / "out.ac"));
    r = run({"cushion.ac", "--debug", "no/such/folder/debug.txt", "-o", "out.ac"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: no/such/folder/debug.txt: No such file or directory\n");
}

TEST_F(Cli, ReportCountsMovedVerticesAndTheBoundingBox)
{
    example("roof.ac");
    Outcome r = run({"roof.ac", "--report", "-c", "qorvel_go x y n 5 0.15 0 0 0 12.5 0 0 0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("vertices: 369, moved: 369\n"
                          "bounding box before: (0, 0, 0) to (10, 0, 4)\n",
                          0),
              0u)
        << r.out;    // A NaN coordinate takes no part in the box, even in the first vertex.
    put("nan.ac", "AC3Db\nOBJECT poly\nnumvert 2\nnan 0 0\n1 2 3\nkids 0\n");
    r = run({"nan.ac", "--report"});
    EXPECT_EQ(r.out, "vertices: 2, moved: 0\nbounding box before: (1, 0, 0) to (1, 2, 3)\n"
                     "bounding box after : (1, 0, 0) to (1, 2, 3)\n");
}

TEST_F(Cli, ACopyElsewhereIsFoundWithPlugin)
{
    example("roof.ac");
    fs::create_directories(dir / "work" / "plug ins");
    fs::copy_file(CORRUGO_PLUGIN_PATH, dir / "work" / "plug ins" / "corrugo.p");
    std::ofstream(dir / "work" / "plug ins" / "corrugo.tcl") << "proc qorvel_dialog {} {}\n";
    Outcome r = run({"roof.ac", "--plugin", "plug ins/corrugo.p", "-c", "qorvel_dialog", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;

    // By its bare name, in the working folder, its script is found there too.
    fs::copy_file(CORRUGO_PLUGIN_PATH, dir / "work" / "corrugo.p");
    std::ofstream(dir / "work" / "corrugo.tcl") << "proc qorvel_dialog {} {}\n";
    r = run({"roof.ac", "--plugin", "corrugo.p", "-c", "qorvel_dialog", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;

    // A library without the plug-in's entry points is refused.
    fs::copy_file(CORRUGO_SIM_PATH, dir / "work" / "plug ins" / "other.p");
    r = run({"roof.ac", "--plugin", "plug ins/other.p", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("plug ins/other.p: not a plug-in: an entry point AC3DPlugin... is missing"),
              std::string::npos)
        << r.err;
}

/* {====== Named wave options ====== */

class Named : public Cli {
protected:
    std::string built(std::vector<std::string> args)
    {
        args.push_back("--print-command");
        Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }
};

TEST_F(Named, EachOptionFillsItsWordOfTheCommand)
{
    /* an amplitude of 0 given, as replacing without one is refused */
    const std::vector<std::string> base = {"--along", "x", "--sine", "y", "--cycles", "5", "--amplitude", "0"};
    const struct {
        std::vector<std::string> args;
        const char *command;
    } cases[] = {
        {{}, "qorvel_go x y n 5 0 0 0 0 0 0 0 0"},
        {{"--cosine", "z"}, "qorvel_go x y z 5 0 0 0 0 0 0 0 0"},
        {{"--amplitude", "0.15"}, "qorvel_go x y n 5 0.15 0.15 0 0 0 0 0 0"},
        {{"--amplitude", "1", "--sine-amplitude", "2"}, "qorvel_go x y n 5 2 1 0 0 0 0 0 0"},
        {{"--cosine-amplitude=3", "--amplitude", "1"}, "qorvel_go x y n 5 1 3 0 0 0 0 0 0"},
        {{"--decay", "50"}, "qorvel_go x y n 5 0 0 50 50 0 0 0 0"},
        {{"--sine-decay", "10", "--cosine-decay", "20"}, "qorvel_go x y n 5 0 0 10 20 0 0 0 0"},
        {{"--offset", "random", "--cosine-offset", "25"}, "qorvel_go x y n 5 0 0 0 0 random 25 0 0"},
        {{"--sine-offset", "12.5"}, "qorvel_go x y n 5 0 0 0 0 12.5 0 0 0"},
        {{"--add"}, "qorvel_go x y n 5 0 0 0 0 0 0 1 0"},
        // The texts go to the command as they are, each as one word.
        {{"--along", "Z", "--sine", "n", "--cosine", "x y"}, "qorvel_go Z n {x y} 5 0 0 0 0 0 0 0 0"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = base;
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(built(args), std::string(c.command) + "\n") << ::testing::PrintToString(c.args);
    }
    EXPECT_EQ(built({"--along", "y", "--cosine", "x", "--per-unit", "2.5cm", "--cosine-amplitude", "0"}),
              "qorvel_go y n x 2.5cm 0 0 0 0 0 0 0 1\n");
}

TEST_F(Named, OptionsThatDoNotMakeAWaveAreUsageErrors)
{
    example("roof.ac");
    const struct {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"--sine", "y", "--cycles", "5"}, "the wave options need --along AXIS, the axis the wave runs along"},
        {{"--along", "x", "--cycles", "5", "--amplitude", "1"},
         "a wave needs --sine AXIS or --cosine AXIS (or both): the axes it moves"},
        {{"--along", "x", "--sine", "y"},
         "a wave needs --cycles N (over the selection) or --per-unit N (per model unit)"},
        {{"--along", "x", "--sine", "y", "--cycles", "1", "--per-unit", "1"},
         "--cycles and --per-unit cannot be given together"},
        {{"--add"}, "the wave options need --along AXIS, the axis the wave runs along"},
        {{"--print-command"}, "--print-command needs the wave options (--along and the others)"},
        {{"--along", "x", "--sine", "y", "--cycles", "5", "--add=yes"}, "option --add takes no value"},
        {{"--along"}, "option --along needs a value"},
        // Replacing positions by a wave without an amplitude would flatten
        // the selection onto one plane.
        {{"--along", "x", "--sine", "y", "--cycles", "5"},
         "--sine y without an amplitude would put every selected vertex on one plane: give --amplitude A, or "
         "--add to add the wave to the positions"},
        {{"--along", "x", "--sine", "y", "--cosine", "z", "--cycles", "5", "--sine-amplitude", "1"},
         "--cosine z without an amplitude would put every selected vertex on one plane: give --amplitude A, or "
         "--add to add the wave to the positions"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"roof.ac", "-o", "out.ac"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err, std::string("corrugo-host: ") + c.says + "\n(see corrugo-host --help)\n");
        EXPECT_FALSE(fs::exists(dir / "after" / "out.ac"));
    }
    // The command's own checks still apply to the words.
    Outcome r = run({"roof.ac", "--along", "x", "--sine", "x", "--cycles", "1", "--amplitude", "1", "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "corrugo-host: Corrugo : cannot apply frequency and amplitude to same axis\n");
}

TEST_F(Named, TheNamedFormWritesTheBytesOfThePositionalOne)
{
    example("roof.ac");
    example("tube.ac");
    const struct {
        std::vector<std::string> named;
        const char *model, *positional;
    } cases[] = {
        {{"--along", "x", "--sine", "y", "--cycles", "5", "--amplitude", "0.15"}, "roof.ac",
         "qorvel_go x y n 5 0.15 0 0 0 0 0 0 0"},
        {{"--along", "z", "--sine", "x", "--cosine", "y", "--per-unit", "1", "--amplitude", "0.3",
          "--sine-decay", "50", "--cosine-offset", "25", "--add", "--select", "vertices"},
         "tube.ac", "qorvel_go z x y 1 0.3 0.3 50 0 0 25 1 1"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> named = {c.model, "-o", "named.ac"}, positional = named;
        named.insert(named.end(), c.named.begin(), c.named.end());
        positional.back() = "positional.ac";
        positional.insert(positional.end(), {"-c", c.positional});
        if (c.named.back() == "vertices")
            positional.insert(positional.end(), {"--select", "vertices"});
        ASSERT_EQ(run(named).status, 0);
        ASSERT_EQ(run(positional).status, 0);
        EXPECT_EQ(after("named.ac"), after("positional.ac")) << c.positional;
        EXPECT_NE(after("named.ac"), after(c.model));
    }
    // The named wave runs before the -c commands.
    ASSERT_EQ(run({"roof.ac", "--along", "x", "--sine", "y", "--cycles", "5", "--amplitude", "0.15",
                   "-c", "qorvel_go z y n 1 0.5 0 0 0 0 0 1 0", "-o", "named.ac"})
                  .status,
              0);
    ASSERT_EQ(run({"roof.ac", "-c", "qorvel_go x y n 5 0.15 0 0 0 0 0 0 0", "-c",
                   "qorvel_go z y n 1 0.5 0 0 0 0 0 1 0", "-o", "positional.ac"})
                  .status,
              0);
    EXPECT_EQ(after("named.ac"), after("positional.ac"));
}

/* }====== */

/* {====== Models at the limits ====== */

// A wave over models at the limits of a float: what it writes stays finite
// and stays where it was put.
class Limits : public Cli {};

TEST_F(Limits, NoVerticesInAnySelectionModeIsAMessageAndNothingIsWritten)
{
    put("empty.ac", "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nname \"none\"\nnumvert 0\nnumsurf 0\nkids 0\n");
    for (const char *mode : {"objects", "surfaces", "vertices"}) {
        Outcome r = run({"empty.ac", "--select", mode, "-c", TUBE, "-o", "out.ac"});
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(r.err, "corrugo-host: Corrugo : no vertices selected\n");
        EXPECT_EQ(left(), std::vector<std::string>{"empty.ac"});
    }
}

TEST_F(Limits, VerticesThatShareTheFrequencyCoordinateTakeTheFullAmplitude)
{
    // One vertex, then four on the plane x = 4: no extent along x. The cosine
    // on y puts every vertex at the lowest one's y plus the amplitude, decay
    // or not, and z is left alone.
    put("one.ac", "AC3Db\nOBJECT poly\nnumvert 1\n1 2 3\nkids 0\n");
    put("plane.ac", "AC3Db\nOBJECT poly\nnumvert 4\n4 1 0\n4 -2 5\n4 7 -1\n4 1 2\nkids 0\n");
    for (const char *units : {"0", "1"}) {
        std::string wave = std::string("qorvel_go x n y 3 0 0.5 100 100 0 0 0 ") + units;
        ASSERT_EQ(run({"one.ac", "-c", wave, "-o", "one-out.ac"}).status, 0) << wave;
        EXPECT_EQ(after("one-out.ac"), "AC3Db\nOBJECT poly\nnumvert 1\n1 2.5 3\nkids 0\n");
        ASSERT_EQ(run({"plane.ac", "-c", wave, "-o", "plane-out.ac"}).status, 0) << wave;
        EXPECT_EQ(after("plane-out.ac"),
                  "AC3Db\nOBJECT poly\nnumvert 4\n4 1.5 0\n4 1.5 5\n4 1.5 -1\n4 1.5 2\nkids 0\n");
    }
}

TEST_F(Limits, CoordinatesNearTheFloatLimitsStayFinite)
{
    // The extent along x overflows a float; amplitudes of 1e38 on coordinates
    // of 3e38 overflow them. Nothing becomes infinite, x never changes.
    put("huge.ac", "AC3Db\nOBJECT poly\nnumvert 4\n-3.4e38 0 3e38\n3.4e38 1 -3e38\n"
                   "0 3.4028235e38 1e-45\n1e-45 -3.4028235e38 0\nkids 0\n");
    put("far.ac", "AC3Db\nOBJECT poly\nnumvert 3\n0 3e38 -3e38\n1 -3e38 3e38\n2 1 1\nkids 0\n");
    const struct {
        const char *file, *wave;
    } cases[] = {
        {"huge.ac", "qorvel_go x y z 1 1 1 0 0 0 0 0 0"},
        {"huge.ac", "qorvel_go x y z 1 1e38 1e38 50 50 10 10 1 1"},
        {"far.ac", "qorvel_go x y z 0.25 1e38 1e38 0 0 0 0 1 0"},
        {"far.ac", "qorvel_go x y z 0.25 3e38 3e38 0 0 25 0 0 0"},
    };
    for (const auto &c : cases) {
        Outcome r = run({c.file, "-c", c.wave, "-o", "out.ac"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<Point> was = positions(c.file), is = positions("out.ac");
        ASSERT_EQ(was.size(), is.size());
        for (size_t i = 0; i < is.size(); i++) {
            EXPECT_EQ(bits(is[i][0]), bits(was[i][0])) << c.wave << ": vertex " << i;
            for (float f : is[i])
                EXPECT_TRUE(std::isfinite(f)) << c.wave << ": vertex " << i;
        }
    }
}

TEST_F(Limits, NanAndInfinityInTheFileNeverSpreadToOtherVertices)
{
    // Vertices 1 and 4 have no place along x; vertex 2 has none on y, vertex 3
    // none on z. The others move exactly as they do without them.
    put("odd.ac", "AC3Db\nOBJECT poly\nnumvert 6\n0 0 0\nnan 5 0\n2.5 inf 1\n10 0 -nan\n"
                  "inf 1 1\n5 0 0\nkids 0\n");
    put("plain.ac", "AC3Db\nOBJECT poly\nnumvert 4\n0 0 0\n2.5 9 1\n10 0 9\n5 0 0\nkids 0\n");
    const char *replace = "qorvel_go x y z 1 1 1 25 0 0 10 0 0";
    ASSERT_EQ(run({"odd.ac", "-c", replace, "-o", "odd-out.ac"}).status, 0);
    ASSERT_EQ(run({"plain.ac", "-c", replace, "-o", "plain-out.ac"}).status, 0);
    std::vector<Point> odd = positions("odd-out.ac"), plain = positions("plain-out.ac");
    ASSERT_EQ(odd.size(), 6u);
    const size_t same[4] = {0, 2, 3, 5};
    for (size_t i = 0; i < 4; i++)
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(bits(odd[same[i]][k]), bits(plain[i][k])) << "vertex " << same[i];
    std::string out = after("odd-out.ac");
    EXPECT_NE(out.find("\nnan 5 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\ninf 1 1\n"), std::string::npos) << out;

    // Adding to a coordinate that is not finite leaves it as it was; the
    // finite ones stay finite.
    ASSERT_EQ(run({"odd.ac", "-c", "qorvel_go x y z 1 1 1 25 0 0 10 1 0", "-o", "added.ac"}).status, 0);
    std::vector<Point> was = positions("odd.ac"), is = positions("added.ac");
    for (size_t i = 0; i < was.size(); i++)
        for (int k = 0; k < 3; k++) {
            if (std::isfinite(was[i][k]))
                EXPECT_TRUE(std::isfinite(is[i][k])) << "vertex " << i;
            else
                EXPECT_EQ(bits(is[i][k]), bits(was[i][k])) << "vertex " << i;
        }

    // A lowest vertex with no y gives no base for y: in replace mode no y
    // moves, and z moves as usual.
    put("nobase.ac", "AC3Db\nOBJECT poly\nnumvert 3\n0 nan 0\n2.5 1 1\n10 2 2\nkids 0\n");
    ASSERT_EQ(run({"nobase.ac", "-c", replace, "-o", "nobase-out.ac"}).status, 0);
    was = positions("nobase.ac");
    is = positions("nobase-out.ac");
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(bits(is[i][1]), bits(was[i][1])) << "vertex " << i;
        EXPECT_TRUE(std::isfinite(is[i][2])) << "vertex " << i;
    }
    EXPECT_NE(bits(is[1][2]), bits(was[1][2]));
}

// A million nested groups: reading the file and gathering a selected object's
// vertices must not take a stack frame per level.
TEST_F(Limits, AMillionNestedGroupsAreGatheredWithoutRunningOutOfStack)
{
    std::string text = "AC3Db\n";
    for (int i = 0; i < 1000000; i++)
        text += "OBJECT group\nkids 1\n";
    text += "OBJECT poly\nnumvert 2\n0 0 0\n1 1 1\nkids 0\n";
    put("deep.ac", text);
    Outcome r = run({"deep.ac", "-c", "qorvel_go x y n 0.25 1 0 0 0 0 0 0 0", "-o", "out.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Point> is = positions("out.ac");
    ASSERT_EQ(is.size(), 2u);
    EXPECT_FLOAT_EQ(is[1][1], 1.0f); // a quarter cycle from the lowest vertex
}

/* }====== */

/* {====== Threads ====== */

// A model large enough to be read and written on two threads: "objects"
// grids of 10 by 10 vertices under a group, each placed by a loc, with
// numbers of 6 to 8 digits and quads with texture coordinates.
std::string large_model(int objects)
{
    std::string text = "AC3Db\nOBJECT world\nkids 1\nOBJECT group\nname \"grids\"\nkids " +
                       std::to_string(objects) + "\n";
    char line[96];
    for (int o = 0; o < objects; o++) {
        std::snprintf(line, sizeof line, "OBJECT poly\nname \"grid %d\"\nloc %.7g 0.25 %.6g\n", o,
                      o * 1.0137, o * -0.5);
        text += line;
        text += "numvert 100\n";
        for (int v = 0; v < 100; v++) {
            std::snprintf(line, sizeof line, "%.8g %.6g %.7g\n", (v % 10) * 0.1013579 + o,
                          ((v * 7 + o) % 11) * 0.0012345, (v / 10) * 0.1002468);
            text += line;
        }
        text += "numsurf 81\n";
        for (int q = 0; q < 81; q++) {
            int a = q / 9 * 10 + q % 9;
            std::snprintf(line, sizeof line,
                          "SURF 0x10\nmat 0\nrefs 4\n%d 0.1234567 0.7654321\n%d 0.25 0.5\n", a,
                          a + 10);
            text += line;
            std::snprintf(line, sizeof line, "%d 0.5 0.75\n%d 0.987654 0.123456\n", a + 11, a + 1);
            text += line;
        }
        text += "kids 0\n";
    }
    return text;
}

// The text with "from" replaced by "to" where it first occurs after "at"
// (a share of the text's length).
std::string broken_at(std::string text, double at, const std::string &from, const std::string &to)
{
    size_t p = text.find(from, size_t(double(text.size()) * at));
    EXPECT_NE(p, std::string::npos) << from;
    return p == std::string::npos ? text : text.replace(p, from.size(), to);
}

TEST_F(Cli, OneThreadOrTwoGiveTheSameBytesAndTheSameMessages)
{
    const std::string model = large_model(400); /* 3.4 MB, 40,000 vertices */
    // (each late one in the half read ahead, on a line counted from there)
    ASSERT_GT(model.size(), 2u << 20);
    const struct {
        const char *name;
        std::string text;
    } files[] = {
        {"whole", model},
        {"late", broken_at(model, 0.8, " 0.5 0.75\n", " 0.5 x\n")},
        {"early and late", broken_at(broken_at(model, 0.8, " 0.5 0.75\n", " 0.5 x\n"), 0.2,
                                     "\nnumvert 100\n", "\nnumvert 99\n")},
        {"too few kids", broken_at(model, 0, "kids 400", "kids 300")},
        {"too many kids", broken_at(model, 0, "kids 400", "kids 401")},
        {"no kids line late", broken_at(model, 0.7, "kids 0\nOBJECT", "OBJECT")},
        {"reference past numvert late", broken_at(model, 0.9, "\n18 0.5 0.75\n", "\n100 0.5 0.75\n")},
        {"placed too far late",
         broken_at(model, 0.6, "\nloc ", "\nrot 1e38 0 0 0 1 0 0 0 1\nloc ")},
        {"a SURF without refs late", broken_at(model, 0.7, "mat 0\nrefs 4\n", "mat 0\nname \"x\"\n")},
    };
    for (const auto &f : files) {
        put("model.ac", f.text);
        Outcome one = run({"model.ac", "--threads", "1", "-c", WAVE, "-o", "one.ac"});
        Outcome two = run({"model.ac", "--threads=2", "-c", WAVE, "-o", "two.ac"});
        Outcome chosen = run({"model.ac", "-c", WAVE, "-o", "chosen.ac"});
        EXPECT_EQ(one.status, std::string(f.name) == "whole" ? 0 : 3) << f.name << one.err;
        for (const Outcome *o : {&two, &chosen}) {
            EXPECT_EQ(o->status, one.status) << f.name;
            EXPECT_EQ(o->err, one.err) << f.name;
        }
        EXPECT_EQ(after("two.ac"), after("one.ac")) << f.name;
        EXPECT_EQ(after("chosen.ac"), after("one.ac")) << f.name;
        for (const char *name : {"one.ac", "two.ac", "chosen.ac"})
            fs::remove(dir / "work" / name);
    }
    // The most threads one may ask for.
    put("model.ac", model);
    Outcome most = run({"model.ac", "--threads", "1024", "-c", WAVE, "-o", "most.ac"});
    EXPECT_EQ(most.status, 0) << most.err;
    ASSERT_EQ(run({"model.ac", "--threads", "1", "-c", WAVE, "-o", "one.ac"}).status, 0);
    EXPECT_EQ(after("most.ac"), after("one.ac"));
}

/* }====== */

/* {====== Pipes, --version, the manual page and completion ====== */

TEST_F(Cli, StandardInputAndOutputCarryTheModel)
{
    example("roof.ac");
    ASSERT_EQ(run({"roof.ac", "-c", WAVE, "-o", "file.ac", "--report"}).status, 0);
    Outcome r = run({"-", "-c", WAVE, "-c", "puts hello", "-o", "-", "--report"}, "", from_file("roof.ac"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, after("file.ac"));
    // What the run prints, the report and a command's puts, goes to standard
    // error, away from the model.
    EXPECT_EQ(r.err.rfind("hello\nvertices: 369, moved: ", 0), 0u) << r.err;
#if !defined(__SANITIZE_ADDRESS__) /* it reserves more address space than this */
    // A model from a pipe takes memory as it comes, not the most a stream may
    // hold (1 GiB) at once.
    r = run({"-", "-c", WAVE, "-o", "-"}, "ulimit -v 200000", "sh -c 'cat roof.ac | \"$0\" \"$@\"'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, after("file.ac"));
#endif
    // Names of an open file or stream, which no new file may take: standard
    // output into a pipe, and a file deleted while open (written in place,
    // through /proc).
    const std::string waved = after("file.ac");
    const struct {
        const char *output, *wrapper;
    } streams[] = {
        {"/dev/stdout", "sh -c '\"$0\" \"$@\" | cat >got.ac'"},
        {"/proc/self/fd/1", "sh -c '\"$0\" \"$@\" | cat >got.ac'"},
        {"/proc/self/fd/4", "sh -c 'exec 4<>gone.ac; rm gone.ac; \"$0\" \"$@\" && cat <&4 >got.ac'"},
        {"/dev/fd/4", "sh -c 'cat roof.ac >gone.ac; exec 4<gone.ac; rm gone.ac; \"$0\" \"$@\" && cat <&4 >got.ac'"},
        // (the name it shows, "gone.ac (deleted)", taken by another file,
        // which stays as it was)
        {"/proc/self/fd/4", "sh -c 'exec 4<>gone.ac; rm gone.ac; echo other >\"gone.ac (deleted)\"; "
                            "\"$0\" \"$@\" && cat <&4 >got.ac && test \"$(cat \"gone.ac (deleted)\")\" = other && "
                            "rm \"gone.ac (deleted)\"'"},
    };
    for (const auto &s : streams) {
        r = run({"roof.ac", "-c", WAVE, "-o", s.output}, "", s.wrapper);
        EXPECT_EQ(r.err, "") << s.output;
        EXPECT_EQ(after("got.ac"), waved) << s.output;
        EXPECT_EQ(left(), (std::vector<std::string>{"file.ac", "got.ac", "roof.ac"})) << s.output;
        fs::remove(dir / "work" / "got.ac");
    }
    // One socket for both streams, as a service that inetd or socat starts
    // has: the model comes in through it and goes back out.
    r = run({"-", "-c", WAVE, "-o", "-"}, "",
            R"(python3 -c 'import socket, subprocess, sys; a, b = socket.socketpair(); )"
            R"(p = subprocess.Popen(sys.argv[1:], stdin=b, stdout=b); b.close(); )"
            R"(a.sendall(open("roof.ac", "rb").read()); a.shutdown(socket.SHUT_WR); )"
            R"(open("got.ac", "wb").write(b"".join(iter(lambda: a.recv(65536), b""))); )"
            R"(sys.exit(p.wait())')");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("got.ac"), waved);
    fs::remove(dir / "work" / "got.ac");
    // "-" is the stream, even beside a file of that name that the run loads.
    fs::copy_file(CORRUGO_PLUGIN_PATH, dir / "work" / "-");
    r = run({"roof.ac", "--plugin", "./-", "-c", WAVE, "--debug", "-", "-o", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, waved);
    fs::remove(dir / "work" / "-");
    // A stream cut by the file size limit or a full disk says how much went
    // out: what the file holds.
    const struct {
        const char *why, *setup, *file;
        bool mounts;
    } cuts[] = {{"File too large", "ulimit -f 20", "cut.ac", false},
                {"No space left on device", "mkdir full && mount -t tmpfs -o size=8k tmpfs full || exit 97",
                 "full/cut.ac", true}};
    for (const auto &c : cuts) {
        if (c.mounts && !can_mount()) {
            std::printf("skipped the full disk: needs root and mount namespaces\n");
            continue;
        }
        r = run({"roof.ac", "-c", WAVE, "-o", "-"}, c.setup, std::string("sh -c '\"$0\" \"$@\" >") + c.file + "'",
                c.mounts);
        const std::string cut = after(c.file);
        EXPECT_EQ(r.status, 3) << c.why;
        EXPECT_EQ(r.err, std::string("corrugo-host: standard output: cannot write: ") + c.why + " after " +
                             std::to_string(cut.size()) + " bytes; the model written is incomplete\n");
        EXPECT_TRUE(cut.size() > 0 && cut.size() < waved.size() && waved.compare(0, cut.size(), cut) == 0) << c.why;
        fs::remove_all(dir / "work" / "cut.ac");
        fs::remove_all(dir / "work" / "full");
    }
    put("broken.ac", "AC3Db\nOBJECT poly\nnumvert 1\n1 x 0\nkids 0\n");
    r = run({"-", "-o", "-"}, "", from_file("broken.ac"));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "corrugo-host: standard input:4: expected 3 numbers for a vertex, found \"1 x 0\"\n");
    r = run({"--gui", "-"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "corrugo-host: the viewer reads its model from a file, not from standard "
                     "input\n(see corrugo-host --help)\n");
}

TEST_F(Cli, VersionNamesTheProgramAndThePlugin)
{
    Outcome r = run({"--version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "corrugo-host 1.0.0\nCorrugo - version 1.00 - the Corrugo developers\n");
    r = run({"--version", "--plugin", "nowhere.p"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err.rfind("corrugo-host: cannot load the plug-in: nowhere.p", 0), 0u) << r.err;
}

TEST_F(Cli, TheInstalledManualPageNamesEveryOptionOfHelp)
{
    std::string install = "cmake --install " + quote(CORRUGO_BINARY_DIR) + " --prefix " +
                          quote((dir / "prefix").string()) + " >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    std::string page = slurp(dir / "prefix/share/man/man1/corrugo-host.1");
    ASSERT_FALSE(page.empty()) << "no manual page installed";
    EXPECT_TRUE(page == slurp(fs::path(CORRUGO_COMPLETION).parent_path() / "corrugo-host.1"));
    for (size_t at; (at = page.find("\\-")) != std::string::npos;)
        page.erase(at, 1); // roff writes a hyphen as \-
    std::istringstream help(run({"--help"}).out);
    size_t options = 0;
    for (std::string word; help >> word;) {
        if (word.size() < 2 || word[0] != '-' || !std::isalpha((unsigned char)word.back()))
            continue;
        options++;
        EXPECT_NE(page.find(word), std::string::npos) << word;
    }
    EXPECT_GT(options, 25u);
    // The installed program finds its library and plug-in.
    std::string installed = (dir / "prefix/bin/corrugo-host").string();
    EXPECT_EQ(std::system((quote(installed) + " --version >" + quote((dir / "installed.txt").string())).c_str()), 0);
    EXPECT_EQ(slurp(dir / "installed.txt"), "corrugo-host 1.0.0\nCorrugo - version 1.00 - the Corrugo developers\n");
    EXPECT_TRUE(fs::exists(dir / "prefix/share/bash-completion/completions/corrugo-host"));
}

TEST_F(Cli, BashCompletesOptionsModesAxesAndModels)
{
    put("roof.ac", "");
    put("notes.txt", "");
    auto complete = [&](const std::string &words) {
        std::string script = "cd " + quote((dir / "work").string()) + " && bash -c " +
                             quote(". " + quote(CORRUGO_COMPLETION) + "; COMP_WORDS=(corrugo-host " +
                                   words + "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); "
                                   "_corrugo_host; echo \"${COMPREPLY[*]}\"") +
                             " >out.txt";
        EXPECT_EQ(std::system(script.c_str()), 0) << words;
        return slurp(dir / "work" / "out.txt");
    };
    EXPECT_EQ(complete("--sel"), "--select\n");
    EXPECT_EQ(complete("--select ''"), "objects surfaces vertices\n");
    EXPECT_EQ(complete("--along ''"), "x y z\n");
    EXPECT_EQ(complete("--cosine ''"), "x y z n\n");
    EXPECT_EQ(complete("--sine-offset r"), "random\n");
    EXPECT_EQ(complete("r"), "roof.ac\n");
    EXPECT_EQ(complete("roof.ac --per"), "--per-unit\n");
    // Files after each option that takes one; values after --option=, as
    // bash splits it at "=" and as one word.
    EXPECT_EQ(complete("-o n"), "notes.txt\n");
    EXPECT_EQ(complete("--debug n"), "notes.txt\n");
    EXPECT_EQ(complete("--debug = n"), "notes.txt\n");
    EXPECT_EQ(complete("--debug=n"), "--debug=notes.txt\n");
    EXPECT_EQ(complete("--select ="), "objects surfaces vertices\n");
    EXPECT_EQ(complete("--select = s"), "surfaces\n");
    EXPECT_EQ(complete("--select=s"), "--select=surfaces\n");
    EXPECT_EQ(complete("--seed ''"), "\n");
    EXPECT_EQ(complete("--in-"), "--in-place\n");
}

/* }====== */

} // namespace
