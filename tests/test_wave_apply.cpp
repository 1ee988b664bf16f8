// The wave arithmetic, bit for bit, and the gathering that feeds it.
//
// Expected bit patterns come from tests/tools/wave_reference.py, an
// independent transcription of the arithmetic in Python (doubles and the same
// C library's sin and cos, with single-precision rounding made explicit).
#include "sim_fixture.h"
#include "wave/wave.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

class Wave : public SimTest {
protected:
    // Parses "command" (twelve entries after qorvel_go) and runs it through
    // the handler, as the host would.
    void run(const std::vector<std::string> &entries)
    {
        std::vector<std::string> words = {"qorvel_go"};
        words.insert(words.end(), entries.begin(), entries.end());
        std::vector<char *> argv = argv_of(words);
        apply_wave_command((int)argv.size(), argv.data());
    }
    // The same words through the preview's handler; its answer.
    PreviewAnswer preview(const std::vector<std::string> &entries)
    {
        std::vector<std::string> words = {"qorvel_preview"};
        words.insert(words.end(), entries.begin(), entries.end());
        std::vector<char *> argv = argv_of(words);
        preview_wave_command((int)argv.size(), argv.data());
        return preview_answer();
    }
    void select_vertices(const std::vector<acfile::Vertex *> &vertices)
    {
        sim::selection().mode = SELECT_VERTICES;
        sim::selection().vertices = vertices;
    }
    void select_all(int mode)
    {
        sim::select_all(sim::model(), sim::selection(), mode);
    }
};

std::vector<Point> from_bits(std::initializer_list<std::array<uint32_t, 3>> rows)
{
    std::vector<Point> points;
    for (const auto &r : rows)
        points.push_back({::from_bits(r[0]), ::from_bits(r[1]), ::from_bits(r[2])});
    return points;
}

TEST_F(Wave, QuarterCycleOverTheExtentReplacesThroughTheLowestVertex)
{
    add_object("strip", {{0, 5, 0}, {2.5f, 3, 1}, {10, -2, 2}});
    select_all(SELECT_OBJECTS);
    run({"x", "y", "n", "1", "1", "0", "0", "0", "0", "0", "0", "0"});
    // frequency 1 over an extent of 10 is 0.1 per unit: the vertex at 2.5 is a
    // quarter cycle on, the one at 10 a whole cycle
    EXPECT_TRUE(SameBits(positions(), from_bits({{0x00000000, 0x40a00000, 0x00000000},
                                                 {0x40200000, 0x40c00000, 0x3f800000},
                                                 {0x41200000, 0x40a00000, 0x40000000}})));
    EXPECT_NE(debug.find("\nCorrugo:\nfreqsiz = 10 f = 2.5 Math = 0.75 Freq units = false\n"),
              std::string::npos)
        << debug;
    EXPECT_TRUE(messages.empty());
}

std::vector<Point> grid7()
{
    std::vector<Point> g;
    for (int x = 0; x < 7; x++)
        g.push_back({(float)(x * 0.37), (float)(1.0 + 0.1 * x), (float)(-0.5 * x)});
    return g;
}

TEST_F(Wave, RandomOffsetsAreDrawnAgainForEachRunOfAnObject)
{
    std::vector<Point> g = grid7();
    acfile::Object *a = add_object("A", {g[0], g[1], g[3]});
    acfile::Object *b = add_object("B", {g[2]});
    // list order A, A, B, A: three runs, three pairs of draws
    select_vertices({&a->vertices[0], &a->vertices[1], &b->vertices[0], &a->vertices[2]});
    sim::pin_tick(1000);
    run({"x", "y", "z", "2", "0.5", "0.5", "0", "0", "random", "random", "1", "0"});
    std::vector<Point> expected = from_bits({{0x00000000, 0x3f856d76, 0x3ebdc26a},
                                             {0x3ebd70a4, 0x3fc14fea, 0xbf79d8c2},
                                             {0x3f3d70a4, 0x3f558bac, 0xbf0517ae},
                                             {0x3f8e147b, 0x3fdf8c18, 0xbfc48650}});
    EXPECT_TRUE(SameBits(positions(), {expected[0], expected[1], expected[3], expected[2]}));
}

