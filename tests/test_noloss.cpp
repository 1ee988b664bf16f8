// What the writer keeps of a moved vertex: every number whose local value did
// not change keeps its text, whatever frame its object is placed by; the
// changed ones are the numbers as read plus the change, rounded once. And what
// the reader refuses rather than lose: MATERIAL lines of the wrong shape, a
// file without objects, transforms that place vertices beyond a float.
#include "loaded.h"
#include "acfile/acfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace acfile;

namespace {

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> words_of(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

float &axis(Vertex &v, int k) { return k == 0 ? v.x : k == 1 ? v.y : v.z; }

// One object "a" under a group, with these transform lines, and three
// vertices written in the ways other tools write numbers.
std::string placed(const std::string &group, const std::string &object)
{
    return "AC3Db\nOBJECT world\nkids 1\nOBJECT group\n" + group + "kids 1\nOBJECT poly\nname \"a\"\n" +
           object + "numvert 3\n1.13 0.27 0\n1.0789779 -1.00816e-07 2.50\n-3 0.1 7e-1\nkids 0\n";
}

} // namespace

/* {====== Moved vertices keep what did not change ====== */

// Moves every vertex by "step" along world axis "world_axis", saves, and
// checks each vertex line: the words of local axes other than "local_axis"
// keep their text; that one is the float nearest the number read plus the
// step carried into the frame by "scale". Undo gives the file back.
static void check_one_axis_moves(const std::string &group, const std::string &object,
                                 int world_axis, int local_axis, double scale)
{
    const std::string text = placed(group, object);
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    Object &a = *l.model.objects.back();
    std::vector<Vertex> before = a.vertices;
    const float step = 0.1f;
    for (Vertex &v : a.vertices)
        axis(v, world_axis) += step;
    std::vector<std::string> was = lines_of(text), now = lines_of(save(l));
    ASSERT_EQ(now.size(), was.size());
    size_t first = std::find(was.begin(), was.end(), "numvert 3") - was.begin() + 1;
    for (size_t i = 0; i < 3; i++) {
        std::vector<std::string> w = words_of(was[first + i]), n = words_of(now[first + i]);
        ASSERT_EQ(n.size(), 3u) << now[first + i];
        for (int k = 0; k < 3; k++) {
            if (k != local_axis) {
                EXPECT_EQ(n[k], w[k]) << group << object << "vertex " << i;
                continue;
            }
            float read = std::strtof(w[k].c_str(), nullptr);
            double change = (double(axis(a.vertices[i], world_axis)) -
                             double(axis(before[i], world_axis))) / scale;
            EXPECT_EQ(std::strtof(n[k].c_str(), nullptr), float(double(read) + change))
                << group << object << "vertex " << i;
        }
    }
    a.vertices = before;
    EXPECT_EQ(save(l), text) << group << object;
}

TEST(AcNoLoss, TranslationsNestedFramesAndAxisRotationsRewriteOnlyTheAxisThatMoved)
{
    // Survey coordinates, where a world float's spacing is 0.03 to 0.5 units.
    check_one_axis_moves("", "loc 512345.6 5412345.7 0\n", 2, 2, 1);
    check_one_axis_moves("", "loc 512345.6 5412345.7 0\n", 0, 0, 1);
    check_one_axis_moves("loc 6000000 -3.5 250.25\n", "loc 0.125 1e-3 -7\n", 1, 1, 1);
    // A quarter turn about z: world x is local -y, world y is local x.
    check_one_axis_moves("", "rot 0 1 0 -1 0 0 0 0 1\nloc 1000.5 2 0\n", 0, 1, -1);
    check_one_axis_moves("", "rot 0 1 0 -1 0 0 0 0 1\nloc 1000.5 2 0\n", 1, 0, 1);
    check_one_axis_moves("rot 0 1 0 -1 0 0 0 0 1\n", "loc 3 4 5\n", 2, 2, 1);
    // Axes exchanged: local x lies along world z.
    check_one_axis_moves("rot 0 0 1 1 0 0 0 1 0\nloc 10 20 30\n", "", 2, 0, 1);
    // Scaling: a local unit is 2, 4 or 0.5 world units.
    check_one_axis_moves("", "rot 2 0 0 0 4 0 0 0 0.5\nloc 100 0 0\n", 2, 2, 0.5);
    check_one_axis_moves("rot 2 0 0 0 4 0 0 0 0.5\n", "loc 1 1 1\n", 1, 1, 4);
}

TEST(AcNoLoss, ALocOfOneUnitPlacesTheVertices)
{
    // Each axis on its own, so that no other part of the transform hides it.
    const char *locs[] = {"loc 1 0 0", "loc 0 1 0", "loc 0 0 1"};
    for (int k = 0; k < 3; k++) {
        Loaded l = load(std::string("AC3Db\nOBJECT poly\n") + locs[k] + "\nnumvert 1\n2 3 4\nkids 0\n");
        ASSERT_TRUE(l.ok) << l.error;
        Vertex &v = l.model.objects.back()->vertices[0];
        const float expected[3] = {2.0f + (k == 0), 3.0f + (k == 1), 4.0f + (k == 2)};
        EXPECT_EQ(v.x, expected[0]) << locs[k];
        EXPECT_EQ(v.y, expected[1]) << locs[k];
        EXPECT_EQ(v.z, expected[2]) << locs[k];
    }
}

// Under a loc, a moved number is the number read plus the world change, in
// double, rounded once to a float; checked over many numbers of every size
// and changes of every size, where a change rounded to a float first, or a
// sum rounded twice, would show.
TEST(AcNoLoss, UnderALocEachNumberTakesTheWorldChangeRoundedOnce)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> digits(0, 9999999), scale(-6, 6);
    std::string text = "AC3Db\nOBJECT poly\nloc 1234.567 -0.0312 7\nnumvert 3000\n";
    for (int i = 0; i < 3000; i++) {
        for (int k = 0; k < 3; k++)
            text += std::to_string(digits(random) - 5000000) + "e" + std::to_string(scale(random)) +
                    (k < 2 ? " " : "\n");
    }
    Loaded l = load(text + "kids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    std::vector<Vertex> &v = l.model.objects.back()->vertices;
    std::vector<Vertex> before = v;
    for (Vertex &p : v) {
        float *xyz = &p.x;
        for (int k = 0; k < 3; k++)
            xyz[k] += float(digits(random) - 5000000) * std::pow(10.0f, float(scale(random)));
    }
    std::vector<std::string> was = lines_of(text), now = lines_of(save(l));
    const double loc[3] = {1234.567f, -0.0312f, 7};
    for (size_t i = 0; i < v.size(); i++) {
        std::vector<std::string> w = words_of(was[4 + i]), n = words_of(now[4 + i]);
        const float *is = &v[i].x, *old = &before[i].x;
        for (int k = 0; k < 3; k++) {
            float read = std::strtof(w[k].c_str(), nullptr);
            float expected = float(double(read) + (double(is[k]) - double(old[k])));
            ASSERT_EQ(std::strtof(n[k].c_str(), nullptr), expected)
                << "vertex " << i << " axis " << k << ": " << was[4 + i] << " at " << loc[k];
        }
    }
}

TEST(AcNoLoss, AGeneralRotationRewritesTheAxesItMixesToTheNearestFloat)
{
    // 30 degrees about z: a change along world x moves local x and y, not z.
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    char rot[128];
    std::snprintf(rot, sizeof rot, "rot %.17g %.17g 0 %.17g %.17g 0 0 0 1\nloc 1 2 0\n", c, s, -s, c);
    const std::string text = placed("", rot);
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    Object &a = *l.model.objects.back();
    std::vector<Vertex> before = a.vertices;
    for (Vertex &v : a.vertices)
        v.x += 0.25f;
    std::vector<std::string> was = lines_of(text), now = lines_of(save(l));
    size_t first = std::find(was.begin(), was.end(), "numvert 3") - was.begin() + 1;
    for (size_t i = 0; i < 3; i++) {
        std::vector<std::string> w = words_of(was[first + i]), n = words_of(now[first + i]);
        long double dx = (long double)a.vertices[i].x - before[i].x;
        // The inverse of a rotation is its transpose.
        long double expected[2] = {std::strtof(w[0].c_str(), nullptr) + (long double)c * dx,
                                   std::strtof(w[1].c_str(), nullptr) - (long double)s * dx};
        for (int k = 0; k < 2; k++)
            EXPECT_EQ(std::strtof(n[k].c_str(), nullptr), float(expected[k])) << "vertex " << i;
        EXPECT_EQ(n[2], w[2]) << "vertex " << i;
    }
    a.vertices = before;
    EXPECT_EQ(save(l), text);
}

// A turn about a slanted axis with a scale of 1.1, so that every entry of the
// matrix counts and the determinant (1.331) is no float: the inverse is the
// transpose over 1.21, computed here in long double, and every local number
// takes the whole world change.
TEST(AcNoLoss, ASlantedScaledTurnRewritesEachAxisToTheNearestFloat)
{
    long double a = 0.5L, b = 0.7L, g = -1.1L; /* about z, then x, then z */
    long double rz1[3][3] = {{cosl(a), -sinl(a), 0}, {sinl(a), cosl(a), 0}, {0, 0, 1}};
    long double rx[3][3] = {{1, 0, 0}, {0, cosl(b), -sinl(b)}, {0, sinl(b), cosl(b)}};
    long double rz2[3][3] = {{cosl(g), -sinl(g), 0}, {sinl(g), cosl(g), 0}, {0, 0, 1}};
    auto times = [](long double p[3][3], long double q[3][3], long double out[3][3]) {
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                out[i][j] = p[i][0] * q[0][j] + p[i][1] * q[1][j] + p[i][2] * q[2][j];
    };
    long double half[3][3], turn[3][3];
    times(rz1, rx, half);
    times(half, rz2, turn);
    double m[3][3]; /* world = m * local + loc; the file lists m by columns */
    std::string rot = "rot";
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++) {
            m[i][j] = double(1.1L * turn[i][j]);
            ASSERT_GT(std::fabs(m[i][j]), 0.05) << i << j;
            char number[32];
            std::snprintf(number, sizeof number, " %.17g", m[i][j]);
            rot += number;
        }
    const std::string text = placed("", rot + "\nloc 3 -4 0.5\n");
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    Object &o = *l.model.objects.back();
    std::vector<Vertex> before = o.vertices;
    for (Vertex &v : o.vertices)
        v.x += 0.25f, v.y -= 0.5f, v.z += 0.125f;
    std::vector<std::string> was = lines_of(text), now = lines_of(save(l));
    size_t first = std::find(was.begin(), was.end(), "numvert 3") - was.begin() + 1;
    for (size_t v = 0; v < 3; v++) {
        std::vector<std::string> w = words_of(was[first + v]), n = words_of(now[first + v]);
        long double d[3] = {(long double)o.vertices[v].x - before[v].x,
                            (long double)o.vertices[v].y - before[v].y,
                            (long double)o.vertices[v].z - before[v].z};
        for (int k = 0; k < 3; k++) {
            long double change = (m[0][k] * d[0] + m[1][k] * d[1] + m[2][k] * d[2]) / 1.21L;
            EXPECT_EQ(std::strtof(n[k].c_str(), nullptr),
                      float(std::strtof(w[k].c_str(), nullptr) + change))
                << "vertex " << v << " axis " << k;
        }
    }
    o.vertices = before;
    EXPECT_EQ(save(l), text);
}

