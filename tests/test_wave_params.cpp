// The command's parameters: the order of checks, every message, the number
// grammar, the seeded draw and the summary.
#include "sim_fixture.h"
#include "wave/wave.h"

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

class Params : public SimTest {
protected:
    // Parses the entries given (entry 0, the command name, is added).
    bool parse(std::initializer_list<const char *> entries, WaveParams *params)
    {
        words.assign({"qorvel_go"});
        for (const char *e : entries)
            words.push_back(e);
        std::vector<char *> argv = argv_of(words);
        return parse_wave_params((int)argv.size(), argv.data(), params);
    }
    std::vector<std::string> words;
};

// The draws, worked out apart from the code (by hand for the first, the rest
// with a few lines of Python over the same generator).
TEST(PercentDraw, MatchesTheFirstValueOfTheMicrosoftGenerator)
{
    const struct {
        uint32_t seed;
        int draw;
    } draws[] = {
        {0, 38}, /* state 2531011, r 38 */
        {1, 41}, {2, 45}, {3, 48}, {7, 61}, {42, 75}, {99, 61}, {1000, 4}, {12345, 84},
        {65536, 43}, {0x10001u, 46}, {1000000, 85}, {86400000, 3},
        {4294967295u, 35}, {0xFFFFFFFEu, 32}, /* the state wraps modulo 2^32 */
        /* seeds whose high bits reach the draw: the tick count runs over all 32 */
        {0x80000000u, 38}, {0x40000000u, 22}, {0xC0000000u, 22}, {0xDEADBEEFu, 37},
        {0x12345678u, 89}, {0xFFFF0000u, 1}, {0x7FFFFFFFu, 35}, {0x0000FFFFu, 40},
        {0xA5A50000u, 99},
        /* states whose low 16 bits are all ones: the increment carries into
           the bits drawn */
        {0x0000C4ECu, 22}, /* state 0x8336FFFF */
        {0x9E37C4ECu, 53}, /* state 0x4491FFFF */
    };
    for (const auto &d : draws)
        EXPECT_EQ(percent_draw(d.seed), d.draw) << d.seed;
    for (uint32_t seed = 0; seed < 5000; seed += 7) {
        int r = percent_draw(seed);
        EXPECT_TRUE(r >= 0 && r <= 99) << seed;
    }
}

TEST(ScanFloat, ReadsTheLongestDecimalPrefix)
{
    struct {
        const char *text;
        float value;
    } accepted[] = {
        {"2.5cm", 2.5f},  {" \t\n3", 3.0f},    {"\v\f\r 6", 6.0f},    {"+4", 4.0f},      {".5", 0.5f},
        {"5.", 5.0f},     {"1e", 1.0f},        {"1e+", 1.0f},     {"2E2x", 200.0f},
        {"0x10", 0.0f},   {"-1.11759e-007", -1.11759e-7f},       {"1e-50", 0.0f},
        {"3.4028234e38", 3.4028234e38f},     {"12abc", 12.0f},  {"1.5.5", 1.5f},
    };
    for (const auto &a : accepted) {
        float v = -99.0f;
        EXPECT_TRUE(scan_float(a.text, &v)) << a.text;
        EXPECT_EQ(bits(v), bits(a.value)) << a.text;
    }
    float v;
    ASSERT_TRUE(scan_float("-0", &v));
    EXPECT_EQ(bits(v), 0x80000000u);
    ASSERT_TRUE(scan_float("1e-40", &v));
    EXPECT_EQ(v, 1e-40f) << "subnormals are kept";
    ASSERT_TRUE(scan_float("-1e-60", &v));
    EXPECT_EQ(bits(v), 0x80000000u) << "an underflow keeps its sign";
}

TEST(ScanFloat, HowLongTheTextRunsNeverDecidesItsSize)
{
    const std::string zeros(199999, '0');
    float v = 7.0f;
    EXPECT_TRUE(scan_float(("0." + zeros).c_str(), &v));
    EXPECT_EQ(bits(v), 0u) << "any number of zeros is zero";
    EXPECT_TRUE(scan_float(("0." + zeros + "1e200000").c_str(), &v));
    EXPECT_EQ(v, 1.0f);
    EXPECT_TRUE(scan_float(("1" + zeros + "e-1000000").c_str(), &v));
    EXPECT_EQ(bits(v), 0u) << "10^-800001 rounds to zero";
    v = 7.0f;
    EXPECT_FALSE(scan_float(("0." + zeros + "1e1000000").c_str(), &v)) << "10^800000";
    EXPECT_FALSE(scan_float(("0." + zeros + "1e200039").c_str(), &v)) << "10^39";
    EXPECT_FALSE(scan_float("1e1000000", &v));
    EXPECT_EQ(v, 7.0f);
    // Past a float's range, the place of the first digit that is not zero and
    // the exponent together tell too large from too small.
    const std::string hundred(100, '0');
    const std::string thousand(1000, '0');
    EXPECT_FALSE(scan_float(("1" + thousand + "e-950").c_str(), &v)) << "10^50";
    for (const std::string &large : {"1" + hundred + "e-60", "0." + hundred + "1e150",
                                     hundred + "1e39", "12345" + hundred + ".5e-60",
                                     std::string("0.5e39"), std::string("1E+39")})
        EXPECT_FALSE(scan_float(large.c_str(), &v)) << large;
    for (const std::string &small : {"0." + thousand + "1e950", "0." + hundred + "1e50", hundred + "1e-50",
                                     "1" + hundred + "e-150", "1" + hundred + ".e-150",
                                     std::string("0.00001e-45"), std::string("1e-46")}) {
        v = 7.0f;
        EXPECT_TRUE(scan_float(small.c_str(), &v)) << small;
        EXPECT_EQ(bits(v), 0u) << small;
    }
}