TEST_F(Wave, TheEarlierOfTwoLowestVerticesSuppliesTheBase)
{
    add_object("ties", {{1, 7, 0}, {0, 3, 0}, {0, 9, 0}, {4, 1, 0}, {4, 2, 0}});
    select_all(SELECT_OBJECTS);
    HostList *list = ac_object_get_vertexlist((HostObject *)sim::model().world->children[0]);
    HostVertex *lo, *hi;
    find_frequency_extent(list, 'x', &lo, &hi);
    EXPECT_EQ(lo->y, 3.0f);
    EXPECT_EQ(hi->y, 1.0f);
    // replace with amplitude 0: every vertex lands on the base
    run({"x", "y", "n", "1", "0", "0", "0", "0", "0", "0", "0", "0"});
    for (const Point &p : positions())
        EXPECT_EQ(p[1], 3.0f);
}

TEST_F(Wave, CoordinatesThatAreNotFiniteNeverSetTheExtentNorSpread)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    add_object("holes", {{nan, 1, 0}, {0, 2, 0}, {-inf, 3, 0}, {10, 4, 0}, {inf, 5, 0}});
    HostVertex *lo, *hi;
    find_frequency_extent(ac_object_get_vertexlist((HostObject *)sim::model().world->children[0]),
                          'x', &lo, &hi);
    EXPECT_EQ(lo->y, 2.0f);
    EXPECT_EQ(hi->y, 4.0f);
    select_all(SELECT_OBJECTS);
    std::vector<Point> before = positions();
    run({"x", "y", "n", "1", "1", "0", "0", "0", "25", "0", "0", "0"});
    std::vector<Point> after = positions();
    // the vertices with a non-finite distance keep their coordinates
    EXPECT_TRUE(SameBits({after[0], after[2], after[4]}, {before[0], before[2], before[4]}));
    // the others take the wave through the lowest finite vertex
    EXPECT_EQ(after[1][1], 3.0f) << "a quarter-cycle offset at the lowest vertex";
    EXPECT_EQ(after[3][1], 3.0f) << "and one whole cycle on";
}

TEST_F(Wave, ANonFiniteBaseOrAnOverflowLeavesTheCoordinateAsItWas)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    add_object("nan base", {{0, nan, 1}, {1, 2, 1}, {2, 3, 1}});
    select_all(SELECT_OBJECTS);
    std::vector<Point> before = positions();
    run({"x", "y", "z", "1", "1", "1", "0", "0", "25", "0", "0", "0"});
    std::vector<Point> after = positions();
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(bits(after[i][1]), bits(before[i][1])) << "replace through a NaN base: " << i;
        EXPECT_NE(after[i][2], before[i][2]) << "the other axis still moves: " << i;
    }
    ASSERT_TRUE(sim::undo());

    acfile::Object *huge = add_object("huge", {{0, 3e38f, 0}, {1, -3e38f, 0}});
    sim::selection().objects = {huge};
    before = positions();
    run({"x", "y", "n", "1", "3e38", "0", "0", "0", "25", "0", "1", "0"});
    after = positions();
    EXPECT_EQ(after[3][1], 3e38f) << "3e38 + 3e38 does not fit a float";
    EXPECT_EQ(after[4][1], -3e38f + 3e38f);
    for (const Point &p : after)
        for (float c : p)
            EXPECT_FALSE(std::isinf(c));
}

TEST_F(Wave, ASingleVertexTakesTheFullAmplitudeAndStaysFinite)
{
    add_object("dot", {{3, 4, 5}});
    select_all(SELECT_OBJECTS);
    run({"x", "y", "z", "2", "1", "0.5", "100", "100", "12.5", "0", "0", "0"});
    std::vector<Point> p = positions();
    EXPECT_EQ(p[0][0], 3.0f);
    EXPECT_EQ(p[0][1], 4.0f + 1.0f) << "an offset of 12.5% of 2 cycles is a quarter cycle";
    EXPECT_EQ(p[0][2], 5.0f + 0.5f);
    EXPECT_NE(debug.find("freqsiz = 0 f = 0 Math = 1 Freq units = false\n"), std::string::npos);
}

