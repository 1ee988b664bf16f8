// How often the C library's sine and cosine on Windows (MinGW's) differ from
// glibc's on the angles the wave takes, and how often a difference survives
// into a stored single-precision coordinate.
//
// Built for both systems; the Windows build writes its results, the Linux
// build computes its own and compares:
//   wine build-win64/corrugo_trig_survey.exe write N | build-linux/corrugo_trig_survey compare N
//
// Angles are formed as the wave forms them: a phase p in cycles, times 360,
// times the single-precision value of pi/180. Four sets of N phases each:
// whole cycles (p = 1 .. N), quarter cycles (p = 1/4 .. N/4), and random
// phases uniform within one cycle and within 1000. A stored coordinate is the result
// rounded to a float, as the wave stores it with amplitude 1 on a zero base:
// the case that keeps the most of a result near zero.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

static const float DEGREES_TO_RADIANS = 0.017453292f;

static double angle_of(double cycles)
{
    return cycles * 360.0 * (double)DEGREES_TO_RADIANS;
}

static const struct {
    const char *name;
    double step;  // k-th phase k * step, or
    double range; // random within 0 .. range
} SETS[] = {
    {"whole cycles", 1.0, 0.0},
    {"quarter cycles", 0.25, 0.0},
    {"within 1 cycle", 0.0, 1.0},
    {"within 1000", 0.0, 1000.0},
};

// The k-th phase, k from 1, of set "set".
static double phase(int set, uint64_t k, uint64_t &random_state)
{
    if (SETS[set].step != 0.0)
        return (double)k * SETS[set].step;
    random_state = random_state * 6364136223846793005ull + 1442695040888963407ull;
    return (double)(random_state >> 11) * 0x1p-53 * SETS[set].range;
}

static uint64_t bits_of(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

int main(int argc, char *argv[])
{
    if (argc != 3 || (std::strcmp(argv[1], "write") != 0 && std::strcmp(argv[1], "compare") != 0)) {
        std::fprintf(stderr, "usage: %s write|compare N\n", argv[0]);
        return 2;
    }
    bool writing = std::strcmp(argv[1], "write") == 0;
    uint64_t n = std::strtoull(argv[2], nullptr, 10);
#ifdef _WIN32
    _setmode(_fileno(writing ? stdout : stdin), _O_BINARY);
#endif
    for (int set = 0; set < (int)(sizeof SETS / sizeof SETS[0]); set++) {
        uint64_t random_state = 42;
        uint64_t differing_doubles = 0, differing_floats = 0, worst_ulp = 0;
        double first_float_phase = 0.0;
        for (uint64_t k = 1; k <= n; k++) {
            double p = phase(set, k, random_state);
            double x = angle_of(p);
            double here[2] = {std::sin(x), std::cos(x)};
            if (writing) {
                std::fwrite(here, sizeof here, 1, stdout);
                continue;
            }
            double there[2];
            if (std::fread(there, sizeof there, 1, stdin) != 1) {
                std::fprintf(stderr, "trig_survey: the written results end early\n");
                return 1;
            }
            for (int f = 0; f < 2; f++) {
                if (bits_of(here[f]) == bits_of(there[f]))
                    continue;
                differing_doubles++;
                uint64_t a = bits_of(here[f]), b = bits_of(there[f]);
                uint64_t ulp = a > b ? a - b : b - a; // same sign: results this close share it
                if (ulp > worst_ulp)
                    worst_ulp = ulp;
                if ((float)here[f] != (float)there[f] && differing_floats++ == 0)
                    first_float_phase = p;
            }
        }
        if (!writing)
            std::printf("%-15s %" PRIu64 " sines and cosines: %" PRIu64
                        " differ (%.3f %%), at most %" PRIu64 " ulp; stored floats: %" PRIu64
                        " differ, the first at %.9g cycles\n",
                        SETS[set].name, 2 * n, differing_doubles,
                        100.0 * (double)differing_doubles / (double)(2 * n), worst_ulp,
                        differing_floats, first_float_phase);
    }
    return 0;
}