TEST(AcNoLoss, RealModelsNeverRewriteTheAxisAWaveRunsAlong)
{
    // A wave moves the two other axes and never the one it runs along: its
    // numbers keep their text, in files of other tools placed by loc.
    SKIP_WITHOUT_SAMPLES();
    for (const auto &entry : std::filesystem::directory_iterator(CORRUGO_AC_SAMPLES)) {
        if (entry.path().extension() != ".ac")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string text = bytes.str();
        for (int along = 0; along < 3; along++) {
            Loaded l = load(text);
            ASSERT_TRUE(l.ok) << l.error;
            std::vector<std::vector<float>> frequency;
            for (auto &object : l.model.objects)
                for (Vertex &v : object->vertices) {
                    axis(v, (along + 1) % 3) += 0.125f;
                    axis(v, (along + 2) % 3) -= 0.0625f;
                }
            Loaded again = load(save(l));
            ASSERT_TRUE(again.ok) << again.error;
            std::vector<std::string> was = lines_of(text), now = lines_of(save(l));
            ASSERT_EQ(now.size(), was.size());
            size_t changed = 0;
            for (size_t i = 0; i < was.size(); i++) {
                if (was[i] == now[i])
                    continue;
                changed++;
                std::vector<std::string> w = words_of(was[i]), n = words_of(now[i]);
                ASSERT_GE(n.size(), 3u);
                EXPECT_EQ(n[along], w[along]) << entry.path().filename() << ":" << i + 1;
            }
            EXPECT_EQ(changed, count_vertices(l.model)) << entry.path().filename();
        }
    }
}