TEST_F(Wave, AddingZeroAmplitudesLeavesEveryPositionAsItWas)
{
    add_object("tube", grid7());
    select_all(SELECT_SURFACES); // no surfaces: nothing selected
    run({"x", "y", "z", "1", "0", "0", "0", "0", "0", "0", "1", "0"});
    EXPECT_EQ(messages, std::vector<std::string>{"Corrugo : no vertices selected"});
    std::vector<Point> before = positions();
    select_all(SELECT_OBJECTS);
    run({"x", "y", "z", "1", "0", "0", "0", "0", "33", "random", "1", "0"});
    EXPECT_TRUE(SameBits(positions(), before));
}

TEST_F(Wave, ObjectsAreGatheredDepthFirstAndEachVertexOnce)
{
    acfile::Object *group = add_object("group", {});
    acfile::Object *left = add_object("left", {{0, 0, 0}, {1, 0, 0}}, group);
    add_object("right", {{2, 0, 0}}, group);
    acfile::Object *inner = add_object("inner", {{3, 0, 0}}, left);
    add_object("other", {{4, 0, 0}});
    sim::selection().mode = SELECT_OBJECTS;
    sim::selection().objects = {group, left, inner}; // overlapping on purpose
    HostList *gathered = gather_wave_vertices();
    std::vector<float> xs;
    for (HostList *n = gathered; n; n = n->next)
        xs.push_back(((HostVertex *)n->data)->x);
    EXPECT_EQ(xs, (std::vector<float>{0, 1, 3, 2}));
    ASSERT_EQ(sim::undo_depth(), 1u);
    EXPECT_EQ(sim::undo_label(0), "Corrugo");
}

// Every group's first child is a group and a leaf follows it: the walk keeps
// a sibling to come back to for each level, hundreds of them.
TEST_F(Wave, ADeepTreeWithASiblingAtEveryLevelIsGatheredWholeDepthFirst)
{
    const int levels = 300;
    std::vector<acfile::Object *> groups = {add_object("g", {{0, 0, 0}})};
    for (int k = 0; k < levels; k++) {
        groups.push_back(add_object("g", {{float(k + 1), 0, 0}}, groups[k]));
        add_object("leaf", {{float(10000 + k), 0, 0}}, groups[k]);
    }
    sim::selection().mode = SELECT_OBJECTS;
    sim::selection().objects = {groups[0]};
    HostList *gathered = gather_wave_vertices();
    std::vector<float> xs, expected;
    for (HostList *n = gathered; n; n = n->next)
        xs.push_back(((HostVertex *)n->data)->x);
    for (int k = 0; k <= levels; k++)
        expected.push_back(float(k));
    for (int k = levels - 1; k >= 0; k--)
        expected.push_back(float(10000 + k));
    EXPECT_EQ(xs, expected);
}

