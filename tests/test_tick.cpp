// The tick count that seeds random offsets, when the program that loaded the
// plug-in offers no GetTickCount: milliseconds of the monotonic clock,
// truncated to 32 bits as GetTickCount's are.
#include "wave/wave.h"

#include <gtest/gtest.h>

#include <time.h>

namespace {

uint32_t monotonic_milliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

TEST(TickCount, IsTheMonotonicClockInMillisecondsWhenTheHostHasNone)
{
    for (int i = 0; i < 20; i++) {
        uint32_t before = monotonic_milliseconds();
        uint32_t tick = tick_count();
        uint32_t after = monotonic_milliseconds();
        // within the readings around it, counted modulo 2^32
        EXPECT_LE(tick - before, after - before) << before << " " << tick << " " << after;
        struct timespec pause = {0, 3000000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace
