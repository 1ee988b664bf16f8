// The .ac reader and writer: what a file puts in the model, files that come
// back byte for byte, moved vertices written in their object's frame, broken
// files named by line, the real samples, and saving that never leaves half a file.
#include "loaded.h"
#include "acfile/acfile.h"
#include "acfile/plain_lines.h"
#include "acfile/save_file.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

using namespace acfile;

namespace {

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// A world with one box (4 vertices, a triangle and a line), lines numbered.
const std::string box = "AC3Db\n"                                               // 1
                        "MATERIAL \"m\" rgb 1 1 1  amb 0.2 0.2 0.2  emis 0 0 0  " // 2
                        "spec 0.5 0.5 0.5  shi 10  trans 0\n"
                        "OBJECT world\n" // 3
                        "kids 1\n"       // 4
                        "OBJECT poly\n"  // 5
                        "name \"box\"\n" // 6
                        "numvert 4\n"    // 7
                        "0 0 0\n"        // 8
                        "1 0 0\n"        // 9
                        "1 1 0\n"        // 10
                        "0 1 0\n"        // 11
                        "numsurf 2\n"    // 12
                        "SURF 0x10\n"    // 13
                        "mat 0\n"        // 14
                        "refs 3\n"       // 15
                        "0 0 0\n"        // 16
                        "1 1 0\n"        // 17
                        "2 1 1\n"        // 18
                        "SURF 0x22\n"    // 19
                        "mat 0\n"        // 20
                        "refs 2\n"       // 21
                        "2 0 0\n"        // 22
                        "3 0 0\n"        // 23
                        "kids 0\n";      // 24

} // namespace

/* {====== What a file puts in the model ====== */

TEST(AcRead, WorldObjectsVerticesAndSurfacesFillTheModel)
{
    Loaded l = load(box);
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.model.objects.size(), 2u);
    EXPECT_EQ(l.model.world->name, "world");
    ASSERT_EQ(l.model.world->children.size(), 1u);
    Object *o = l.model.world->children[0];
    EXPECT_EQ(o->name, "box");
    EXPECT_EQ(o->parent, l.model.world);
    EXPECT_FALSE(o->subdivided);
    ASSERT_EQ(o->vertices.size(), 4u);
    EXPECT_EQ(o->vertices[2].x, 1.0f);
    EXPECT_EQ(o->vertices[2].y, 1.0f);
    EXPECT_EQ(o->vertices[2].owner, o);
    ASSERT_EQ(o->surfaces.size(), 2u);
    EXPECT_EQ(o->refs, (std::vector<uint32_t>{0, 1, 2, 2, 3}));
    EXPECT_EQ(o->surfaces[1].owner, o);
    EXPECT_EQ(o->surfaces[1].first_ref, 3u);
    EXPECT_EQ(o->surfaces[1].ref_count, 2u);
}

TEST(AcRead, RootsWithoutAWorldObjectGoUnderTheModelsWorld)
{
    Loaded l = load("AC3Db\nOBJECT poly\nname \"a\"\nsubdiv 1\nkids 1\nOBJECT group\nkids 0\n"
                    "OBJECT light\nname \"b\"\nsubdiv 0\nkids 0\n\n");
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.model.objects.size(), 4u);
    ASSERT_EQ(l.model.world->children.size(), 2u);
    EXPECT_EQ(l.model.world->name, "world");
    EXPECT_EQ(l.model.world->children[0]->name, "a");
    EXPECT_TRUE(l.model.world->children[0]->subdivided);
    EXPECT_EQ(l.model.world->children[0]->children[0]->name, "");
    EXPECT_EQ(l.model.world->children[1]->name, "b");
    EXPECT_FALSE(l.model.world->children[1]->subdivided);
}