TEST_F(Wave, SharedSurfaceVerticesComeOnceInOrderOfFirstReference)
{
    acfile::Object *quad = add_object("quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {9, 9, 9}});
    add_surface(quad, {2, 1, 0});
    add_surface(quad, {0, 3, 2});
    select_all(SELECT_SURFACES);
    HostList *gathered = gather_wave_vertices();
    std::vector<const acfile::Vertex *> order;
    for (HostList *n = gathered; n; n = n->next)
        order.push_back((const acfile::Vertex *)n->data);
    EXPECT_EQ(order, (std::vector<const acfile::Vertex *>{&quad->vertices[2], &quad->vertices[1],
                                                       &quad->vertices[0], &quad->vertices[3]}));
}

TEST_F(Wave, SubdivisionsAreRebuiltOnceAfterEveryVertexHasMoved)
{
    add_object("plain", {{0, 0, 0}, {1, 0, 0}});
    select_all(SELECT_OBJECTS);
    run({"x", "y", "n", "1", "1", "0", "0", "0", "0", "0", "0", "0"});
    EXPECT_EQ(sim::observations().subdivision_rebuilds, 0);

    // a subdivided object after a plain one, without random offsets and with
    acfile::Object *smooth = add_object("smooth", {{2, 0, 0}, {3, 0, 0}});
    smooth->subdivided = true;
    select_all(SELECT_OBJECTS);
    run({"x", "y", "n", "1", "1", "0", "0", "0", "0", "0", "0", "0"});
    EXPECT_EQ(sim::observations().subdivision_rebuilds, 1);
    add_object("also smooth", {{4, 0, 0}})->subdivided = true;
    select_all(SELECT_OBJECTS);
    run({"x", "y", "n", "1", "1", "0", "0", "0", "random", "0", "0", "0"});
    const sim::Observations &seen = sim::observations();
    EXPECT_EQ(seen.subdivision_rebuilds, 2);
    EXPECT_EQ(seen.bounding_boxes, 3);
    EXPECT_EQ(seen.redraws, 3);
    EXPECT_EQ(seen.status_updates, 3);
    EXPECT_FALSE(seen.box.empty);
    EXPECT_EQ(seen.box.max[0], 4.0f);
}

TEST_F(Wave, UndoRestoresEveryPositionBitForBit)
{
    add_object("tube", grid7());
    add_object("dot", {{-0.0f, 1e-40f, 3.4e38f}});
    std::vector<Point> before = positions();
    select_all(SELECT_OBJECTS);
    run({"y", "x", "z", "5", "1", "1", "0", "0", "0", "0", "1", "0"});
    EXPECT_FALSE(SameBits(positions(), before));
    ASSERT_TRUE(sim::undo());
    EXPECT_TRUE(SameBits(positions(), before));
    EXPECT_FALSE(sim::undo()) << "one step per command";
}

// The items of "list", in order.
std::vector<const void *> items(HostList *list)
{
    std::vector<const void *> found;
    for (HostList *n = list; n; n = n->next)
        found.push_back(n->data);
    return found;
}

TEST_F(Wave, ListsAppendedWholeOrItemByItemHoldEachItemOnce)
{
    acfile::Object *a = add_object("a", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    acfile::Object *b = add_object("b", {{3, 0, 0}, {4, 0, 0}});
    HostList *list = nullptr;
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)a));
    HostList mixed[3] = {{&b->vertices[0], &mixed[1]}, {&a->vertices[1], &mixed[2]},
                         {&b->vertices[0], nullptr}};
    list_append_list_unique(&list, mixed);
    list_append_list_unique(&list, nullptr);
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)b));
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)a));
    EXPECT_EQ(items(list), (std::vector<const void *>{&a->vertices[0], &a->vertices[1],
                                                      &a->vertices[2], &b->vertices[0],
                                                      &b->vertices[1]}));
    list_free(&list);
    EXPECT_EQ(list, nullptr);

    // A vertex list whose items were changed is taken item by item.
    HostList *changed = ac_object_get_vertexlist((HostObject *)a);
    changed->next->data = &b->vertices[1];
    list_append_list_unique(&list, changed);
    list_append_list_unique(&list, ac_object_get_vertexlist((HostObject *)b));
    EXPECT_EQ(items(list), (std::vector<const void *>{&a->vertices[0], &b->vertices[1],
                                                      &a->vertices[2], &b->vertices[0]}));
    list_free(&list);
}

TEST_F(Wave, ReleasedNodesMakeTheNextListsAlike)
{
    add_object("tube", grid7());
    select_all(SELECT_OBJECTS);
    std::vector<const void *> first;
    for (int round = 0; round < 3; round++) {
        HostList *gathered = gather_wave_vertices();
        std::vector<const void *> found = items(gathered);
        ASSERT_EQ(found.size(), grid7().size());
        if (round == 0)
            first = found;
        EXPECT_EQ(found, first);
        ASSERT_TRUE(sim::undo()); // which releases the list
    }
}

// Six vertices well away from the origin on every axis, so that the distance
// from the lowest vertex and the values stored as floats round differently
// from doubles.
std::vector<Point> offset_grid()
{
    std::vector<Point> g;
    for (int i = 0; i < 6; i++)
        g.push_back({(float)(3.3 + 0.61 * i), (float)(-2.7 + 0.13 * i * i), (float)(5.1 - 0.37 * i)});
    return g;
}

