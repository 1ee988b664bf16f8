// corrugo-host when the system fails it and with models at the limits of a
// float: it writes the whole model or leaves every file as it was, and what the
// wave writes stays finite and stays where it was put.
#include "host_folder.h"
#include "shell.h"
#include "acfile/acfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
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
class Robust : public HostFolder {};

const char TUBE_WAVE[] = "qorvel_go z x y 1 0.3 0.3 0 0 0 0 1 1";

/* {====== Writing fails ====== */

TEST_F(Robust, AnOutputThatCannotBeCreatedExitsTwoAndLeavesEveryFileAsItWas)
{
    const std::string tube = example("tube.ac");
    fs::create_directories(dir / "work" / "folder");
    // (a pipe of the test's own rather than a device: a fault in the code
    // under test must not be able to replace a file of the system's)
    ASSERT_EQ(mkfifo((dir / "work" / "pipe").c_str(), 0644), 0);
    const struct {
        const char *output, *says;
    } cases[] = {
        {"no/such/folder/out.ac", "no/such/folder/out.ac: cannot write: No such file or directory\n"},
        {"folder", "folder: cannot write: Is a directory\n"},
        {"pipe", "pipe: cannot write: not a regular file\n"},
    };
    for (const auto &c : cases) {
        Outcome r = run({"tube.ac", "-c", TUBE_WAVE, "-o", c.output});
        EXPECT_EQ(r.status, 2) << c.output;
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(left(), (std::vector<std::string>{"folder", "pipe", "tube.ac"})) << c.output;
        EXPECT_EQ(fs::status(dir / "work" / "pipe").type(), fs::file_type::fifo) << c.output;
        EXPECT_TRUE(kept("tube.ac", tube));
    }
}

TEST_F(Robust, AFileSizeLimitReachedPartWayKeepsTheModelItWasToReplace)
{
    const std::string tube = example("tube.ac");
    // 20 blocks of 512 bytes: the 47 kB model stops part way.
    Outcome r = run({"tube.ac", "-c", TUBE_WAVE, "-o", "tube.ac"}, "trap '' XFSZ; ulimit -f 20");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tube.ac: cannot write: File too large\n");
    EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"});
    EXPECT_TRUE(kept("tube.ac", tube));
}

// A file size limit also sends SIGXFSZ, whose default action would end the
// host mid-write, leaving its hidden temporary ".tube.ac.tmp......" behind.
TEST_F(Robust, AFileSizeLimitWithItsSignalLeavesNoTemporaryFile)
{
    const std::string tube = example("tube.ac");
    Outcome r = run({"tube.ac", "-c", TUBE_WAVE, "-o", "tube.ac"}, "trap - XFSZ; ulimit -f 20");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tube.ac: cannot write: File too large\n");
    EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"});
    EXPECT_TRUE(kept("tube.ac", tube));
}

TEST_F(Robust, AFullDiskFailsTheWriteAndLeavesNoPartialFile)
{
    if (!can_mount())
        GTEST_SKIP() << "needs root and mount namespaces to mount a small tmpfs";
    const std::string tube = example("tube.ac");
    // 64 kB holds the 47 kB model once, not twice: the new copy runs out.
    Outcome r = run({"full/tube.ac", "-c", TUBE_WAVE, "-o", "full/tube.ac"},
                    "mkdir full && mount -t tmpfs -o size=64k tmpfs full && cp tube.ac full/ || exit 97",
                    "", true);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "full/tube.ac: cannot write: No space left on device\n");
    EXPECT_EQ(left(), (std::vector<std::string>{"full", "full/tube.ac", "tube.ac"}));
    EXPECT_TRUE(kept("full/tube.ac", tube));
}

TEST_F(Robust, AReadOnlyFolderFailsTheWriteAndKeepsTheModel)
{
    if (!can_mount())
        GTEST_SKIP() << "needs root and mount namespaces for a read-only bind mount";
    const std::string tube = example("tube.ac");
    Outcome r = run({"tube.ac", "-c", TUBE_WAVE, "-o", "tube.ac"},
                    "mount --bind -o ro . . && cd \"$PWD\" || exit 97", "", true);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tube.ac: cannot write: Read-only file system\n");
    EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"});
    EXPECT_TRUE(kept("tube.ac", tube));
}

