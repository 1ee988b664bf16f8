// Writes expected_linux.inc: what the Linux build computes for each
// scenario, for the Windows test host to compare against bit for bit.
//
// It runs the plug-in's command handler, linked in directly, over the
// substitute host's model. The link wraps sin, cos and sincos so that every
// argument the wave evaluation passes them is recorded with glibc's result.
//   build-linux/corrugo_windows_expected > wintest/expected_linux.inc
#include "wave/wave.h"
#include "wintest/scenarios.h"

#include <cinttypes>
#include <cstdio>
#include <set>
#include <utility>

using namespace wintest;

// {====== Recording sine and cosine ======

static std::vector<ExpectedMath> math_calls;
static std::set<std::pair<char, uint64_t>> math_seen;

static void record(char function, double input, double output)
{
    if (math_seen.insert({function, double_bits(input)}).second)
        math_calls.push_back({function, double_bits(input), double_bits(output)});
}

extern "C" {
double __real_sin(double);
double __real_cos(double);
void __real_sincos(double, double *, double *);

double __wrap_sin(double x)
{
    double y = __real_sin(x);
    record('s', x, y);
    return y;
}

double __wrap_cos(double x)
{
    double y = __real_cos(x);
    record('c', x, y);
    return y;
}

void __wrap_sincos(double x, double *s, double *c)
{
    __real_sincos(x, s, c);
    record('s', x, *s);
    record('c', x, *c);
}
}

// }======

// The text as a C string literal.
static std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

int main()
{
    CommandCall call = [](const std::vector<std::string> &words) {
        std::vector<std::string> copies(words);
        std::vector<char *> vector;
        for (std::string &word : copies)
            vector.push_back(&word[0]);
        vector.push_back(nullptr);
        apply_wave_command((int)words.size(), vector.data());
    };

    std::printf("// What the Linux build computes for the scenarios of scenarios.cpp: the\n"
                "// positions as float bit patterns, the parameter summary, a hash of all\n"
                "// debug text, and every sine and cosine the wave evaluation took.\n"
                "// Written by expected_linux.cpp, built and run on Linux x86_64 (glibc):\n"
                "//   cmake -S . -B build-linux -DCORRUGO_BUILD_SIM=OFF\n"
                "//   cmake --build build-linux --target corrugo_windows_expected\n"
                "//   build-linux/corrugo_windows_expected > wintest/expected_linux.inc\n"
                "// Do not edit by hand.\n\n");

    std::vector<Outcome> outcomes;
    for (int i = 0; i < scenario_count; i++) {
        outcomes.push_back(run_scenario(scenarios[i], call));
        const std::vector<float> &positions = outcomes.back().positions;
        std::printf("static const uint32_t expected_positions_%d[] = {", i);
        for (size_t j = 0; j < positions.size(); j++)
            std::printf("%s0x%08" PRIx32 "u", j == 0 ? "\n    " : j % 6 ? ", " : ",\n    ", float_bits(positions[j]));
        std::printf("\n};\n\n");
    }

    std::printf("static const ExpectedRun expected_runs[] = {\n");
    for (int i = 0; i < scenario_count; i++) {
        const Outcome &o = outcomes[i];
        std::printf("    {%s, expected_positions_%d, %zu,\n     %s,\n     0x%016" PRIx64
                    "u, %zu, %d},\n",
                    quoted(scenarios[i].name).c_str(), i, o.positions.size(),
                    quoted(o.debug.empty() ? "" : o.debug[0]).c_str(), text_hash(o.debug),
                    o.debug.size(), o.subdivision_rebuilds);
    }
    std::printf("};\n\n");

    std::printf("static const ExpectedMath expected_math[] = {\n");
    for (const ExpectedMath &m : math_calls)
        std::printf("    {'%c', 0x%016" PRIx64 "u, 0x%016" PRIx64 "u},\n", m.function, m.input,
                    m.output);
    std::printf("};\n");
    return 0;
}