TEST_F(Wave, OneRandomOffsetIsRedrawnPerObjectRunWhileTheOtherStaysFixed)
{
    std::vector<Point> g = offset_grid();
    acfile::Object *a = add_object("A", {g[0], g[1], g[3]});
    acfile::Object *b = add_object("B", {g[2]});
    const std::vector<acfile::Vertex *> order = {&a->vertices[0], &a->vertices[1], &b->vertices[0],
                                              &a->vertices[2]};
    const std::vector<Point> before = positions();
    sim::pin_tick(77);
    select_vertices(order);
    // the preview draws as Apply does, from the same tick, in the same order
    PreviewAnswer shown = preview({"x", "y", "z", "2", "0.5", "0.5", "0", "0", "random", "30", "1", "0"});
    run({"x", "y", "z", "2", "0.5", "0.5", "0", "0", "random", "30", "1", "0"});
    std::vector<Point> expected = from_bits({{0x40533333, 0xc01550d0, 0x40964177},
                                             {0x407a3d71, 0xc0430bf7, 0x4095b003},
                                             {0x4090a3d7, 0xc02ac93a, 0x409a2301},
                                             {0x40a428f6, 0xbff38c4a, 0x406578b1}});
    EXPECT_TRUE(SameBits(positions(), {expected[0], expected[1], expected[3], expected[2]}));
    ASSERT_EQ(shown.points.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(bits(shown.points[i][2]), bits(expected[i][1])) << i;
        EXPECT_EQ(bits(shown.points[i][4]), bits(expected[i][2])) << i;
    }
    ASSERT_TRUE(sim::undo());
    ASSERT_TRUE(SameBits(positions(), before));
    select_vertices(order);
    run({"x", "y", "z", "2", "0.5", "0.5", "0", "0", "20", "random", "1", "0"});
    expected = from_bits({{0x40533333, 0xc019fdaa, 0x40ae1181},
                          {0x407a3d71, 0xc01776e4, 0x409c1847},
                          {0x4090a3d7, 0xc02b583e, 0x40881ce4},
                          {0x40a428f6, 0xbf9e38c4, 0x406a0793}});
    EXPECT_TRUE(SameBits(positions(), {expected[0], expected[1], expected[3], expected[2]}));
}

// Which vertices a preview answers with: all up to 2,000; beyond, 2,000 at
// most, ascending and each once, spread evenly from the first to the last,
// with the lowest and highest along the wave wherever they are.
::testing::AssertionResult IsPreviewSample(size_t count, size_t lowest, size_t highest,
                                           const std::vector<size_t> &chosen)
{
    if (chosen.size() > PREVIEW_SAMPLES)
        return ::testing::AssertionFailure() << chosen.size() << " chosen";
    for (size_t i = 1; i < chosen.size(); i++)
        if (chosen[i] <= chosen[i - 1])
            return ::testing::AssertionFailure() << "not ascending at " << i;
    for (size_t must : {(size_t)0, count - 1, lowest, highest})
        if (std::find(chosen.begin(), chosen.end(), must) == chosen.end())
            return ::testing::AssertionFailure() << must << " is missing";
    if (chosen.back() != count - 1)
        return ::testing::AssertionFailure() << "ends at " << chosen.back();
    // evenly: no gap wider than the spread's step (the ends kept only
    // narrow gaps)
    size_t widest = 0;
    for (size_t i = 1; i < chosen.size(); i++)
        widest = std::max(widest, chosen[i] - chosen[i - 1]);
    size_t step = (count - 1 + (PREVIEW_SAMPLES - 3) - 1) / (PREVIEW_SAMPLES - 3);
    if (count > PREVIEW_SAMPLES && widest > step)
        return ::testing::AssertionFailure() << "a gap of " << widest << " against " << step;
    return ::testing::AssertionSuccess();
}

