// corrugo-host from the outside: options, selection, exit statuses, messages
// and what it writes.
#include "shell.h"
#include "sim/acfile.h"

#include <gtest/gtest.h>

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

struct Outcome {
    int status;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("corrugo-cli-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    Outcome run(const std::vector<std::string> &args)
    {
        std::string command = "cd " + quote(dir.string()) + " && " + quote(CORRUGO_HOST_PATH);
        for (const std::string &a : args)
            command += " " + quote(a);
        command += " >out.txt 2>err.txt </dev/null";
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out.txt"),
                slurp(dir / "err.txt")};
    }
    fs::path example(const char *name)
    {
        fs::copy_file(fs::path(CORRUGO_EXAMPLES) / name, dir / name);
        return dir / name;
    }
    void write(const char *name, const std::string &text)
    {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    // The world positions of every vertex of a file, objects in file order.
    std::vector<std::array<float, 3>> positions(const char *name)
    {
        sim::Model model;
        sim::AcSource source;
        std::string error;
        EXPECT_TRUE(sim::read_ac_file((dir / name).string(), model, source, error)) << error;
        std::vector<std::array<float, 3>> all;
        for (const auto &object : model.objects)
            for (const sim::Vertex &v : object->vertices)
                all.push_back({v.x, v.y, v.z});
        return all;
    }
    // Indices of the vertices whose positions differ between two files.
    std::vector<size_t> moved(const char *a, const char *b)
    {
        auto pa = positions(a), pb = positions(b);
        std::vector<size_t> m;
        for (size_t i = 0; i < pa.size() && i < pb.size(); i++)
            if (pa[i] != pb[i])
                m.push_back(i);
        return m;
    }

    fs::path dir;
};

const char WAVE[] = "qorvel_go x y n 3 0.2 0 0 0 0 0 0 0";

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
        EXPECT_EQ(r.out.rfind("usage: corrugo-host MODEL.ac [options]", 0), 0u);
        EXPECT_NE(r.out.find("examples:"), std::string::npos);
    }
}

TEST_F(Cli, UsageErrorsExitTwoAndSayWhatWasWrong)
{
    example("roof.ac");
    const struct {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{}, "corrugo-host: no model file given\n"},
        {{"roof.ac", "--bogus"}, "corrugo-host: unknown option --bogus\n"},
        {{"roof.ac", "-c"}, "corrugo-host: option -c needs a value\n"},
        {{"roof.ac", "--select", "edges"}, "corrugo-host: --select takes objects, surfaces or vertices, not \"edges\"\n"},
        {{"roof.ac", "--tick", "-1"}, "corrugo-host: --tick takes a whole number from 0 to 4294967295, not \"-1\"\n"},
        {{"roof.ac", "--tick=4294967296"}, "corrugo-host: --tick takes a whole number from 0 to 4294967295, not \"4294967296\"\n"},
        {{"roof.ac", "--undo=yes"}, "corrugo-host: option --undo takes no value\n"},
        {{"roof.ac", "other.ac"}, "corrugo-host: one model file at a time (roof.ac, then other.ac)\n"},
        {{"roof.ac", "--in", "chimney"}, "corrugo-host: roof.ac: no object named \"chimney\"\n"},
        {{"missing.ac"}, "missing.ac: cannot open"},
        {{"roof.ac", "--plugin", "nowhere/corrugo.p"}, "corrugo-host: cannot load the plug-in: "},
    };
    for (const auto &c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << r.err;
    }
}