TEST(ScanFloat, RejectsWhatIsNotAFiniteDecimalNumber)
{
    for (const char *text : {"", " ", "abc", ".", "-", "+", "e5", "-.e1", "inf", "-inf",
                             "infinity", "nan", "NAN", "1e39", "-4e38", "3.5e38", "1e999999999999"}) {
        float v = 7.0f;
        EXPECT_FALSE(scan_float(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 7.0f) << "left untouched on failure: " << text;
    }
}

struct Fault {
    std::vector<const char *> entries;
    const char *message;
};

class ParamFaults : public Params, public ::testing::WithParamInterface<Fault> {};

TEST_P(ParamFaults, ShowTheFirstFaultsMessageAndNoSummary)
{
    const Fault &fault = GetParam();
    words.assign({"qorvel_go"});
    for (const char *e : fault.entries)
        words.push_back(e);
    std::vector<char *> argv = argv_of(words);
    WaveParams params;
    EXPECT_FALSE(parse_wave_params((int)argv.size(), argv.data(), &params));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], fault.message);
    EXPECT_EQ(debug, "");
}

// Twelve good entries with one replaced.
static std::vector<const char *> with(int entry, const char *text)
{
    std::vector<const char *> e = {"x", "y", "z", "2", "0.1", "0.2", "0", "0", "0", "0", "0", "0"};
    e[entry - 1] = text;
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ParamFaults,
    ::testing::Values(
        Fault{{}, "Insufficient parameters passed to wave utility"},
        Fault{{"x", "y", "z", "2", "0.1", "0.2", "0", "0", "0", "0", "0"},
              "Insufficient parameters passed to wave utility"},
        Fault{with(1, "q"), "Corrugo : cannot interpret frequency axis q"},
        Fault{{"n", "x", "y", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : cannot interpret frequency axis n"},
        Fault{{"q", "q", "n", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : cannot apply frequency and amplitude to same axis"},
        Fault{{"X", "y", "x", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : cannot apply frequency and amplitude to same axis"},
        Fault{{"x", "n", "N", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : the two amplitude axis should differ, both = 'n'"},
        Fault{{"x", "w", "w", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : the two amplitude axis should differ, both = 'w'"},
        Fault{{"x", "A", "a", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : the two amplitude axis should differ, both = 'a'"},
        Fault{{"x", "Z", "z", "1", "1", "1", "0", "0", "0", "0", "0", "0"},
              "Corrugo : the two amplitude axis should differ, both = 'z'"},
        Fault{with(2, "w"), "Corrugo : cannot interpret amplitude axis w"},
        Fault{with(3, "?"), "Corrugo : cannot interpret amplitude axis ?"},
        Fault{with(4, "abc"), "Corrugo : unable to parse abc for frequency"},
        Fault{with(4, ""), "Corrugo : unable to parse  for frequency"},
        Fault{with(5, "1e39"), "Corrugo : unable to parse 1e39 for amplitude 1"},
        Fault{with(6, "-4e38"), "Corrugo : unable to parse -4e38 for amplitude 2"},
        Fault{with(7, "inf"), "Corrugo : unable to parse inf for decay 1"},
        Fault{with(8, "nan"), "Corrugo : unable to parse nan for decay 2"},
        Fault{with(9, "Random"), "Corrugo : unable to parse Random for offset 1"},
        Fault{with(10, "random "), "Corrugo : unable to parse random  for offset 2"},
        // a format sequence in an entry is shown, never interpreted
        Fault{with(4, "%s%n"), "Corrugo : unable to parse %s%n for frequency"},
        // both offsets faulty: the first is named
        Fault{{"x", "y", "z", "1", "1", "1", "0", "0", "one", "two", "0", "0"},
              "Corrugo : unable to parse one for offset 1"},
        // the first faulty number wins
        Fault{{"x", "y", "z", "f", "a", "b", "c", "d", "e", "g", "0", "0"},
              "Corrugo : unable to parse f for frequency"}));

TEST_F(Params, AMissingEntryIsTooFewParametersWhateverTheCount)
{
    words.assign({"qorvel_go", "x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "0", "0"});
    const std::vector<char *> argv = argv_of(words);
    for (int missing : {1, 7, 12}) {
        std::vector<char *> holed = argv;
        holed[missing] = nullptr;
        WaveParams params;
        messages.clear();
        EXPECT_FALSE(parse_wave_params((int)holed.size(), holed.data(), &params));
        EXPECT_EQ(messages,
                  std::vector<std::string>{"Insufficient parameters passed to wave utility"})
            << "entry " << missing;
        EXPECT_EQ(debug, "");
    }
}

TEST_F(Params, OnlyTheFirstCharacterOfAnAxisCountsInAnyCase)
{
    WaveParams p;
    ASSERT_TRUE(parse({"xyz", "Y", "None", "2", "0.1", "0.2", "0", "0", "0", "0", "0", "0"}, &p));
    EXPECT_EQ(p.frequency_axis, 'x');
    EXPECT_EQ(p.amplitude_axis_1, 'y');
    EXPECT_EQ(p.amplitude_axis_2, 'n');
}

TEST_F(Params, FlagsCompareOnlyTheFirstCharacterWithTheDigitZero)
{
    WaveParams p;
    ASSERT_TRUE(parse({"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "", ""}, &p));
    EXPECT_TRUE(p.additive);
    EXPECT_TRUE(p.freq_units);
    ASSERT_TRUE(parse({"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "0.5", "0"}, &p));
    EXPECT_FALSE(p.additive);
    EXPECT_FALSE(p.freq_units);
    ASSERT_TRUE(parse({"x", "y", "z", "1", "1", "1", "0", "0", "0", "0", "1", "yes"}, &p));
    EXPECT_TRUE(p.additive);
    EXPECT_TRUE(p.freq_units);
}

TEST_F(Params, NumbersAreUsedUnchangedAndPercentagesScaled)
{
    WaveParams p;
    ASSERT_TRUE(parse({"z", "x", "y", "-3", "2.5cm", "-0.5", "150", "-20", "250", "-12.5", "0", "1",
                       "extra words are ignored"},
                      &p));
    EXPECT_EQ(p.frequency, -3.0f);
    EXPECT_EQ(p.amplitude_1, 2.5f);
    EXPECT_EQ(p.amplitude_2, -0.5f);
    EXPECT_EQ(bits(p.decay_1), bits(150.0f * 0.01f));
    EXPECT_EQ(bits(p.decay_2), bits(-20.0f * 0.01f));
    EXPECT_EQ(bits(p.offset_1), bits(250.0f * 0.01f));
    EXPECT_EQ(bits(p.offset_2), bits(-12.5f * 0.01f));
    EXPECT_FALSE(p.random_offset_1 || p.random_offset_2);
    EXPECT_EQ(p.seed, 0u);
}

TEST_F(Params, SummaryShowsEntriesAsEnteredAndOffsetsScaled)
{
    WaveParams p;
    ASSERT_TRUE(parse({"Z", "x", "n", "3", "0.25", "1e-3", "50", "12.5", "30", "7", "1", "0"}, &p));
    EXPECT_EQ(debug, "Corrugo:\nFrequency axis = z\nAmplitude axis 1 = x\nAmplitude axis 2 = n\n"
                     "Frequency = 3\nAmplitude 1 = 0.25\nAmplitude 2 = 0.001\nDecay 1 = 50\n"
                     "Decay 2 = 12.5\nOffset 1 = 0.3\nOffset 2 = 0.07\nAdditive = true\n"
                     "Freq units = false\n");
    EXPECT_EQ(bits(p.decay_1), bits(50.0f * 0.01f)) << "decays are scaled after the summary";
}

TEST_F(Params, RandomDrawsFromTheTickCount)
{
    WaveParams p;
    sim::pin_tick(1);
    ASSERT_TRUE(parse({"x", "y", "z", "1", "1", "1", "0", "0", "random", "5", "0", "0"}, &p));
    EXPECT_TRUE(p.random_offset_1);
    EXPECT_FALSE(p.random_offset_2);
    EXPECT_EQ(p.seed, 1u);
    EXPECT_EQ(bits(p.offset_1), bits(41.0f * 0.01f));
    EXPECT_NE(debug.find("Offset 1 = 0.41\nOffset 2 = 0.05\n"), std::string::npos) << debug;

    sim::pin_tick(4294967295u);
    ASSERT_TRUE(parse({"x", "y", "z", "1", "1", "1", "0", "0", "random", "random", "0", "0"}, &p));
    EXPECT_TRUE(p.random_offset_1 && p.random_offset_2);
    EXPECT_EQ(p.seed, 4294967295u) << "the second reading replaces the seed";
    EXPECT_EQ(bits(p.offset_2), bits(35.0f * 0.01f));
}

} // namespace