TEST_F(Wave, APreviewSamplesAllUpToTwoThousandThenTwoThousandSpreadWithTheEndsKept)
{
    // room for 2,000 and a guard after it; the room is filled with what no
    // answer holds, so that nothing is taken from an earlier call
    std::vector<size_t> chosen(PREVIEW_SAMPLES + 1);
    static const size_t GUARD = 0x5eed5eed;
    auto fresh = [&chosen]() { std::fill(chosen.begin(), chosen.end(), GUARD); };
    fresh();
    EXPECT_EQ(preview_sample(1, 0, 0, chosen.data()), 1u);
    EXPECT_EQ(chosen[0], 0u);
    fresh();
    ASSERT_EQ(preview_sample(2000, 1500, 3, chosen.data()), 2000u);
    for (size_t i = 0; i < 2000; i++)
        EXPECT_EQ(chosen[i], i);
    EXPECT_EQ(chosen[PREVIEW_SAMPLES], GUARD) << "nothing written past the room";
    const struct {
        size_t count, lowest, highest, size;
    } cases[] = {
        // neither end among the 1,998 spread ones (0, 1, 2, 3, 4, 5, 6, 7,
        // 8, ... 1998, 2000 of 2001; 0, 2, 5, 7, ... of 5000)
        {2001, 1333, 666, 2000},
        {2001, 1999, 1999, 1999}, // one vertex both lowest and highest
        {2001, 1000, 1, 1998},    // both among the spread ones
        {5000, 0, 4999, 1998},    // the first and the last
        {5000, 4998, 1, 2000},
        {1000000, 999998, 3, 2000},
        {4000000000u, 123456789, 1, 2000},
    };
    for (const auto &c : cases) {
        fresh();
        size_t n = preview_sample(c.count, c.lowest, c.highest, chosen.data());
        EXPECT_EQ(chosen[PREVIEW_SAMPLES], GUARD) << "nothing written past the room";
        EXPECT_EQ(n, c.size) << c.count;
        EXPECT_TRUE(IsPreviewSample(c.count, c.lowest, c.highest,
                                    std::vector<size_t>(chosen.begin(), chosen.begin() + n)))
            << c.count << " " << c.lowest << " " << c.highest;
    }
}

// A wave over one object, every coordinate to the bit of the reference.
struct Reference {
    const char *name;
    std::vector<Point> points;
    int mode;
    std::vector<std::string> words;
    std::vector<Point> expected;
};

// Shown in the test's name by its own name, not as bytes holding addresses,
// which would make every build's names differ.
void PrintTo(const Reference &r, std::ostream *os) { *os << r.name; }

class WaveBits : public Wave, public ::testing::WithParamInterface<Reference> {};

TEST_P(WaveBits, EveryCoordinateIsTheReferencesToTheBit)
{
    const Reference &r = GetParam();
    add_object("object", r.points);
    select_all(r.mode);
    run(r.words);
    EXPECT_TRUE(SameBits(positions(), r.expected));
}