TEST_F(Cli, WritesOnlyTheVertexLinesThatMoved)
{
    example("roof.ac");
    Outcome r = run({"roof.ac", "-c", WAVE, "-o", "waved.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream a(slurp(dir / "roof.ac")), b(slurp(dir / "waved.ac"));
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
    EXPECT_EQ(slurp(dir / "same.ac"), slurp(dir / "tube.ac"));
    // and in place, with no command at all
    r = run({"tube.ac", "-o", "tube.ac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "tube.ac"), slurp(fs::path(CORRUGO_EXAMPLES) / "tube.ac"));
}

TEST_F(Cli, AMessageExitsOneAndWritesNothing)
{
    example("roof.ac");
    Outcome r = run({"roof.ac", "-c", "qorvel_go x x n 3 0.2 0 0 0 0 0 0 0", "-c", WAVE, "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Corrugo : cannot apply frequency and amplitude to same axis\n");
    EXPECT_FALSE(fs::exists(dir / "out.ac"));

    r = run({"roof.ac", "--in", "roof panel", "--select", "surfaces", "-c", "ac3d nothing", "-o", "out.ac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "corrugo-host: -c ac3d nothing: bad subcommand \"nothing\": must be "
                     "remake_subdivisions or undo\n");
    EXPECT_FALSE(fs::exists(dir / "out.ac"));
}

TEST_F(Cli, ABrokenModelIsRejectedBeforeAnythingRuns)
{
    write("broken.ac", "AC3Db\nOBJECT poly\nnumvert 2\n1.0 abc 2.0\n0 0 0\nkids 0\n");
    Outcome r = run({"broken.ac", "-c", WAVE, "-o", "broken.ac"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "broken.ac:4: expected 3 numbers for a vertex, found \"1.0 abc 2.0\"\n");
    EXPECT_EQ(slurp(dir / "broken.ac"), "AC3Db\nOBJECT poly\nnumvert 2\n1.0 abc 2.0\n0 0 0\nkids 0\n");
}

TEST_F(Cli, SelectionModesAndNames)
{
    write("nested.ac", NESTED);
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
    Outcome r = run({"nested.ac", "--select", "surfaces", "--in", "inner", "-c", wave});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Corrugo : no vertices selected\n");
}

TEST_F(Cli, APinnedTickMakesRandomOffsetsReproducible)
{
    example("fence.ac");
    const char *wave = "qorvel_go y x n 2 0.2 0 0 0 random 0 1 0";
    ASSERT_EQ(run({"fence.ac", "--tick", "42", "-c", wave, "-o", "one.ac"}).status, 0);
    ASSERT_EQ(run({"fence.ac", "--tick=42", "-c", wave, "-o", "two.ac"}).status, 0);
    ASSERT_EQ(run({"fence.ac", "--tick", "43", "-c", wave, "-o", "three.ac"}).status, 0);
    EXPECT_EQ(slurp(dir / "one.ac"), slurp(dir / "two.ac"));
    EXPECT_NE(slurp(dir / "one.ac"), slurp(dir / "three.ac"));
}

TEST_F(Cli, DebugOutputGoesWhereItIsSent)
{
    example("cushion.ac");
    Outcome r = run({"cushion.ac", "--debug", "debug.txt", "-c", WAVE});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string debug = slurp(dir / "debug.txt");
    EXPECT_EQ(debug.rfind("Corrugo:\nFrequency axis = x\n", 0), 0u);
    EXPECT_NE(debug.find("\nCorrugo:\nfreqsiz = 2 f = 0 Math = 1 Freq units = false\n"), std::string::npos);
    r = run({"cushion.ac", "--debug", "-", "-c", WAVE});
    EXPECT_EQ(r.err, debug);
    r = run({"cushion.ac", "--debug", "no/such/folder/debug.txt"});
    EXPECT_EQ(r.status, 2);
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
        << r.out;
}

TEST_F(Cli, ACopyElsewhereIsFoundWithPlugin)
{
    example("roof.ac");
    fs::create_directories(dir / "plug ins");
    fs::copy_file(CORRUGO_PLUGIN_PATH, dir / "plug ins" / "corrugo.p");
    std::ofstream(dir / "plug ins" / "corrugo.tcl") << "proc qorvel_dialog {} {}\n";
    Outcome r = run({"roof.ac", "--plugin", "plug ins/corrugo.p", "-c", "info procs qorvel_dialog", "-c", WAVE});
    EXPECT_EQ(r.status, 0) << r.err;
}

} // namespace