/* }====== */

/* {====== What the reader refuses ====== */

TEST(AcNoLoss, MaterialLinesMustHaveTheirFieldsInOrder)
{
    const std::string fields = "rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.5 0.5 0.5  shi 10  trans 0";
    const std::string object = "OBJECT poly\nkids 0\n";
    // A name with spaces, an unquoted one, and fields other tools add after
    // trans. A quoted name ends at the quote before a blank or the line's
    // end: it may hold quotes, and quotes may follow it.
    for (std::string material : {"MATERIAL \"red paint\" " + fields,
                                 "MATERIAL plain " + fields,
                                 "MATERIAL \"m\" " + fields + " extra 1 2",
                                 "MATERIAL \"12\"\"pipe\"\t" + fields,
                                 "MATERIAL \"m\" " + fields + " texture \"a b.png\""}) {
        std::string text = "AC3Db\n" + material + "\n" + object;
        Loaded l = load(text);
        EXPECT_TRUE(l.ok) << material << ": " << l.error;
        EXPECT_EQ(save(l), text);
    }
    const struct {
        std::string line;
        const char *expected;
    } broken[] = {
        {"MATERIAL \"m\" rgb 1 1", "rgb and 3 numbers in the MATERIAL line"},
        {"MATERIAL \"m\"", "rgb and 3 numbers in the MATERIAL line"},
        {"MATERIAL \"m rgb 1 1 1", "a MATERIAL's name in double quotes"},
        {"MATERIAL \"m\" amb 0.2 0.2 0.2 rgb 1 1 1", "rgb and 3 numbers in the MATERIAL line"},
        {"MATERIAL \"m\" rgb 1 1 1 amb 0.2 x 0.2", "amb and 3 numbers in the MATERIAL line"},
        {"MATERIAL \"m\" rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.5 0.5 0.5  shi", "shi and 1 number in the MATERIAL line"},
        {"MATERIAL \"m\" rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.5 0.5 0.5  shi 10  trans",
         "trans and 1 number in the MATERIAL line"},
    };
    for (const auto &b : broken) {
        Loaded l = load("AC3Db\n" + b.line + "\n" + object);
        EXPECT_FALSE(l.ok) << b.line;
        std::string expected =
            std::string("model.ac:2: expected ") + b.expected + ", found \"MATERIAL \\\"m";
        EXPECT_EQ(l.error.substr(0, expected.size()), expected);
    }
}