// The preview of each reference case: every vertex, before as it was, after
// to the bit where Apply then puts it; nothing moved until Apply.
TEST_P(WaveBits, ThePreviewShowsWhatApplyThenGivesToTheBit)
{
    const Reference &r = GetParam();
    add_object("object", r.points);
    select_all(r.mode);
    PreviewAnswer answer = preview(r.words);
    EXPECT_TRUE(SameBits(positions(), r.points));
    EXPECT_EQ(sim::undo_depth(), 0u);
    run(r.words);
    ASSERT_TRUE(SameBits(positions(), r.expected));
    ASSERT_EQ(answer.points.size(), r.points.size());
    const int f = r.words[0][0] - 'x';
    const int a1 = r.words[1][0] == 'n' ? -1 : r.words[1][0] - 'x';
    const int a2 = r.words[2][0] == 'n' ? -1 : r.words[2][0] - 'x';
    for (size_t i = 0; i < r.points.size(); i++) {
        const auto &p = answer.points[i];
        EXPECT_EQ(bits(p[0]), bits(r.points[i][f])) << i;
        EXPECT_EQ(bits(p[1]), a1 < 0 ? 0u : bits(r.points[i][a1])) << i;
        EXPECT_EQ(bits(p[2]), a1 < 0 ? 0u : bits(r.expected[i][a1])) << i;
        EXPECT_EQ(bits(p[3]), a2 < 0 ? 0u : bits(r.points[i][a2])) << i;
        EXPECT_EQ(bits(p[4]), a2 < 0 ? 0u : bits(r.expected[i][a2])) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reference, WaveBits,
    ::testing::Values(
        // The extent 3 + 3 * 2^-25 is no float. One cycle divided by it in
        // double leaves the vertex at 3 just short of a whole cycle, below its
        // base; divided by the extent rounded to a float, 3, it would be just
        // past, above it.
        Reference{"TheFrequencyIsDividedByTheExtentInDouble",
                  {{-3 * 0x1p-25f, 0, 0}, {1.5f, 0, 0}, {3, 0, 0}}, SELECT_OBJECTS,
                  {"x", "y", "n", "1", "1", "0", "0", "0", "0", "0", "0", "0"},
                  from_bits({{0xb3c00000, 0x00000000, 0x00000000},
                             {0x3fc00000, 0xb3238f7c, 0x00000000},
                             {0x40400000, 0xb4e33143, 0x00000000}})},
        Reference{"HelixWithDecayAndOffsetsAddedPerModelUnit", grid7(), SELECT_OBJECTS,
                  {"x", "y", "z", "0.8", "0.25", "0.5", "40", "100", "12.5", "30", "1", "1"},
                  from_bits({{0x00000000, 0x3f96a09e, 0xbe1e3776},
                             {0x3ebd70a4, 0x3f9b060e, 0xbf57d7ef},
                             {0x3f3d70a4, 0x3f7cebe0, 0xbf3d923b},
                             {0x3f8e147b, 0x3fa87d1d, 0xbfb3d8d9},
                             {0x3fbd70a4, 0x3fc91296, 0xc00a9ce1},
                             {0x3feccccd, 0x3fb2ecb6, 0xc01f0029},
                             {0x400e147b, 0x3fc19cc3, 0xc0400000}})},
        // Axis n and the frequency axis z keep their bits.
        Reference{"CosineOnlyWithDecayOverTheExtentOfAnotherAxis", grid7(), SELECT_VERTICES,
                  {"z", "n", "x", "3", "0", "0.3", "0", "50", "0", "10", "0", "0"},
                  from_bits({{0x400b1d0a, 0x3f800000, 0x80000000},
                             {0x40118a7e, 0x3f8ccccd, 0xbf000000},
                             {0x400a1fe5, 0x3f99999a, 0xbf800000},
                             {0x401287a4, 0x3fa66666, 0xbfc00000},
                             {0x400922bf, 0x3fb33333, 0xc0000000},
                             {0x401384c9, 0x3fc00000, 0xc0200000},
                             {0x4008259a, 0x3fcccccd, 0xc0400000}})},
        // chosen so that either rounding the other way changes the stored bits
        Reference{"SineIsRoundedToSinglePrecisionBeforeTheSumAndCosineIsNot",
                  {{0, 0, 0}, {0.17f, -0.69f, -0.69f}}, SELECT_OBJECTS,
                  {"x", "y", "z", "0.98", "1.37", "1.37", "0", "0", "0", "0", "1", "1"},
                  from_bits({{0x00000000, 0x00000000, 0x3faf5c29},
                             {0x3e2e147b, 0x3efe09b6, 0xbb938ec2}})},
        Reference{"FarFromTheOriginWithDecayEveryStoredValueIsRoundedToAFloat", offset_grid(),
                  SELECT_OBJECTS,
                  {"x", "y", "z", "1.7", "0.45", "0.3", "35", "80", "10", "20", "0", "0"},
                  from_bits({{0x40533333, 0xc0138ff8, 0x409e0e5a},
                             {0x407a3d71, 0xc02e7b57, 0x409fc43a},
                             {0x4090a3d7, 0xc040d675, 0x40a9ad31},
                             {0x40a428f6, 0xc017a54e, 0x40a0049a},
                             {0x40b7ae14, 0xc030af80, 0x40a221cd},
                             {0x40cb3333, 0xc03a7240, 0x40a50f47}})},
        Reference{"FarFromTheOriginAddedPerModelUnit", offset_grid(), SELECT_OBJECTS,
                  {"x", "y", "z", "0.9", "0.45", "0.3", "60", "25", "5", "15", "1", "1"},
                  from_bits({{0x40533333, 0xc023e67b, 0x40a8d7be},
                             {0x407a3d71, 0xc0333f6a, 0x40947cc2},
                             {0x4090a3d7, 0xbff3f35c, 0x408ba0ea},
                             {0x40a428f6, 0xbfe6adc6, 0x40820e0b},
                             {0x40b7ae14, 0xbec5ab7a, 0x405ef77e},
                             {0x40cb3333, 0x3ec1196c, 0x405b60d3}})}),
    [](const ::testing::TestParamInfo<Reference> &info) { return std::string(info.param.name); });

} // namespace
