// A fresh substitute host for each test: an empty model, captured messages
// and debug text, a pinned tick, cleared observations.
#ifndef CORRUGO_TESTS_SIM_FIXTURE_H
#define CORRUGO_TESTS_SIM_FIXTURE_H

#include "sim/host.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using Point = std::array<float, 3>;

// The words of a command as the host hands them to its handler: an argument
// vector over "words", which must outlive it.
inline std::vector<char *> argv_of(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    return argv;
}

// What qorvel_preview left in ::qorvel_preview_answer: "ok" with the count
// gathered, the extent and, for each sampled vertex, its coordinate on the
// frequency axis, then before and after on amplitude axis 1, then on axis 2;
// or "error" with the message.
struct PreviewAnswer {
    std::string status, message;
    size_t count = 0;
    float low = 0, high = 0;
    std::vector<std::array<float, 5>> points;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new object named "name" under "parent" (the world when null).
    acfile::Object *add_object(const char *name, const std::vector<Point> &points,
                            acfile::Object *parent = nullptr);
    // A surface over vertices "indices" of "object".
    void add_surface(acfile::Object *object, const std::vector<uint32_t> &indices);

    // Every vertex position of the model, objects in creation order.
    std::vector<Point> positions() const;

    // Runs a Tcl script in the host's interpreter; returns its result, or
    // "error: " and the message.
    std::string eval(const std::string &script);

    // Reads ::qorvel_preview_answer, each number as the float it was
    // written from.
    PreviewAnswer preview_answer();

    std::vector<std::string> messages;
    std::string debug;
};

inline uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

inline float from_bits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// Bit-for-bit equality of positions, so that -0 and 0 differ and NaN equals
// itself.
::testing::AssertionResult SameBits(const std::vector<Point> &a, const std::vector<Point> &b);

#endif