TEST_F(Robust, AFolderWithoutWritePermissionFailsTheWrite)
{
    const std::string tube = example("tube.ac");
    // Root may write anywhere: it runs the host as nobody instead.
    std::string nobody = as_nobody();
    Outcome r = run({"tube.ac", "-c", TUBE_WAVE, "-o", "tube.ac"}, "chmod 0555 .", nobody);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tube.ac: cannot write: Permission denied\n");
    EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"});
    EXPECT_TRUE(kept("tube.ac", tube));
}

TEST_F(Robust, ACommandThatFailsNeverWritesEvenInPlace)
{
    const std::string tube = example("tube.ac");
    for (const char *command : {"qorvel_go z z y 1 0.3 0.3 0 0 0 0 1 1", "error boom"}) {
        Outcome r = run({"tube.ac", "-c", TUBE_WAVE, "-c", command, "-o", "tube.ac"});
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"});
        EXPECT_TRUE(kept("tube.ac", tube));
    }
}

TEST_F(Robust, ABrokenModelExitsTwoNamingItsLineAndWritesNothing)
{
    const struct {
        std::string text;
        const char *says;
    } cases[] = {
        {"", "model.ac:1: expected the AC3D header (such as AC3Db), found end of file\n"},
        {std::string("\x7f" "ELF\x02\x01\x01") + std::string(3, '\0'),
         "model.ac:1: expected the AC3D header (such as AC3Db), found "
         "\"\\x7fELF\\x02\\x01\\x01\\x00\\x00\\x00\"\n"},
        {"AC3Db\nOBJECT poly\nnumvert 3\n0 0 0\n",
         "model.ac:3: expected 3 vertex lines, found end of file after 1\n"},
        {std::string("AC3Db\nOBJECT poly\nnumvert 1\n0 0") + '\0' + "0\nkids 0\n",
         "model.ac:4: expected 3 numbers for a vertex, found \"0 0\\x000\"\n"},
        {"AC3Db\nOBJECT poly\nnumvert 1\n1e39 0 0\nkids 0\n",
         "model.ac:4: expected 3 numbers for a vertex within a float's range, found \"1e39 0 0\"\n"},
    };
    for (const auto &c : cases) {
        put("model.ac", c.text);
        Outcome r = run({"model.ac", "-c", TUBE_WAVE, "-o", "model.ac"});
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(left(), std::vector<std::string>{"model.ac"});
        EXPECT_TRUE(kept("model.ac", c.text));
    }
    fs::remove(dir / "work" / "model.ac");
    fs::create_directories(dir / "work" / "model.ac");
    Outcome r = run({"model.ac", "-o", "out.ac"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "model.ac: cannot read: Is a directory\n");
}

/* }====== */

/* {====== Models at the limits ====== */

TEST_F(Robust, NoVerticesInAnySelectionModeIsAMessageAndNothingIsWritten)
{
    put("empty.ac", "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nname \"none\"\nnumvert 0\nnumsurf 0\nkids 0\n");
    for (const char *mode : {"objects", "surfaces", "vertices"}) {
        Outcome r = run({"empty.ac", "--select", mode, "-c", TUBE_WAVE, "-o", "out.ac"});
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(r.err, "Corrugo : no vertices selected\n");
        EXPECT_EQ(left(), std::vector<std::string>{"empty.ac"});
    }
}

TEST_F(Robust, VerticesThatShareTheFrequencyCoordinateTakeTheFullAmplitude)
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

TEST_F(Robust, CoordinatesNearTheFloatLimitsStayFinite)
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

TEST_F(Robust, NanAndInfinityInTheFileNeverSpreadToOtherVertices)
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
TEST_F(Robust, AMillionNestedGroupsAreGatheredWithoutRunningOutOfStack)
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

} // namespace