TEST(AcRead, NamesAreTakenBetweenTheOuterQuotesAsTheyAre)
{
    Loaded l = load("AC3Db\nOBJECT world\nname \"the world\"\nkids 5\n"
                    "OBJECT poly\nname \"caf\xC3\xA9 \xE4\xB8\xAD\"\r\nkids 0\n"
                    "OBJECT poly\nname \"say \"hi\" C:\\dir\\\"\nkids 0\n"
                    "OBJECT poly\nname bare words \nkids 0\n"
                    "OBJECT poly\nname  \t\nkids 0\n"
                    "OBJECT poly\nname \"\"\nkids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.model.world->name, "the world");
    EXPECT_EQ(l.model.objects[1]->name, "caf\xC3\xA9 \xE4\xB8\xAD");
    EXPECT_EQ(l.model.objects[2]->name, "say \"hi\" C:\\dir\\");
    EXPECT_EQ(l.model.objects[3]->name, "bare words");
    EXPECT_EQ(l.model.objects[4]->name, "");
    EXPECT_EQ(l.model.objects[5]->name, "");
}

TEST(AcRead, CoordinatesAreTheFloatsTheirTextRoundsTo)
{
    Loaded l = load("AC3Db\nOBJECT poly\nnumvert 5\n-1.11759e-007 1e-45 -0\n"
                    "1.17549421e-38 7.0064923216240854e-46 -1e-50\n"
                    "+0.1 0.33333334 16777217\n"
                    "nan -nan inf\n"
                    "1 2 3 0.1 0.2 0.3\n"
                    "kids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    const std::vector<Vertex> &v = l.model.objects[1]->vertices;
    EXPECT_EQ(bits(v[0].x), bits(-1.11759e-007f));
    EXPECT_EQ(bits(v[0].y), bits(std::numeric_limits<float>::denorm_min()));
    EXPECT_EQ(bits(v[0].z), bits(-0.0f));
    EXPECT_EQ(bits(v[1].x), bits(1.17549421e-38f)); // subnormal
    EXPECT_EQ(bits(v[1].y),
              bits(std::numeric_limits<float>::denorm_min())); // just above half of it
    EXPECT_EQ(bits(v[1].z), bits(-0.0f));           // too small: zero, signed
    EXPECT_EQ(v[2].x, 0.1f);
    EXPECT_EQ(v[2].y, 0.33333334f);
    EXPECT_EQ(v[2].z, 16777216.0f); // ties to even
    EXPECT_TRUE(std::isnan(v[3].x));
    EXPECT_TRUE(std::signbit(v[3].y));
    EXPECT_EQ(v[3].z, std::numeric_limits<float>::infinity());
    EXPECT_EQ(v[4].z, 3.0f); // the normal after it is not read
}

TEST(AcRead, LocAndRotOfAnObjectAndItsAncestorsGiveWorldPositions)
{
    // The group moves by 10 in x; "a" by (1, 2, 3) inside it; "b" turns a
    // quarter about z (rot's columns are (0 1 0), (-1 0 0), (0 0 1)) then
    // moves 5 in z, and its loc comes after its vertices.
    Loaded l = load("AC3Db\nOBJECT world\nkids 1\nOBJECT group\nloc 10 0 0\nkids 2\n"
                    "OBJECT poly\nname \"a\"\nloc 1 2 3\nnumvert 1\n0.5 -0 0\nkids 0\n"
                    "OBJECT poly\nname \"b\"\nrot 0 1 0 -1 0 0 0 0 1\nnumvert 1\n1 0 -0\n"
                    "loc 0 0 5\nkids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    const Vertex &a = l.model.objects[2]->vertices[0];
    EXPECT_EQ(a.x, 11.5f);
    EXPECT_EQ(a.y, 2.0f);
    EXPECT_EQ(a.z, 3.0f);
    const Vertex &b = l.model.objects[3]->vertices[0];
    EXPECT_EQ(b.x, 10.0f);
    EXPECT_EQ(b.y, 1.0f);
    EXPECT_EQ(b.z, 5.0f);

    // A rot that is the identity but for one 1 off its diagonal shears: the
    // vertex (1, 2, 3) gains 1, 2 or 3 on another axis.
    for (int k = 0; k < 9; k++) {
        if (k % 4 == 0)
            continue; /* the diagonal */
        std::string rot = "rot";
        for (int j = 0; j < 9; j++)
            rot += j % 4 == 0 || j == k ? " 1" : " 0";
        l = load("AC3Db\nOBJECT poly\n" + rot + "\nnumvert 1\n1 2 3\nkids 0\n");
        ASSERT_TRUE(l.ok) << l.error;
        float expected[3] = {1, 2, 3};
        expected[k % 3] += float(k / 3 + 1); /* column k / 3, row k % 3 */
        const Vertex &v = l.model.objects[1]->vertices[0];
        EXPECT_EQ(v.x, expected[0]) << rot;
        EXPECT_EQ(v.y, expected[1]) << rot;
        EXPECT_EQ(v.z, expected[2]) << rot;
    }

    // A rot that is the identity but for one 0 on its diagonal flattens that
    // axis.
    for (int k = 0; k < 3; k++) {
        std::string rot = "rot";
        for (int j = 0; j < 9; j++)
            rot += j % 4 == 0 && j != 4 * k ? " 1" : " 0";
        l = load("AC3Db\nOBJECT poly\n" + rot + "\nnumvert 1\n1 2 3\nkids 0\n");
        ASSERT_TRUE(l.ok) << l.error;
        const float *xyz = &l.model.objects[1]->vertices[0].x;
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(xyz[i], i == k ? 0.0f : float(i + 1)) << rot;
    }

    // A loc that moves along z alone.
    l = load("AC3Db\nOBJECT poly\nloc 0 0 5\nnumvert 1\n1 2 3\nkids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.model.objects[1]->vertices[0].z, 8.0f);

    // Numbers below a double's range are zero, or the subnormal they round to.
    l = load("AC3Db\nOBJECT poly\nloc 1e-400 2.5e-320 -1e-400\nnumvert 1\n1 2 3\nkids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.source.frames.at(0).t[0], 0.0);
    EXPECT_EQ(l.source.frames.at(0).t[1], 2.5e-320);
    const Vertex &c = l.model.objects[1]->vertices[0];
    EXPECT_EQ(c.x, 1.0f);
    EXPECT_EQ(c.y, 2.0f);
    EXPECT_EQ(c.z, 3.0f);
}

TEST(AcRead, AMaterialsNameMayStartWithASpace)
{
    std::string text = replaced(box, "MATERIAL \"m\"", "MATERIAL \" m\"");
    Loaded l = load(text);
    EXPECT_TRUE(l.ok) << l.error;
}

TEST(AcRead, SpacesAfterTheLastLineAreNoLine)
{
    Loaded l = load(box + "  \t");
    EXPECT_TRUE(l.ok) << l.error;
    EXPECT_EQ(save(l), box + "  \t");
}

// Words are parted by any blank a C library takes for a space: also vertical
// tabs and form feeds, which some writers leave between numbers.
TEST(AcRead, EveryKindOfBlankPartsWords)
{
    for (const char *blank : {" ", "\t", "\r", "\v", "\f"}) {
        std::string text = std::string("AC3Db\nOBJECT") + blank + "poly\nnumvert 1\n1" + blank +
                           "2" + blank + blank + "3" + blank + "\nkids 0\n";
        Loaded l = load(text);
        ASSERT_TRUE(l.ok) << l.error << " with blank " << int(*blank);
        const acfile::Vertex &v = l.model.objects[1]->vertices.at(0);
        EXPECT_EQ(v.x + 10 * v.y + 100 * v.z, 321) << int(*blank);
        EXPECT_EQ(save(l), text);
    }
}

TEST(AcRead, AFailedReadLeavesTheModelAsItWas)
{
    Model model;
    model.add_object(nullptr, "kept");
    AcSource source;
    std::string error;
    EXPECT_FALSE(read_ac("AC3Db\nOBJECT poly\n", "model.ac", model, source, error));
    ASSERT_EQ(model.objects.size(), 2u);
    EXPECT_EQ(model.objects[1]->name, "kept");
}

// The float std::from_chars reads from "word", which must be all number.
static float from_chars(const std::string &word)
{
    float f = 0;
    const char *begin = word.data() + (word[0] == '+'), *end = word.data() + word.size();
    auto [p, ec] = std::from_chars(begin, end, f);
    EXPECT_TRUE(p == end && ec == std::errc()) << word;
    return f;
}

TEST(AcRead, EveryShapeOfVertexNumberReadsAsFromCharsReadsIt)
{
    // Plain decimals, which are read without a general conversion up to 2^24
    // in digits and 10 digits after the point, the edges of that, and others.
    std::vector<std::string> words = {
        // Two lines of the quick way's: a little above halfway between two
        // floats, with 11 to 16 digits after the point (a power of ten a
        // little off would round them down).
        "80.34848403931", "7.180774450303", "32.9281673431397", "28.41533756256104",
        "1.648974597454072", "0.5566029846668244",
        "0", "-0", "7", "-0.0", "0.5", "16777216", "16777217", "-16777215", "1677721.6",
        "0.1234567891", "0.12345678912", "0.0000000001", "0.00000000001", "12345678.9",
        "1234567890123456789", "12345678901234567890", "0000000000000000000000001",
        "0.3333333333333333333333", "99999999.5", "+1", "1.5e3", "-2E-3", "1e-45", ".5", "-.25",
        "3.4028235e38", "1.17549435e-38", "6.0e-6", "0.999999970198", "4.00000000000000",
        // Up to 2^53 in digits, in double; these two
        // lie so near halfway between two floats that their double is halfway.
        "0.06340537592768669", "-0.0989515520632267", "9007199254740992", "9007199254740993",
        "0.000000000000000001", "0.0000000000000000001", "33554434", "1.000000059604645",
        // Above 2^53 in digits, which a double cannot hold: their digits made
        // a double and divided would round twice, to the wrong float.
        "9.536552906036377", "978.4719543457031", "0.11528604105114937"};
    // The digits of 2^64 + 5, which wrap around to 5 in 64 bits, each in a
    // line of its own (one number read the general way takes its line there).
    for (const char *wraps : {"18446744073709551621", "0.18446744073709551621",
                              "1844674407.3709551621"}) {
        while (words.size() % 3)
            words.push_back("1");
        words.insert(words.end(), {"0", wraps, "0"});
    }
    std::mt19937 random(7);
    for (int i = 0; i < 30000; i++) {
        uint64_t limits[] = {100000000, 10000000000000000};
        std::string digits = std::to_string((uint64_t(random()) << 32 | random()) % limits[i % 2]);
        size_t point = random() % (digits.size() + 4);
        if (point < digits.size())
            digits.insert(digits.size() - point, ".");
        while (digits.size() > 1 && digits[0] == '0' && digits[1] != '.')
            digits.erase(0, 1);
        words.push_back((random() % 2 ? "-" : "") + digits);
    }
    while (words.size() % 3)
        words.push_back("1");
    std::string text = "AC3Db\nOBJECT poly\nnumvert " + std::to_string(words.size() / 3) + "\n";
    for (size_t i = 0; i < words.size(); i += 3)
        text += words[i] + " " + words[i + 1] + " " + words[i + 2] + "\n";
    Loaded l = load(text + "kids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    const std::vector<Vertex> &v = l.model.objects[1]->vertices;
    ASSERT_EQ(v.size() * 3, words.size());
    for (size_t i = 0; i < words.size(); i++) {
        const float *xyz = &v[i / 3].x;
        EXPECT_EQ(bits(xyz[i % 3]), bits(from_chars(words[i]))) << words[i];
    }
}

TEST(AcRead, ObjectLinesInsideDataAreData)
{
    // load() also reads each text on two threads, the second starting on
    // every line that starts with OBJECT: here those inside the data too,
    // which the first thread passes as data, and those in the tree, which it
    // takes over.
    const std::string inside = "OBJECT poly\nnumvert 1\n9 9 9\nkids 0\n";
    Loaded l = load("AC3Db\nOBJECT world\nkids 2\nOBJECT group\nname \"a\"\ndata " +
                    std::to_string(inside.size()) + "\n" + inside +
                    "\nloc 1 0 0\nkids 1\nOBJECT poly\nnumvert 1\n1 2 3\nkids 0\n"
                    "OBJECT poly\nnumvert 1\n4 5 6\nkids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.model.objects.size(), 4u);
    EXPECT_EQ(l.model.objects[2]->parent, l.model.objects[1].get());
    EXPECT_EQ(l.model.objects[2]->vertices[0].x, 2.0f); // placed by its parent's loc
    EXPECT_EQ(l.model.objects[3]->parent, l.model.world);
    EXPECT_EQ(l.model.objects[3]->vertices[0].x, 4.0f);
}

TEST(AcRead, SurfacesOfEveryShapeGiveTheirReferences)
{
    // The usual surface first, then the variants that are read the general
    // way: no mat, two mats, an unknown token, capital or decimal flags,
    // blank lines, tabs, CRLF, leading zeros and exponents.
    Loaded l = load("AC3Db\nOBJECT poly\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 6\n"
                    "SURF 0x10\nmat 1\nrefs 3\n0 0 0\n1 1 0\n2 0.5 1.\n"
                    "SURF 0x10\nrefs 2\n2 0 0\n1 0 0\n"
                    "SURF 0X10\nmat 0\nmat 1\nrefs 1\n0 1e-3 -0.5\n"
                    "SURF 32\nshade smooth\nrefs 2\n\n  002\t.5 +1\n \n1 0 0\n"
                    "SURF 0x0 \r\nmat 0\r\nrefs 1\r\n1 0 nan\r\n"
                    "SURF 0x0\nmat 0\nrefs 0\n"
                    "kids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    const Object *o = l.model.objects[1].get();
    EXPECT_EQ(o->refs, (std::vector<uint32_t>{0, 1, 2, 2, 1, 0, 2, 1, 1}));
    ASSERT_EQ(o->surfaces.size(), 6u);
    EXPECT_EQ(o->surfaces[3].first_ref, 6u);
    EXPECT_EQ(o->surfaces[3].ref_count, 2u);
    EXPECT_EQ(o->surfaces[5].ref_count, 0u);
}

// Vertex and surface lines in their usual forms are read without a general
// conversion (the quick way, which bench/ times); anything else is read the
// general way. Both must give the numbers std::from_chars reads, each vertex
// from the first three words of its line.
static void expect_vertices_as_from_chars(const Loaded &l, const std::string &text)
{
    size_t at = text.find("numvert ");
    ASSERT_NE(at, std::string::npos);
    at = text.find('\n', at) + 1;
    for (const Vertex &v : l.model.objects[1]->vertices) {
        size_t line_end = text.find('\n', at);
        std::istringstream words(text.substr(at, line_end - at));
        std::string x, y, z;
        words >> x >> y >> z;
        EXPECT_EQ(bits(v.x), bits(from_chars(x))) << x;
        EXPECT_EQ(bits(v.y), bits(from_chars(y))) << y;
        EXPECT_EQ(bits(v.z), bits(from_chars(z))) << z;
        at = line_end + 1;
    }
}

TEST(AcRead, VertexAndRefsLinesOfUsualAndOtherFormsReadTheSame)
{
    const std::string usual_text = "AC3Db\nOBJECT poly\nnumvert 8\n"
                        "0 0 0\n-1.5 2 -0.25\n16777216 -16777216 0.0016777216\n"
                        "0.0000000001 7 1677721.6\n1 2 3\r\n\t1\t2\t3  \n  -0 -0.0 10\n"
                        "9007199254740992 0.000000000000000001 0.06340537\n"
                        "numsurf 6\n"
                        "SURF 0x10\nmat 1\nrefs 3\n0 0 0\n1 0.5 1\n2 1 0\n"
                        "SURF 0x10\nmat 1\nrefs 3\n2 0 0\n1 0 0\n0 0 0\n"
                        "SURF 0x10\nrefs 2\n7\t0.12345678901234 -.98765432\n"
                        "                        1 0 0\n"
                        "SURF 0x1F\nrefs 2\n3 -0.25 +1\n"
                        "4 12345678901234567890123456789012345678 0\n"
                        "SURF 16\nmat 0\nrefs 1\n6 .5 7.\n"
                        "SURF 0x0\nrefs 1\n5 0 0\n"
                        "kids 0\n";
    Loaded usual = load(usual_text);
    ASSERT_TRUE(usual.ok) << usual.error;
    expect_vertices_as_from_chars(usual, usual_text);
    /* refs lines up to 31 bytes long, and 32 bytes or more before the end */
    EXPECT_EQ(usual.model.objects[1]->refs,
              (std::vector<uint32_t>{0, 1, 2, 2, 1, 0, 7, 1, 3, 4, 6, 5}));

    const std::string other_text = "AC3Db\nOBJECT poly\nnumvert 9\n"
                        "1e3 0 0\n+1 0 0\n5. 0 0\n16777217 0 9007199254740993\n"
                        "0.00000000000000000000001 0 0\n"
                        "1 2 3 0.5 0.5 0.5\n.5 0 0\nnan 0 0\n00000000000000000001 0 0\n"
                        "numsurf 9\n"
                        "SURF 0X10\nrefs 1\n0 0 0\n"
                        "SURF 0x10\nshade 1\nrefs 1\n1 0 0\n"
                        "SURF 0x10\n\nrefs 1\n2 0 0\n"
                        "SURF 0x10\nrefs 1\n3 1e-3 0\n"
                        "SURF 0x10\nrefs 1\n4 0 100000000000000000000000000000000000000\n"
                        "SURF 0x10\nrefs 1\n0000000005 0 0\n"
                        "SURF 0x0000000000000010\nrefs 1\n6 0 0\n"
                        "SURF 0x10\nmat 0000000000000000000\nrefs 1\n7 0 0\n"
                        "SURF 0x10\nrefs 0000000000000000001\n8 0 0\n"
                        "kids 0\n";
    Loaded other = load(other_text);
    ASSERT_TRUE(other.ok) << other.error;
    expect_vertices_as_from_chars(other, other_text);

    // Indices of two digits, before numvert (the last line too long to be
    // classed at once).
    std::string text = "AC3Db\nOBJECT poly\nnumsurf 1\nSURF 0x0\nrefs 3\n12 0 0\n10 0 0\n"
                       "11 0.0000000000000000000000000001 1\nnumvert 13\n";
    for (int i = 0; i < 13; i++)
        text += "0 0 0\n";
    Loaded late = load(text + "kids 0\n");
    ASSERT_TRUE(late.ok) << late.error;
    EXPECT_EQ(late.model.objects[1]->vertices.size(), 13u);
    EXPECT_EQ(late.model.objects[1]->refs, (std::vector<uint32_t>{12, 10, 11}));
    EXPECT_EQ(other.model.objects[1]->refs, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// A refs line classed at once gives the index its digits make, in each of
// the eight places an index of eight digits fills; read the general way, the
// same.
TEST(AcRead, ARefsLineClassedAtOnceGivesItsIndex)
{
    const struct {
        const char *line;
        uint64_t index;
    } cases[] = {
        {"12345678 0 0", 12345678}, {"87654321 .5 -1", 87654321}, {"99999999 1 1", 99999999},
        {"10000000 0 0", 10000000}, {"00000001 0 0", 1},          {"90807060 0 0", 90807060},
        {"4096 0.25 0.75", 4096},   {"  7\t0.1 0.2\r", 7},       {"0 0 0", 0},
    };
    for (const auto &c : cases) {
        const size_t line_size = std::strlen(c.line) + 1;
        /* the text goes on, or ends 32 bytes after the line's start, or right
           after the line, which is then read the general way */
        for (size_t room : {size_t(40), 32 - line_size, size_t(0)}) {
            const std::string text = std::string(c.line) + "\n" + std::string(room, 'x');
            uint64_t index = 0;
            const char *next = read_plain_ref_line(text.data(), text.data() + text.size(), index);
            ASSERT_EQ(next, text.data() + line_size) << c.line;
            EXPECT_EQ(index, c.index) << c.line;
        }
    }
}

// A line of up to 32 bytes is classed at once, its second 16 bytes looked at
// only when the first hold no line end: its length, its digits and points,
// and its three words, the first and last byte of each. A fourth word, a
// letter, or no line end within the 32 bytes make it no such line. (Letters
// lie before and after it.)
TEST(AcRead, ALineOfUpTo32BytesIsClassedAtOnce)
{
#if defined(__SSE2__)
    const struct {
        const char *line;
        bool three;
        unsigned first[3], last[3];
    } cases[] = {
        {"1 -0.5 +0.25\n", true, {0, 2, 7}, {0, 5, 11}},
        {"  7\t0.1 0.2\r\n", true, {2, 4, 8}, {2, 6, 10}},
        {"123456789012345 1 2\n", true, {0, 16, 18}, {14, 16, 18}},
        {"12345678 0.125 0.8750000000000\n", true, {0, 9, 15}, {7, 13, 29}},
        {"1 2 3 456789012345678\n", false, {}, {}},
        {"1234567890123456 0.5 5x\n", false, {}, {}},
        {"12345678 0.125 0.87500000000000000\n", false, {}, {}},
    };
    for (const auto &c : cases) {
        const std::string text = std::string(16, 'x') + c.line + std::string(32, 'x');
        acfile::ThreeWords w;
        ASSERT_EQ(acfile::three_words(text.data() + 16, w), c.three) << c.line;
        if (!c.three)
            continue;
        EXPECT_EQ(w.length, std::strlen(c.line) - 1) << c.line;
        uint32_t digit = 0, point = 0; /* bit i: byte i of the line */
        for (unsigned i = 0; i < w.length; i++) {
            digit |= uint32_t(c.line[i] >= '0' && c.line[i] <= '9') << i;
            point |= uint32_t(c.line[i] == '.') << i;
        }
        EXPECT_EQ(w.digit, digit) << c.line;
        EXPECT_EQ(w.point, point) << c.line;
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(w.first[k], c.first[k]) << c.line << k;
            EXPECT_EQ(w.last[k], c.last[k]) << c.line << k;
        }
    }
#endif
}

// The quick way must refuse what the general way refuses: a character just
// past the digits ('/' before '0', ':' after '9', 'g' after 'f' in the
// hexadecimal flags) ends no number, and a number past a float's range or a
// count's digits is no usual line. Each is refused at its own line.
TEST(AcRead, TheQuickWayRefusesWhatTheGeneralWayRefuses)
{
    const std::string nines(39, '9'), digits19 = "1" + std::string(18, '0');
    const struct {
        const char *line;
        std::string broken;
        int number;
    } cases[] = {
        {"1 0 0\n", "1: 0 0\n", 9},        {"1 0 0\n", "1/ 0 0\n", 9},
        {"1 0 0\n", "1.5: 0 0\n", 9},      {"1 0 0\n", "1.5/ 0 0\n", 9},
        {"1 0 0\n", "1 0 0:\n", 9},        {"2 1 1\n", "2: 1 1\n", 18},
        {"2 1 1\n", "2 1: 1\n", 18},       {"2 1 1\n", "2 1.5: 1\n", 18},
        {"2 1 1\n", "2 1.5/ 1\n", 18},     {"2 1 1\n", "2 1 " + nines + "\n", 18},
        {"2 1 1\n", "2 1 -" + nines + ".5\n", 18}, {"2 1 1\n", "2 . 1\n", 18},
        {"2 1 1\n", "2 1 -\n", 18},      {"2 1 1\n", "2 1-5 1\n", 18},
        {"2 1 1\n", "2 1.5.5 1\n", 18},  {"2 1 1\n", "2 ,5 1\n", 18},
        {"2 1 1\n", "2 *5 1\n", 18},     {"2 1 1\n", "2 /5 1\n", 18},
        {"2 1 1\n", "+2 1 1\n", 18},     {"2 1 1\n", "123456789 1 1\n", 18},
        {"2 1 1\n", "2 1\b1\n", 18},    {"2 1 1\n", "2 1\x0e" "1\n", 18},
        {"SURF 0x10\n", "SURF 0x1g\n", 13}, {"SURF 0x10\n", "SURF 0x1G\n", 13},
        {"SURF 0x10\n", "SURF 0x1:\n", 13}, {"SURF 0x10\n", "SURF 0x1/\n", 13},
        {"SURF 0x10\n", "SURF 0x1@\n", 13}, {"SURF 0x10\n", "SURF 0x1`\n", 13},
        {"mat 0\n", "mat 0:\n", 14},       {"refs 3\n", "refs 3:\n", 15},
        {"refs 3\n", "refs " + digits19 + "\n", 19}, /* 3 refs, then SURF */
    };
    for (const auto &c : cases) {
        Loaded l = load(replaced(box, c.line, c.broken));
        EXPECT_FALSE(l.ok) << c.broken;
        EXPECT_EQ(l.error.rfind("model.ac:" + std::to_string(c.number) + ": expected ", 0), 0u)
            << c.broken << l.error;
    }
}

/* }====== */

/* {====== Files that come back byte for byte ====== */

struct RoundTrip {
    const char *name;
    std::string text;
};

class AcRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(AcRoundTrip, ComesBackByteForByte)
{
    Loaded l = load(GetParam().text);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(save(l), GetParam().text);
}

static std::string with_crlf(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Files, AcRoundTrip,
    ::testing::Values(
        RoundTrip{"Box", box}, RoundTrip{"CrLf", with_crlf(box)},
        RoundTrip{"ByteOrderMark", "\xEF\xBB\xBF" + box},
        RoundTrip{"NoNewlineAtTheEnd", box.substr(0, box.size() - 1)},
        RoundTrip{"EmptyAndOneByteData",
                  replaced(box, "name \"box\"\n", "name \"box\"\ndata 0\ndata 1\nx\n")},
        RoundTrip{"DataWithNewlines",
                  replaced(box, "name \"box\"\n", "data 12\nhello\r\nworld\nname \"box\"\n")},
        RoundTrip{"UnknownTokensEverywhere",
                  "AC3Dc\nCOMMENT anything\nOBJECT poly\nshader \"x\" 1\nnumvert 1\n1 2 3\n"
                  "numsurf 1\nSURF 0x0\nsmooth yes\nmat 0\nrefs 1\n0 0 0\nkids 0\n"},
        RoundTrip{"NoWorldSeveralRootsTrailingEmptyLine",
                  "AC3Db\nOBJECT poly\nnumvert 1\n1 2 3\nkids 0\nOBJECT poly\nkids 0\n\n"},
        RoundTrip{"OddNumbers",
                  "AC3Db\nOBJECT poly\nnumvert 3\n-1.11759e-007 1e-45 -0\n-0.0 +1.50 1E+002\n"
                  "nan inf -1e-50\nkids 0\n"},
        RoundTrip{
            "LineSurfacesAndEveryToken",
            "AC3Db\nMAT \"m\"\nrgb 1 1 1\nENDMAT\nOBJECT poly\nname \"l i n e\"\n"
            "texture \"a b.png\"\ntexrep -1 1\ntexoff 0.09 0\nurl http://x\ncrease 45.0\n"
            "subdiv 1\nhidden\nlocked\nfolded\nnumsurf 1\nSURF 0X32\nmat 1\nrefs 2\n"
            "0 0 0\n1 0 0\nrot 1 0 0 0 1 0 0 0 1\nloc 0 0 0\nnumvert 2\n0 0 0\n1 1 1\nkids 0\n"},
        // (the second surface's head one byte above the first's)
        RoundTrip{"SurfacesWhoseRefsCountsDiffer",
                  "AC3Db\nOBJECT poly\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 2\n"
                  "SURF 0x10\nmat 0\nrefs 3\n0 0 0\n1 0 0\n2 0 0\n"
                  "SURF 0x10\nmat 0\nrefs 4\n0 0 0\n1 0 0\n2 0 0\n0 0 0\nkids 0\n"},
        RoundTrip{"SpacingBlankLinesAndNormals",
                  "AC3Db\n\nOBJECT\tpoly \n  numvert  2\n\n\t0  0\t0   1 0 0\n \n1 1 1 \nkids 0"}),
    [](const ::testing::TestParamInfo<RoundTrip> &info) { return std::string(info.param.name); });

/* }====== */

/* {====== Moved vertices ====== */

TEST(AcWrite, MovingOneVertexRewritesOnlyItsLineInShortestForm)
{
    Loaded l = load(box);
    ASSERT_TRUE(l.ok) << l.error;
    Vertex &v = l.model.objects[1]->vertices[1];
    v.x = 0.1f, v.y = 1.0f / 3, v.z = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(save(l), replaced(box, "1 0 0\n", "0.1 0.33333334 1e-45\n"));
    v.x = 1, v.y = 0, v.z = 0;
    EXPECT_EQ(save(l), box); // back where it was read: the original line
}

TEST(AcWrite, ARewrittenLineKeepsItsIndentExtraFieldsAndCrLf)
{
    std::string text =
        "AC3Db\r\nOBJECT poly\r\nnumvert 2\r\n  1 0 0 \t0.5 0.5 0.5 \r\n1 1 1\r\nkids 0\r\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    l.model.objects[1]->vertices[0].x = 2;
    EXPECT_EQ(save(l), replaced(text, "  1 0 0 \t", "  2 0 0 \t"));
}

TEST(AcWrite, MovedMeansOtherBitsSoSignedZeroMovesAndTheSameNanDoesNot)
{
    std::string text = "AC3Db\nOBJECT poly\nnumvert 2\n0 0 0\nnan 1 2\nkids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    std::vector<Vertex> &v = l.model.objects[1]->vertices;
    float nan = v[1].x;
    v[1].x = nan; // same bits
    EXPECT_EQ(save(l), text);
    v[0].z = -0.0f;
    v[1].x = -nan;
    EXPECT_EQ(save(l), "AC3Db\nOBJECT poly\nnumvert 2\n0 0 -0\n-nan 1 2\nkids 0\n");

    // The smallest step up on any one axis is a move.
    text = "AC3Db\nOBJECT poly\nnumvert 3\n1 1 1\n1 1 1\n1 1 1\nkids 0\n";
    l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    for (int k = 0; k < 3; k++) {
        float *xyz = &l.model.objects[1]->vertices[k].x;
        xyz[k] = std::nextafter(1.0f, 2.0f);
    }
    EXPECT_EQ(save(l), "AC3Db\nOBJECT poly\nnumvert 3\n1.0000001 1 1\n1 1.0000001 1\n"
                       "1 1 1.0000001\nkids 0\n");

    // An axis that did not move keeps its text beside one that did, also
    // when it holds no finite number, with a loc or none.
    for (std::string frame : {"", "loc 1 2 3\n"}) {
        text = "AC3Db\nOBJECT poly\n" + frame + "numvert 2\n4 inf -5\nnan 6 -inf\nkids 0\n";
        l = load(text);
        ASSERT_TRUE(l.ok) << l.error;
        std::vector<Vertex> &w = l.model.objects[1]->vertices;
        w[0].x += 1;
        w[1].y += 1;
        EXPECT_EQ(save(l), replaced(replaced(text, "4 inf -5", "5 inf -5"), "nan 6 -inf",
                                    "nan 7 -inf")) << frame;
    }
}

TEST(AcWrite, TheWorldObjectsOwnVerticesAreWrittenWhereTheyAre)
{
    std::string text = "AC3Db\nOBJECT world\nnumvert 2\n0 0 0\n1 0 0\nkids 1\n"
                       "OBJECT poly\nnumvert 2\n5 5 5\n6 6 6\nkids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    l.model.world->vertices[1].y = 2;
    l.model.objects[1]->vertices[0].z = 7;
    EXPECT_EQ(save(l), replaced(replaced(text, "1 0 0\n", "1 2 0\n"), "5 5 5\n", "5 5 7\n"));
}

TEST(AcWrite, ObjectsTheModelNoLongerHasAreLeftAsRead)
{
    Loaded l = load(box);
    ASSERT_TRUE(l.ok) << l.error;
    l.model.objects.back()->vertices[0].x = 5;
    l.model.objects.pop_back();
    EXPECT_EQ(save(l), box);
}

TEST(AcWrite, AMovedVertexIsWrittenInItsObjectsFrame)
{
    std::string text = "AC3Db\nOBJECT world\nkids 1\nOBJECT group\nloc 10 0 0\nkids 2\n"
                       "OBJECT poly\nloc 1 2 3\nnumvert 1\n0.5 0 0\nkids 0\n"
                       "OBJECT poly\nrot 0 1 0 -1 0 0 0 0 1\nloc 0 0 5\nnumvert 1\n1 0 0\nkids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    Vertex &a = l.model.objects[2]->vertices[0];
    Vertex &b = l.model.objects[3]->vertices[0];
    a.x = 12.75f;                        // 1.75 in a's frame
    b.x = 10, b.y = 2, b.z = 4;          // (2, 0, -1) before b's turn and move
    std::string out = save(l);
    EXPECT_EQ(out, replaced(replaced(text, "0.5 0 0\n", "1.75 0 0\n"), "1 0 0\n", "2 0 -1\n"));
    Loaded again = load(out);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.model.objects[2]->vertices[0].x, 12.75f);
    EXPECT_EQ(again.model.objects[3]->vertices[0].y, 2.0f);
    EXPECT_EQ(again.model.objects[3]->vertices[0].z, 4.0f);
}

// A vertex moved from or to a place that is not finite has no change to add
// to its numbers as read: it is written from its world position.
TEST(AcWrite, AVertexMovedFromOrToInfinityIsWrittenFromWhereItIs)
{
    std::string text = "AC3Db\nOBJECT poly\nloc 1 1 -1\nnumvert 2\ninf -inf nan\n1 2 3\nkids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    Vertex &a = l.model.objects[1]->vertices[0];
    Vertex &b = l.model.objects[1]->vertices[1];
    a.x = 5, a.y = 6, a.z = 7;
    b.x = std::numeric_limits<float>::infinity();
    b.z = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(save(l), replaced(replaced(text, "inf -inf nan\n", "4 5 8\n"), "1 2 3\n",
                                "inf 2 nan\n"));

    // The same through a quarter turn about z: world (5, 6, 7) is (6, -5, 7).
    text = "AC3Db\nOBJECT poly\nrot 0 1 0 -1 0 0 0 0 1\nnumvert 1\ninf inf inf\nkids 0\n";
    l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    Vertex &c = l.model.objects[1]->vertices[0];
    c.x = 5, c.y = 6, c.z = 7;
    EXPECT_EQ(save(l), replaced(text, "inf inf inf\n", "6 -5 7\n"));
}

/* }====== */

/* {====== Broken files ====== */

struct Broken {
    const char *name;
    std::string text;
    std::string message;
};

class AcBroken : public ::testing::TestWithParam<Broken> {};

TEST_P(AcBroken, IsRejectedNamingTheLine)
{
    Loaded l = load(GetParam().text);
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, GetParam().message);
}

static const std::string tiny = "AC3Db\nOBJECT poly\n";

INSTANTIATE_TEST_SUITE_P(
    Files, AcBroken,
    ::testing::Values(
        Broken{"Empty", "",
               "model.ac:1: expected the AC3D header (such as AC3Db), found end of file"},
        Broken{"NotAc3d", "hello\n",
               "model.ac:1: expected the AC3D header (such as AC3Db), found \"hello\""},
        Broken{"LongerHeader", "AC3Dbc\n",
               "model.ac:1: expected the AC3D header (such as AC3Db), found \"AC3Dbc\""},
        Broken{"WordsAfterTheHeader", "AC3Db made by hand\r\nOBJECT poly\nkids 0\n",
               "model.ac:1: expected the AC3D header (such as AC3Db), found \"AC3Db made by hand\""},
        Broken{"WordInAVertex", replaced(box, "1 0 0\n", "1.0 abc 2.0\n"),
               "model.ac:9: expected 3 numbers for a vertex, found \"1.0 abc 2.0\""},
        Broken{"TwoNumbersForAVertex", replaced(box, "0 1 0\n", "0 1\n"),
               "model.ac:11: expected 3 numbers for a vertex, found \"0 1\""},
        Broken{"BeyondAFloat", replaced(box, "1 1 0\n", "1e39 1 0\n"),
               "model.ac:10: expected 3 numbers for a vertex within a float's range, found \"1e39 1 0\""},
        Broken{"EndInTheVertices", box.substr(0, box.find("1 1 0\n")),
               "model.ac:7: expected 4 vertex lines, found end of file after 2"},
        Broken{"MoreVerticesThanNumvert", replaced(box, "numvert 4", "numvert 3"),
               "model.ac:11: expected 3 vertex lines, found more: \"0 1 0\""},
        Broken{"MoreVerticesThanNumvertANan",
               replaced(replaced(box, "numvert 4", "numvert 3"), "0 1 0\n", "nan 1 0\n"),
               "model.ac:11: expected 3 vertex lines, found more: \"nan 1 0\""},
        // A word of the object's own that starts with a letter or "_" is kept as
        // a token another writer added; anything else is no token.
        Broken{"NoTokenInAnObject", replaced(box, "numvert 4\n", "9lives 1\nnumvert 4\n"),
               "model.ac:7: expected a token of an OBJECT, such as name, loc, numvert or kids, "
               "found \"9lives 1\""},
        Broken{"NoTokenInAnObjectAfterAToken",
               replaced(box, "numvert 4\n", "_lives 1\n-lives 1\nnumvert 4\n"),
               "model.ac:8: expected a token of an OBJECT, such as name, loc, numvert or kids, "
               "found \"-lives 1\""},
        Broken{"FewerVerticesThanNumvert", replaced(box, "numvert 4", "numvert 5"),
               "model.ac:12: expected 3 numbers for a vertex, found \"numsurf 2\""},
        Broken{"RefPastNumvert", replaced(box, "3 0 0\n", "4 0 0\n"),
               "model.ac:23: expected a vertex index below numvert 4, found \"4 0 0\""},
        // (found on its line, before the broken kids line after it)
        Broken{"RefPastNumvertReadTheGeneralWay",
               replaced(replaced(box, "2 1 1\n", "4 1 1e0\n"), "kids 0\n", "kids none\n"),
               "model.ac:18: expected a vertex index below numvert 4, found \"4 1 1e0\""},
        Broken{"RefWithAFourthNumber", replaced(box, "2 1 1\n", "2 1 1 5\n"),
               "model.ac:18: expected a vertex index and 2 texture coordinates, found \"2 1 1 5\""},
        Broken{"RefPastNumvertGivenLater",
               tiny + "numsurf 1\nSURF 0x0\nrefs 1\n99999999999 0 0\nnumvert 1\n0 0 0\nkids 0\n",
               "model.ac:6: expected a vertex index below numvert 1, found \"99999999999 0 0\""},
        Broken{"RefPastNumvertAfterSurfacesOfTheSameLines",
               tiny + "numvert 2\n0 0 0\n1 0 0\nnumsurf 3\n"
                      "SURF 0x10\nmat 0\nrefs 1\n0 0 0\nSURF 0x10\nmat 0\nrefs 1\n1 0 0\n"
                      "SURF 0x10\nmat 0\nrefs 1\n2 0 0\nkids 0\n",
               "model.ac:18: expected a vertex index below numvert 2, found \"2 0 0\""},
        Broken{"SignedRefBeforeNumvert",
               tiny + "numsurf 1\nSURF 0x0\nrefs 1\n+1 0 0\nnumvert 2\n0 0 0\n0 0 0\nkids 0\n",
               "model.ac:6: expected a vertex index and 2 texture coordinates, found \"+1 0 0\""},
        Broken{"RefPastNumvertGivenLaterTheLastHighest",
               tiny + "numsurf 2\nSURF 0x0\nrefs 2\n3 0 0\n1 0 0\nSURF 0x0\nmat 0\nrefs 1\n"
                      "3 0.5 0.5\nnumvert 2\n0 0 0\n0 0 0\nkids 0\n",
               "model.ac:11: expected a vertex index below numvert 2, found \"3 0.5 0.5\""},
        Broken{"RefWithoutAnyVertex", tiny + "numsurf 1\nSURF 0x0\nrefs 1\n0 0 0\nkids 0\n",
               "model.ac:6: expected a vertex index below numvert 0, found \"0 0 0\""},
        Broken{"RefPastNumvertGivenLaterThenALowerOne",
               tiny + "numsurf 1\nSURF 0x0\nrefs 2\n3 0 0\n1 0 0\nnumvert 2\n0 0 0\n0 0 0\nkids 0\n",
               "model.ac:6: expected a vertex index below numvert 2, found \"3 0 0\""},
        // (the second surface read the general way)
        Broken{"RefPastNumvertGivenLaterTheLastHighestReadTheGeneralWay",
               tiny + "numsurf 2\nSURF 0x0\nrefs 2\n3 0 0\n1 0 0\nSURF 0x0\nmat 0\nrefs 1\n"
                      "3 0.5 1e0\nnumvert 2\n0 0 0\n0 0 0\nkids 0\n",
               "model.ac:11: expected a vertex index below numvert 2, found \"3 0.5 1e0\""},
        Broken{"WordInARef", replaced(box, "2 1 1\n", "2 x 1\n"),
               "model.ac:18: expected a vertex index and 2 texture coordinates, found \"2 x 1\""},
        Broken{"EndInTheRefs", box.substr(0, box.find("2 1 1\n")),
               "model.ac:15: expected 3 refs lines, found end of file after 2"},
        Broken{"MoreRefsThanCount", replaced(box, "refs 2", "refs 1"),
               "model.ac:23: expected 1 refs line, found more: \"3 0 0\""},
        Broken{
            "FewerRefsThanCount", replaced(box, "refs 3", "refs 4"),
            "model.ac:19: expected a vertex index and 2 texture coordinates, found \"SURF 0x22\""},
        Broken{"FewerSurfacesThanNumsurf", replaced(box, "numsurf 2", "numsurf 3"),
               "model.ac:24: expected SURF to start surface 3 of 3, found \"kids 0\""},
        Broken{"MoreSurfacesThanNumsurf", replaced(box, "numsurf 2", "numsurf 1"),
               "model.ac:19: expected 1 surface, found more: \"SURF 0x22\""},
        Broken{"FewerKidsThanCount", replaced(box, "kids 1", "kids 2"),
               "model.ac:4: expected 2 kids, found end of file after 1"},
        Broken{"MoreKidsThanCount", replaced(box, "kids 1", "kids 0"),
               "model.ac:5: expected the end of the file after the world object, found \"OBJECT poly\""},
        Broken{"FewerKidsThanCountBelowTheTop",
               "AC3Db\nOBJECT world\nkids 1\nOBJECT group\nkids 2\nOBJECT poly\nkids 0\n",
               "model.ac:5: expected 2 kids, found end of file after 1"},
        Broken{"MoreKidsThanCountAndNoKidsLine",
               replaced(box, "kids 1", "kids 0").substr(0, box.size() - 7),
               "model.ac:5: expected the end of the file after the world object, found \"OBJECT poly\""},
        Broken{"NoKidsLine", box.substr(0, box.size() - 7),
               "model.ac:5: expected a kids line to end the OBJECT, found end of file"},
        Broken{"ObjectBeforeKids", replaced(box, "kids 0\n", "OBJECT poly\nkids 0\n"),
               "model.ac:24: expected kids before the next OBJECT, found \"OBJECT poly\""},
        Broken{"NegativeCount", replaced(box, "numvert 4", "numvert -1"),
               "model.ac:7: expected a count of 0 or more, found \"numvert -1\""},
        Broken{"CountTheFileCannotHold", tiny + "numvert 1000\n0 0 0\n",
               "model.ac:3: expected 1000 vertex lines, found end of file after 1"},
        Broken{"HugeSurfaceCountBeforeALastLineWithoutItsEnd",
               tiny + "numsurf 99999999999999999999\nabcdefghijklm",
               "model.ac:3: expected at most 1 surface in the rest of the file, found "
               "\"numsurf 99999999999999999999\""},
        Broken{"HugeCount", tiny + "numsurf 99999999999999999999\n",
               "model.ac:3: expected at most 0 surfaces in the rest of the file, found \"numsurf 99999999999999999999\""},
        // (the last line may lack its "\n": "abcde" could be a vertex line)
        Broken{"HugeCountBeforeALastLineWithoutItsEnd",
               tiny + "numvert 99999999999999999999\nabcde",
               "model.ac:3: expected at most 1 vertex line in the rest of the file, found "
               "\"numvert 99999999999999999999\""},
        Broken{"HugeKidsCountBeforeALastLineWithoutItsEnd",
               tiny + "kids 99999999999999999999\nOBJECT poly\nkid",
               "model.ac:3: expected at most 1 kid in the rest of the file, found "
               "\"kids 99999999999999999999\""},
        Broken{"HugeRefsCount", replaced(box, "refs 3", "refs 99999999999999999999"),
               "model.ac:15: expected at most 10 refs lines in the rest of the file, found "
               "\"refs 99999999999999999999\""},
        Broken{"WordForACount", replaced(box, "numvert 4", "numvert four"),
               "model.ac:7: expected numvert and a count, found \"numvert four\""},
        Broken{"DataPastTheEnd", tiny + "data 100\nabc\nkids 0\n",
               "model.ac:3: expected at most 11 bytes of data in the rest of the file, found \"data 100\""},
        Broken{"DataEndsTheFile", tiny + "data 3\nabc",
               "model.ac:2: expected a kids line to end the OBJECT, found end of file"},
        Broken{"DataShorterThanItsLine", tiny + "data 2\nabc\nkids 0\n",
               "model.ac:4: expected the end of the line after 2 bytes of data, found \"c\""},
        Broken{"LinesCountedThroughData", tiny + "data 5\na\nb\nc\nnumvert x\n",
               "model.ac:7: expected numvert and a count, found \"numvert x\""},
        Broken{"MatWithoutEndmat", "AC3Db\nMAT \"x\"\nrgb 1 1 1\n",
               "model.ac:2: expected ENDMAT to close the MAT, found end of file"},
        Broken{"TwoNumbersForLoc", replaced(box, "numvert 4", "loc 1 2\nnumvert 4"),
               "model.ac:7: expected 3 finite numbers after loc, found \"loc 1 2\""},
        Broken{"NanInLoc", replaced(box, "numvert 4", "loc nan 0 0\nnumvert 4"),
               "model.ac:7: expected 3 finite numbers after loc, found \"loc nan 0 0\""},
        Broken{
            "WordInRot", replaced(box, "numvert 4", "rot 1 0 0 0 one 0 0 0 1\nnumvert 4"),
            "model.ac:7: expected 9 finite numbers after rot, found \"rot 1 0 0 0 one 0 0 0 1\""},
        Broken{"LocBeyondADouble", replaced(box, "numvert 4", "loc 0 1e309 0\nnumvert 4"),
               "model.ac:7: expected 3 finite numbers after loc, found \"loc 0 1e309 0\""},
        Broken{"AWordWhereAKidShouldBe", replaced(box, "kids 1", "kids 2") + "hello\n",
               "model.ac:25: expected OBJECT for kid 2 of 2, found \"hello\""},
        Broken{"OnlyAByteOrderMark", "\xEF\xBB\xBF",
               "model.ac:1: expected the AC3D header (such as AC3Db), found end of file"},
        Broken{"TwoLocs", replaced(box, "numvert 4", "loc 1 2 3\nloc 1 2 3\nnumvert 4"),
               "model.ac:8: expected one loc per object, found another: \"loc 1 2 3\""},
        Broken{"UnclosedName", replaced(box, "name \"box\"", "name \"box"),
               "model.ac:6: expected a name in double quotes, found \"name \\\"box\""},
        Broken{"WordForSurfFlags", replaced(box, "SURF 0x10", "SURF flat"),
               "model.ac:13: expected SURF and its flags (such as 0x10), found \"SURF flat\""},
        // (the message names the SURF's line too: in the second object, so
        // also as read ahead from its OBJECT line, counted from there)
        Broken{"TokenBeforeTheRefsOfASurf", replaced(box, "mat 0\nrefs 2", "mat 0\nloc 0 0 0\nrefs 2"),
               "model.ac:21: expected refs to end the SURF on line 19, found \"loc 0 0 0\""},
        Broken{"EndBeforeTheRefsOfASurf", box.substr(0, box.find("refs 2")),
               "model.ac:19: expected refs to end the SURF, found end of file"},
        Broken{"WordForMat", replaced(box, "mat 0", "mat red"),
               "model.ac:14: expected mat and a material number, found \"mat red\""},
        Broken{"ObjectWithoutType", replaced(box, "OBJECT poly", "OBJECT"),
               "model.ac:5: expected OBJECT and its type, found \"OBJECT\""},
        Broken{"NumbersAtTheTop", "AC3Db\n1 2 3\n",
               "model.ac:2: expected MATERIAL or OBJECT, found \"1 2 3\""},
        Broken{"CrLfLinesShowNoCr", with_crlf(replaced(box, "0 1 0\n", "0 1 x\n")),
               "model.ac:11: expected 3 numbers for a vertex, found \"0 1 x\""},
        Broken{"TextureCoordinateBeyondAFloat",
               replaced(box, "2 1 1\n", "2 1 999999999999999999999999999999999999999\n"),
               "model.ac:18: expected a vertex index and 2 texture coordinates, found "
               "\"2 1 999999999999999999999999999999999999999\""},
        // (its last word from the 17th byte on, where the line is classed
        // 16 bytes at a time)
        Broken{"SignAfterTheDigitsOfALaterCoordinate", replaced(box, "2 1 1\n", "2 0.12345678901  5-\n"),
               "model.ac:18: expected a vertex index and 2 texture coordinates, found \"2 0.12345678901  5-\""},
        Broken{"RefJoinedToACoordinate", replaced(box, "2 1 1\n", "2-1 1\n"),
               "model.ac:18: expected a vertex index and 2 texture coordinates, found \"2-1 1\""},
        Broken{"SurfInSmallLetters", replaced(box, "SURF 0x10", "surf 0x10"),
               "model.ac:13: expected SURF to start surface 1 of 2, found \"surf 0x10\""},
        Broken{"SurfJoinedToItsFlags", replaced(box, "SURF 0x10", "SURF0x10"),
               "model.ac:13: expected SURF to start surface 1 of 2, found \"SURF0x10\""},
        Broken{"ColonInAVertex", replaced(box, "1 0 0\n", "1: 0 0\n"),
               "model.ac:9: expected 3 numbers for a vertex, found \"1: 0 0\""},
        Broken{"SlashInARef", replaced(box, "2 1 1\n", "2/ 1 1\n"),
               "model.ac:18: expected a vertex index and 2 texture coordinates, found \"2/ 1 1\""},
        Broken{"SurfWithoutFlags", replaced(box, "SURF 0x10", "SURF "),
               "model.ac:13: expected SURF and its flags (such as 0x10), found \"SURF\""},
        Broken{"SurfWithAnEmptyHexNumber", replaced(box, "SURF 0x10", "SURF 0x"),
               "model.ac:13: expected SURF and its flags (such as 0x10), found \"SURF 0x\""},
        Broken{"RefsWithoutACount", replaced(box, "refs 3", "refs "),
               "model.ac:15: expected refs and a count, found \"refs\""},
        Broken{"MatWithoutANumber", replaced(box, "mat 0", "mat "),
               "model.ac:14: expected mat and a material number, found \"mat\""},
        // A material number is decimal, and alone on its line; flags are
        // hexadecimal after 0x or decimal.
        Broken{"MatInHexadecimal", replaced(box, "mat 0", "mat 0x0"),
               "model.ac:14: expected mat and a material number, found \"mat 0x0\""},
        Broken{"MatWithALetter", replaced(box, "mat 0", "mat 0a"),
               "model.ac:14: expected mat and a material number, found \"mat 0a\""},
        Broken{"MatWithTwoNumbers", replaced(box, "mat 0", "mat 0 1"),
               "model.ac:14: expected mat and a material number, found \"mat 0 1\""},
        Broken{"SurfWithAnotherLetterThanX", replaced(box, "SURF 0x10", "SURF 5x10"),
               "model.ac:13: expected SURF and its flags (such as 0x10), found \"SURF 5x10\""},
        // Text that is UTF-8 is shown as it is, one to four bytes a
        // character; anything else byte by byte: overlong forms, surrogates,
        // past U+10FFFF, a sequence cut short by another character or the end.
        Broken{"FoundShowsUtf8AndEscapesTheRest",
               replaced(box, "0 1 0\n",
                        "0 1 \xC2\xA9\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80"
                        "\xF4\x8F\xBF\xBF\xEF\xBF\xBD \xC1\xBF\xE0\x9F\xBF\xED\xA0\x80\xF0\x8F\xBF\xBF"
                        "\xF4\x90\x80\x80\xF5\x80\x80\x80\xC2\x7F\xF5\xC2"
                        "A\xE2\x82\x7F\xE2\x82\xE2\x82\xC0\xE2\x82\n"),
               "model.ac:11: expected 3 numbers for a vertex, found \"0 1 \xC2\xA9\xDF\xBF"
               "\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBD "
               "\\xc1\\xbf\\xe0\\x9f\\xbf\\xed\\xa0\\x80\\xf0\\x8f\\xbf\\xbf"
               "\\xf4\\x90\\x80\\x80\\xf5\\x80\\x80\\x80\\xc2\\x7f\\xf5\\xc2A\\xe2\\x82\\x7f\\xe2\\x82\\xe2\\x82\\xc0\\xe2\\x82\""},
        Broken{"FoundEndsWithAWholeCharacter", replaced(box, "0 1 0\n", "0 1 \xC2\xA9\n"),
               "model.ac:11: expected 3 numbers for a vertex, found \"0 1 \xC2\xA9\""},
        Broken{"FoundIsClippedAndEscaped",
               replaced(box, "0 1 0\n", "0 \"1\"\t\x01~\x1f\x7f" + std::string(70, 'y') + "\n"),
               "model.ac:11: expected 3 numbers for a vertex, found \"0 \\\"1\\\"\\t\\x01~\\x1f\\x7f" +
                   std::string(50, 'y') + "...\""}),
    [](const ::testing::TestParamInfo<Broken> &info) { return std::string(info.param.name); });

/* }====== */

/* {====== Real files from other tools ====== */

struct Sample {
    const char *file;
    size_t objects, vertices, surfaces; // objects include a world that the file lacks
};

static const Sample samples[] = {
    {"assimp-closedline_0x21.ac", 2, 4, 1},
    {"assimp-nosurfaces_points_only.ac", 2, 7, 0},
    {"assimp-sample_subdiv.ac", 2, 26, 36},
    {"assimp-sphere_light_texture_subdiv.ac", 3, 134, 144},
    {"assimp-sphere_utf8bom.ac", 3, 134, 144},
    {"plib-dog_open_lines.ac", 13, 176, 198},
    {"plib-human_texoff_texrep_lines.ac", 4, 173, 215},
    {"plib-tuxedo_group_hierarchy.ac", 5, 146, 254},
};

static std::string sample_path(const std::string &file)
{
    return std::string(CORRUGO_AC_SAMPLES) + "/" + file;
}

static std::string contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(AcSamples, ReadWithTheirObjectVertexAndSurfaceCounts)
{
    SKIP_WITHOUT_SAMPLES();
    for (const Sample &s : samples) {
        Model model;
        AcSource source;
        std::string error;
        ASSERT_TRUE(read_ac_file(sample_path(s.file), model, source, error)) << error;
        size_t surfaces = 0;
        for (const auto &o : model.objects)
            surfaces += o->surfaces.size();
        EXPECT_EQ(model.objects.size(), s.objects) << s.file;
        EXPECT_EQ(count_vertices(model), s.vertices) << s.file;
        EXPECT_EQ(surfaces, s.surfaces) << s.file;
    }
}

TEST(AcSamples, KeepTheirNamesHierarchySubdivisionAndPlaces)
{
    SKIP_WITHOUT_SAMPLES();
    Model model;
    AcSource source;
    std::string error;
    ASSERT_TRUE(read_ac_file(sample_path("plib-tuxedo_group_hierarchy.ac"), model, source, error));
    ASSERT_EQ(model.world->children.size(), 1u);
    EXPECT_EQ(model.world->children[0]->name, "Tuxedo.T.Penguin");
    EXPECT_EQ(model.world->children[0]->children.size(), 3u);
    ASSERT_TRUE(read_ac_file(sample_path("assimp-sphere_utf8bom.ac"), model, source, error));
    EXPECT_EQ(model.objects[1]->name, "中国菜中国菜2");
    ASSERT_TRUE(read_ac_file(sample_path("assimp-sample_subdiv.ac"), model, source, error));
    EXPECT_TRUE(model.objects[1]->subdivided);
    ASSERT_TRUE(read_ac_file(sample_path("assimp-closedline_0x21.ac"), model, source, error));
    const Vertex &v = model.objects[1]->vertices[0]; // -1 0.5 0 at loc 1 0.5 0
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(v.y, 1.0f);
    EXPECT_EQ(v.z, 0.0f);
}

TEST(AcSamples, EveryOneComesBackByteForByte)
{
    SKIP_WITHOUT_SAMPLES();
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(CORRUGO_AC_SAMPLES)) {
        if (entry.path().extension() != ".ac")
            continue;
        files++;
        std::string text = contents(entry.path());
        Loaded l = load(text);
        ASSERT_TRUE(l.ok) << l.error;
        EXPECT_TRUE(save(l) == text) << entry.path();
    }
    EXPECT_GE(files, 8);
}

/* }====== */

/* {====== Files on disk ====== */

class AcFile : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "acfileXXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            found.push_back(entry.path().filename());
        return found;
    }
    void put(const std::string &path, const std::string &text, mode_t mode)
    {
        std::ofstream(path, std::ios::binary) << text;
        chmod(path.c_str(), mode);
    }
};

// Saving follows links to the file they finally name: absolute or relative
// (to the folder that holds the link, or the current one), up to 40 of them;
// more, or a loop, is refused. Two names are the same file when both lead to
// one, or when neither exists and both lead to one place.
TEST_F(AcFile, LinksAreFollowedToTheFileTheyName)
{
    std::string file = dir + "/model.ac";
    put(file, box, 0644);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(file.c_str(), (dir + "/sub/absolute").c_str()), 0);
    ASSERT_EQ(symlink("../model.ac", (dir + "/sub/relative").c_str()), 0);
    ASSERT_EQ(symlink("sub/relative", (dir + "/bare").c_str()), 0);
    std::string previous = "model.ac";
    for (int i = 1; i <= 41; i++) { /* chain/1 -> model.ac, chain/2 -> chain/1, ... */
        std::string name = "chain" + std::to_string(i);
        ASSERT_EQ(symlink(previous.c_str(), (dir + "/" + name).c_str()), 0);
        previous = name;
    }
    ASSERT_EQ(symlink("loop2", (dir + "/loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (dir + "/loop2").c_str()), 0);
    ASSERT_EQ(symlink("missing.ac", (dir + "/dangling").c_str()), 0);

    std::string target;
    for (const char *name : {"sub/absolute", "sub/relative", "bare", "chain40"}) {
        ASSERT_TRUE(resolve_links(dir + "/" + name, target)) << name;
        EXPECT_TRUE(same_file(target, file)) << name << " " << target;
        EXPECT_TRUE(same_file(dir + "/" + name, file)) << name;
    }
    for (const char *name : {"chain41", "loop1"}) {
        EXPECT_FALSE(resolve_links(dir + "/" + name, target)) << name;
        EXPECT_EQ(errno, ELOOP) << name;
        Model model;
        AcSource source;
        std::string error;
        ASSERT_TRUE(read_ac_file(file, model, source, error)) << error;
        EXPECT_FALSE(write_ac_file(dir + "/" + name, model, source, error));
        EXPECT_EQ(error, dir + "/" + name + ": cannot write: Too many levels of symbolic links");
    }
    // a relative link named from the current folder, with no folder in its name
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    bool found = resolve_links("bare", target) && same_file(target, file);
    bool dangling = resolve_links("dangling", target) && target == "missing.ac";
    ASSERT_EQ(chdir(here), 0);
    EXPECT_TRUE(found);
    EXPECT_TRUE(dangling);

    EXPECT_TRUE(same_file(dir + "/dangling", dir + "/missing.ac"));
    EXPECT_TRUE(same_file(dir + "/sub/../missing.ac", dir + "/missing.ac"));
    EXPECT_FALSE(same_file(dir + "/missing.ac", file));
    EXPECT_FALSE(same_file(file, dir + "/missing.ac"));
    EXPECT_FALSE(same_file(dir + "/missing.ac", dir + "/other.ac"));
}

// A folder's name past the longest path is refused, as such, by the save.
TEST_F(AcFile, AFolderNamePastTheLongestPathIsRefused)
{
    // (past it, and short of it by less than a temporary name adds)
    for (size_t length : {size_t(PATH_MAX + 100), size_t(PATH_MAX - 6)}) {
        std::string folder = dir;
        while (folder.size() + 2 + std::strlen("/model.ac") <= length)
            folder += "/.";
        std::string path = folder + (folder.size() + std::strlen("/model.ac") < length ? "/" : "") +
                           "/model.ac";
        ASSERT_EQ(path.size(), length);
        std::string error;
        for (bool unnamed : {true, false}) {
            EXPECT_FALSE(save_file(
                path, [](int fd) { return ::write(fd, "x", 1) == 1 ? 0 : errno; }, error,
                unnamed));
            EXPECT_EQ(error, path + ": cannot write: File name too long") << length;
        }
    }
    EXPECT_TRUE(names().empty());
}

TEST_F(AcFile, ReadingAMissingFileSaysWhy)
{
    Model model;
    AcSource source;
    std::string error;
    EXPECT_FALSE(read_ac_file(dir + "/none.ac", model, source, error));
    EXPECT_EQ(error, dir + "/none.ac: cannot open: No such file or directory");
    EXPECT_FALSE(read_ac_file(dir, model, source, error));
    EXPECT_EQ(error, dir + ": cannot read: Is a directory");
}

TEST_F(AcFile, SavingReplacesTheTargetAndKeepsItsPermissions)
{
    std::string path = dir + "/model.ac";
    put(path, box, 0640);
    Model model;
    AcSource source;
    std::string error;
    ASSERT_TRUE(read_ac_file(path, model, source, error)) << error;
    model.objects[1]->vertices[0].y = 5;
    ASSERT_TRUE(write_ac_file(path, model, source, error)) << error;
    EXPECT_EQ(contents(path), replaced(box, "0 0 0\n", "0 5 0\n"));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names(), std::vector<std::string>{"model.ac"});
}

TEST_F(AcFile, ANewFileGetsTheUsualPermissions)
{
    Loaded l = load(box);
    std::string error;
    ASSERT_TRUE(write_ac_file(dir + "/new.ac", l.model, l.source, error)) << error;
    mode_t mask = umask(022);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat((dir + "/new.ac").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
    EXPECT_EQ(contents(dir + "/new.ac"), box);
}

TEST_F(AcFile, SavingIntoAMissingFolderFailsAndCreatesNothing)
{
    Loaded l = load(box);
    std::string error;
    EXPECT_FALSE(write_ac_file(dir + "/no/model.ac", l.model, l.source, error));
    EXPECT_EQ(error, dir + "/no/model.ac: cannot write: No such file or directory");
    EXPECT_TRUE(names().empty());
    EXPECT_FALSE(write_ac_file(dir, l.model, l.source, error));
    EXPECT_EQ(error, dir + ": cannot write: Is a directory");
}

TEST_F(AcFile, AFailedWriteLeavesTheTargetUntouched)
{
    std::string path = dir + "/model.ac";
    put(path, "old", 0644);
    Loaded l = load(box);
    // A file size limit makes the writes fail part way, as a full disk would.
    struct rlimit old, small = {16, 0};
    getrlimit(RLIMIT_FSIZE, &old);
    small.rlim_max = old.rlim_max;
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    std::string error;
    bool written = write_ac_file(path, l.model, l.source, error);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, path + ": cannot write: File too large");
    EXPECT_EQ(contents(path), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"model.ac"});
}

TEST_F(AcFile, AModelThatNoLongerMatchesItsFileIsNotSaved)
{
    Loaded l = load(box);
    l.model.objects[1]->vertices.push_back({0, 0, 0, l.model.objects[1].get()});
    std::string error;
    EXPECT_FALSE(write_ac_file(dir + "/model.ac", l.model, l.source, error));
    EXPECT_EQ(error, dir + "/model.ac: cannot write: the model's objects or vertex counts are not "
                           "those of the file it was read from");
    EXPECT_TRUE(names().empty());
}

TEST_F(AcFile, AMovedVertexWhoseFrameCannotBeInvertedIsNotSaved)
{
    std::string text =
        "AC3Db\nOBJECT poly\nname \"flat\"\nrot 1 0 0 0 1 0 0 0 0\nnumvert 1\n1 2 3\nkids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.model.objects[1]->vertices[0].z, 0.0f);
    l.model.objects[1]->vertices[0].z = 1;
    std::string error;
    EXPECT_FALSE(write_ac_file(dir + "/model.ac", l.model, l.source, error));
    EXPECT_EQ(error, dir + "/model.ac: cannot write: the transform of object \"flat\" cannot be "
                           "inverted, so its moved vertices cannot be written");
    EXPECT_EQ(save(l), text); // write_ac keeps the line as it was read

    // The last vertex of a flat object after another object, moved alone;
    // and a flat object whose vertices did not move is saved.
    text = "AC3Db\nOBJECT world\nkids 2\nOBJECT poly\nnumvert 2\n5 5 5\n6 6 6\nkids 0\n"
           "OBJECT poly\nname \"flat\"\nrot 1 0 0 0 1 0 0 0 0\nnumvert 3\n1 2 3\n4 5 6\n7 8 9\n"
           "kids 0\n";
    l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(write_ac_file(dir + "/model.ac", l.model, l.source, error)) << error;
    l.model.objects[2]->vertices[2].x = 1;
    EXPECT_FALSE(write_ac_file(dir + "/model.ac", l.model, l.source, error));
    EXPECT_EQ(error, dir + "/model.ac: cannot write: the transform of object \"flat\" cannot be "
                           "inverted, so its moved vertices cannot be written");
}

// How many of the process's mappings are of the file "path".
static size_t mappings(const std::string &path)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    size_t n = 0;
    while (std::getline(maps, line))
        n += line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0;
    return n;
}

// The permissions and inode of the mapping that holds "address", as
// /proc/self/maps gives them ("r--p 0" for private read-only memory that is
// no file's), or "" when none does.
static std::string mapping_at(const void *address)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    while (std::getline(maps, line)) {
        unsigned long long from, to, offset, inode;
        char perms[5], device[16];
        if (std::sscanf(line.c_str(), "%llx-%llx %4s %llx %15s %llu", &from, &to, perms, &offset,
                        device, &inode) == 6 &&
            a >= from && a < to)
            return std::string(perms) + " " + std::to_string(inode);
    }
    return "";
}

TEST_F(AcFile, AMappedFileReadsAndSavesAsACopiedOne)
{
    // Files that end exactly at the end of a page and just after it, with no
    // newline at the end, read and saved in place, twice, as the viewer does.
    for (size_t size : {size_t(4096), size_t(8193)}) {
        std::string head = box.substr(0, box.find("name")) + "data ";
        std::string tail = "\n" + box.substr(box.find("name"));
        tail.pop_back();
        size_t data = size - head.size() - tail.size() - 5; /* 4 digits and a newline */
        std::string text = head + std::to_string(data) + "\n" + std::string(data, 'd') + tail;
        ASSERT_EQ(text.size(), size);
        std::string path = dir + "/model.ac";
        put(path, text, 0644);
        Model mapped, copied;
        AcSource mapped_source, copied_source;
        std::string error;
        ASSERT_TRUE(read_ac_file(path, mapped, mapped_source, error, READ_MAP)) << error;
        ASSERT_TRUE(read_ac_file(path, copied, copied_source, error)) << error;
        EXPECT_EQ(mapped_source.bytes(), text);
        // the reader reads the byte after the text: a zero of the mapping's
        // own, past the file when the file fills its last page
        const char *after = mapped_source.bytes().data() + size;
        EXPECT_GT(mapped_source.mapped.length(), size);
        if (size % sysconf(_SC_PAGESIZE) == 0)
            EXPECT_EQ(mapping_at(after), "r--p 0") << size;
        EXPECT_EQ(*after, '\0');
        EXPECT_TRUE(copied_source.text == text);
        ASSERT_EQ(mapped.objects[1]->vertices.size(), 4u);
        mapped.objects[1]->vertices[2].z = 0.5f;
        ASSERT_TRUE(write_ac_file(path, mapped, mapped_source, error)) << error;
        EXPECT_EQ(contents(path), replaced(text, "1 1 0\n", "1 1 0.5\n"));
        mapped.objects[1]->vertices[3].x = -2;
        ASSERT_TRUE(write_ac_file(path, mapped, mapped_source, error)) << error;
        EXPECT_EQ(contents(path),
                  replaced(replaced(text, "1 1 0\n", "1 1 0.5\n"), "0 1 0\n", "-2 1 0\n"));
        EXPECT_EQ(names(), std::vector<std::string>{"model.ac"});
    }
}

// The descriptors open in this process, as /proc/self/fd lists them.
static std::vector<std::string> descriptors()
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(AcFile, AMappedFileIsUnmappedWithItsSource)
{
    std::string path = dir + "/model.ac";
    put(path, box, 0644);
    const std::vector<std::string> before = descriptors();
    {
        Model model;
        AcSource source;
        std::string error;
        ASSERT_TRUE(read_ac_file(path, model, source, error, READ_MAP)) << error;
        EXPECT_NE(source.mapped.data(), nullptr) << "mapped, not copied";
        EXPECT_EQ(mappings(path), 1u);
        // the file is kept open with it, for copying its bytes; handed on
        AcSource moved(std::move(source));
        EXPECT_EQ(descriptors().size(), before.size() + 1);
    }
    EXPECT_EQ(mappings(path), 0u);
    // and closed with it, and no other descriptor (the moved-from source's
    // holds none)
    EXPECT_EQ(descriptors(), before);
}

TEST_F(AcFile, AStreamThatCannotBeWrittenSaysWhy)
{
    Loaded l = load(box);
    ASSERT_TRUE(l.ok) << l.error;
    int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string error;
    EXPECT_FALSE(write_ac_stream(fd, "standard output", l.model, l.source, error));
    close(fd);
    EXPECT_EQ(error, "standard output: cannot write: No space left on device");
}

TEST_F(AcFile, AMappedFileThatEndsMidLineOrIsEmptyIsRejected)
{
    std::string head = "AC3Db\nOBJECT poly\ndata ", tail = "\nnumvert 2\n0 0 0\n0 1";
    size_t data = 4096 - head.size() - tail.size() - 5; /* 4 digits and a newline */
    std::string text = head + std::to_string(data) + "\n" + std::string(data, 'd') + tail;
    ASSERT_EQ(text.size(), 4096u);
    put(dir + "/cut.ac", text, 0644);
    put(dir + "/empty.ac", "", 0644);
    Model model;
    AcSource source;
    std::string error;
    EXPECT_FALSE(read_ac_file(dir + "/cut.ac", model, source, error, READ_MAP));
    EXPECT_EQ(error, dir + "/cut.ac:7: expected 3 numbers for a vertex, found \"0 1\"");
    EXPECT_FALSE(read_ac_file(dir + "/empty.ac", model, source, error, READ_MAP));
    EXPECT_EQ(error,
              dir + "/empty.ac:1: expected the AC3D header (such as AC3Db), found end of file");
    EXPECT_TRUE(source.bytes().empty());
}

TEST_F(AcFile, LongStretchesAndManyMovedLinesAreWrittenInOrder)
{
    // More pieces than one writev takes: each object's moved line is written
    // from a buffer, and the kilobytes after it straight from the text.
    std::string text = "AC3Db\nOBJECT world\nkids 1500\n";
    for (int i = 0; i < 1500; i++)
        text += "OBJECT poly\nnumvert 2\n0 0 0\n1 1 1\ndata 5000\n" +
                std::string(5000, char('a' + i % 26)) + "\nkids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    for (int i = 0; i < 1500; i++)
        l.model.objects[1 + i]->vertices[i % 2].y = float(i);
    std::string error;
    ASSERT_TRUE(write_ac_file(dir + "/out.ac", l.model, l.source, error)) << error;
    std::string expected = save(l);
    EXPECT_NE(expected, text);
    EXPECT_TRUE(contents(dir + "/out.ac") == expected);
}

TEST_F(AcFile, MoreRewrittenLinesThanTheWritersBufferHoldsAreWrittenInOrder)
{
    std::string text = "AC3Db\nOBJECT poly\nnumvert 30000\n";
    for (int i = 0; i < 30000; i++)
        text += "0 0 0\n";
    Loaded l = load(text + "kids 0\n");
    ASSERT_TRUE(l.ok) << l.error;
    for (int i = 0; i < 30000; i++)
        l.model.objects[1]->vertices[i].y = float(i) / 8;
    std::string error;
    ASSERT_TRUE(write_ac_file(dir + "/out.ac", l.model, l.source, error)) << error;
    EXPECT_TRUE(contents(dir + "/out.ac") == save(l));
    EXPECT_EQ(save(l).substr(save(l).size() - 20), "0 3749.875 0\nkids 0\n");
}

/* }====== */

/* {====== Edges of the reading and the writing ====== */

// Words that end a number early, counts with more after them, and references
// just one past the vertices, on both the quick and the general way of
// reading a line.
INSTANTIATE_TEST_SUITE_P(
    Edges, AcBroken,
    ::testing::Values(
        Broken{"HexadecimalTailOnAVertex", replaced(box, "1 0 0\n", "1 0 0x\n"),
               "model.ac:9: expected 3 numbers for a vertex, found \"1 0 0x\""},
        Broken{"LetterAfterAVertexNumber", replaced(box, "1 1 0\n", "1 1f 0\n"),
               "model.ac:10: expected 3 numbers for a vertex, found \"1 1f 0\""},
        Broken{"WordAfterNumvert", replaced(box, "numvert 4", "numvert 4 junk"),
               "model.ac:7: expected numvert and a count, found \"numvert 4 junk\""},
        Broken{"WordAfterKids", replaced(box, "kids 1", "kids 1 more"),
               "model.ac:4: expected kids and a count, found \"kids 1 more\""},
        Broken{"WordAfterRefs", replaced(box, "refs 2", "refs 2 x"),
               "model.ac:21: expected refs and a count, found \"refs 2 x\""},
        // (a ref equal to numvert given before it: Files/RefPastNumvert)
        Broken{"RefEqualToNumvertGivenLater",
               tiny + "numsurf 1\nSURF 0x0\nrefs 2\n0 0 0\n2 0 0\nnumvert 2\n0 0 0\n0 0 0\nkids 0\n",
               "model.ac:7: expected a vertex index below numvert 2, found \"2 0 0\""},
        Broken{"RefEqualToNumvertGivenLaterReadTheGeneralWay",
               tiny + "numsurf 1\nSURF 0x0\nrefs 2\n\n2 0 0\n0 0 0\nnumvert 2\n0 0 0\n0 0 0\n"
                      "kids 0\n",
               "model.ac:7: expected a vertex index below numvert 2, found \"2 0 0\""},
        Broken{"RefEqualToNumvertGivenLaterInTheSecondSurface",
               tiny + "numsurf 2\nSURF 0x0\nrefs 1\n0 0 0\nSURF 0x0\nrefs 1\n1 0 0\nnumvert 1\n"
                      "0 0 0\nkids 0\n",
               "model.ac:9: expected a vertex index below numvert 1, found \"1 0 0\""}),
    [](const ::testing::TestParamInfo<Broken> &info) { return std::string(info.param.name); });

// A vertex moved to the edge of a float's range in a turned and scaled frame:
// its numbers are written so that the reader, placing them again, finds it
// within the range, and the file reads back.
TEST(AcWrite, AVertexMovedToTheEdgeOfAFloatsRangeReadsBack)
{
    const float top = std::numeric_limits<float>::max();
    for (const char *rot : {"31 0 0 0 1 0 0 0 1", "0 1 2 31 0 0 0 0 1", "3 0 0 0 7 0 0 0 1"})
        for (float x : {top, std::nextafter(top, 0.0f), -top, 0.9999f * top}) {
            SCOPED_TRACE(std::string(rot) + " x " + std::to_string(x));
            Loaded l = load(std::string("AC3Db\nOBJECT poly\nrot ") + rot +
                            "\nnumvert 1\n1 1 1\nkids 0\n");
            ASSERT_TRUE(l.ok) << l.error;
            l.model.objects[1]->vertices[0].x = x;
            Loaded again = load(save(l));
            EXPECT_TRUE(again.ok) << again.error;
        }
}

TEST(AcWrite, BlankLinesInsideAVertexBlockStayWhereTheyAre)
{
    std::string text = "AC3Db\nOBJECT poly\nnumvert 4\n\n0 0 0\n1 0 0\n \n\n1 1 0\n\r\n0 1 0\n"
                       "kids 0\n";
    Loaded l = load(text);
    ASSERT_TRUE(l.ok) << l.error;
    std::vector<Vertex> &v = l.model.objects[1]->vertices;
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[2].y, 1.0f);
    v[2].z = 5;
    v[3].x = 7;
    EXPECT_EQ(save(l), "AC3Db\nOBJECT poly\nnumvert 4\n\n0 0 0\n1 0 0\n \n\n1 1 5\n\r\n7 1 0\n"
                       "kids 0\n");
    v[0].x = -1;
    EXPECT_EQ(save(l), "AC3Db\nOBJECT poly\nnumvert 4\n\n-1 0 0\n1 0 0\n \n\n1 1 5\n\r\n7 1 0\n"
                       "kids 0\n");
}

/* }====== */
