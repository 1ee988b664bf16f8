// The tick count that seeds random offsets comes from the program that loaded
// the plug-in, by the name GetTickCount, so that a host (or a test) can pin it;
// unpinned, the substitute host's count is the monotonic clock in
// milliseconds, truncated to 32 bits as GetTickCount's are.
#include "host/host_functions.h"
#include "sim/host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <time.h>

namespace {

uint32_t monotonic_milliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

TEST(TickCount, IsTheLoadingProgramsEvenWhenPinnedHigh)
{
    for (uint32_t pinned : {0u, 42u, 0x80000000u, 0xFFFFFFFFu}) {
        sim::pin_tick(pinned);
        EXPECT_EQ(tick_count(), pinned);
    }
    sim::unpin_tick();
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

// Without a GetTickCount in the loading program, the plug-in counts for
// itself; read here through the standard library's steady clock.
TEST(TickCount, OwnCountIsTheMonotonicClockInMilliseconds)
{
    auto steady_ms = [] {
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        return (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    };
    for (int i = 0; i < 20; i++) {
        uint32_t before = steady_ms();
        uint32_t tick = monotonic_tick_count();
        uint32_t after = steady_ms();
        EXPECT_LE(tick - before, after - before) << before << " " << tick << " " << after;
        struct timespec pause = {0, 1700000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace
