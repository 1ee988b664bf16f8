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

// Reads "clock" 20 times, a few milliseconds apart, each between two
// readings of the steady clock in milliseconds: it must lie within them,
// counted modulo 2^32.
void expect_within_steady_readings(uint32_t (*clock)(void))
{
    auto steady_ms = [] {
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        return (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    };
    for (int i = 0; i < 20; i++) {
        uint32_t before = steady_ms();
        uint32_t tick = clock();
        uint32_t after = steady_ms();
        EXPECT_LE(tick - before, after - before) << before << " " << tick << " " << after;
        struct timespec pause = {0, 2000000};
        nanosleep(&pause, nullptr);
    }
}

TEST(TickCount, IsTheLoadingProgramsEvenWhenPinnedHigh)
{
    for (uint32_t pinned : {0u, 42u, 0x80000000u, 0xFFFFFFFFu}) {
        sim::pin_tick(pinned);
        EXPECT_EQ(tick_count(), pinned);
    }
    sim::unpin_tick();
    expect_within_steady_readings(tick_count);
}

// Without a GetTickCount in the loading program, the plug-in counts for
// itself.
TEST(TickCount, OwnCountIsTheMonotonicClockInMilliseconds)
{
    expect_within_steady_readings(monotonic_tick_count);
}

} // namespace
