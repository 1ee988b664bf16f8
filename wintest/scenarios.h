// The wave command runs that the Windows build must reproduce bit for bit:
// small models, each with a selection and twelve parameters. The same code
// runs on Linux, where expected_linux.cpp records the results, and on
// Windows, where the test host compares against them.
#ifndef CORRUGO_WINTEST_SCENARIOS_H
#define CORRUGO_WINTEST_SCENARIOS_H

#include "sim/host.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wintest {

struct Scenario {
    const char *name;
    void (*build)(acfile::Model &model, sim::Selection &selection); // the objects and the selection
    const char *params[12];
};

extern const Scenario scenarios[];
extern const int scenario_count;

// What a run of the command did.
struct Outcome {
    std::vector<float> positions; // x, y, z of every vertex, objects in model order
    std::vector<float> before;    // the same, before the command
    std::vector<std::string> messages;
    std::vector<std::string> debug; // each debugf text, in order
    size_t undo_steps = 0;
    std::string undo_label;
    int subdivision_rebuilds = 0;
    int redraws = 0;
};

// Calls the wave command with its words, entry 0 being "qorvel_go".
using CommandCall = std::function<void(const std::vector<std::string> &words)>;

// Makes the scenario's model the host's and runs the command on it.
Outcome run_scenario(const Scenario &scenario, const CommandCall &call);

std::vector<float> model_positions(const acfile::Model &model);

uint32_t float_bits(float value);
uint64_t double_bits(double value);
double double_from_bits(uint64_t bits);

// FNV-1a over the texts one after the other.
uint64_t text_hash(const std::vector<std::string> &texts);

// {====== What the Linux build computed (expected_linux.inc) ======

struct ExpectedRun {
    const char *name;
    const uint32_t *positions; // float bit patterns
    size_t count;
    const char *summary; // the first debug text: the parameter summary
    uint64_t debug_hash; // of every debug text
    size_t debug_count;
    int subdivision_rebuilds;
};

// One sine or cosine the wave evaluation took: 's' or 'c', the argument and
// the result as bit patterns.
struct ExpectedMath {
    char function;
    uint64_t input;
    uint64_t output;
};

// }======

} // namespace wintest

#endif