TEST(AcNoLoss, AFileWithoutObjectsIsRefused)
{
    // (the end of a file whose last line has no newline is on that line)
    for (const char *text : {"AC3Db", "AC3Db\n", "AC3Db\nMATERIAL \"m\" rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  "
                                         "spec 0.5 0.5 0.5  shi 10  trans 0\n\n",
                             "AC3Db\r\n\r\nno object", "AC3Db\n\n  "}) {
        Loaded l = load(text);
        EXPECT_FALSE(l.ok);
        size_t lines = std::count(text, text + std::strlen(text), '\n');
        EXPECT_EQ(l.error, "model.ac:" + std::to_string(lines + 1) + ": expected an OBJECT, found end of file");
    }
    // Without a line end after the last line, no line after it is named.
    Loaded l = load("AC3Db\nOTlJCEB ighAC3Db\nOBJEt\nCTnam pe");
    EXPECT_EQ(l.error, "model.ac:4: expected an OBJECT, found end of file");
}

TEST(AcNoLoss, TransformsThatPlaceAVertexBeyondAFloatAreRefusedAtItsLine)
{
    const std::string says = ": expected 3 numbers for a vertex within a float's range once the rot "
                             "and loc of its object and those above it place it, found ";
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"AC3Db\nOBJECT poly\nloc 1e39 0 0\nnumvert 1\n\n1 0 0\nkids 0\n", "model.ac:6" + says + "\"1 0 0\""},
        {"AC3Db\nOBJECT poly\nrot 1e30 0 0 0 1 0 0 0 1\nnumvert 2\n0 5 0\n1e10 0 0\nkids 0\n",
         "model.ac:6" + says + "\"1e10 0 0\""},
        {"AC3Db\nOBJECT world\nkids 1\nOBJECT group\nloc 0 3e38 0\nkids 1\nOBJECT poly\n"
         "loc 0 3e38 0\nnumvert 1\n0 0 0\nkids 0\n",
         "model.ac:10" + says + "\"0 0 0\""},
    };
    for (const auto &c : cases) {
        Loaded l = load(c.text);
        EXPECT_FALSE(l.ok);
        EXPECT_EQ(l.error, c.error);
    }
    // Non-finite numbers in the file stay data wherever they are placed,
    // also where a rotation carries them to the other axes.
    for (const char *transform : {"loc 1e30 0 0", "rot 0.6 0.8 0 -0.8 0.6 0 0 0 1"}) {
        Loaded l = load(std::string("AC3Db\nOBJECT poly\n") + transform +
                        "\nnumvert 1\ninf 1 0\nkids 0\n");
        EXPECT_TRUE(l.ok) << transform << ": " << l.error;
    }
}

TEST(AcNoLoss, StreamsAndDevicesAreReadByTheirFirstLineFirst)
{
    Model model;
    AcSource source;
    std::string error;
    EXPECT_FALSE(read_ac_file("/dev/zero", model, source, error));
    EXPECT_EQ(error.substr(0, 70),
              "/dev/zero:1: expected the AC3D header (such as AC3Db), found \"\\x00\\x00");

    // A header that comes a byte at a time is waited for, to its line's end.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        const std::string text = "AC3Db\nOBJECT poly\nkids 0\n";
        for (char c : text) {
            EXPECT_EQ(write(ends[1], &c, 1), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(c == '\n' ? 20 : 2));
        }
        close(ends[1]);
    });
    bool ok = read_ac_file("/proc/self/fd/" + std::to_string(ends[0]), model, source, error);
    writer.join();
    close(ends[0]);
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(source.bytes(), "AC3Db\nOBJECT poly\nkids 0\n");
}

/* }====== */
