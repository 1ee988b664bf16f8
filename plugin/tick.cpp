/*
 * The millisecond tick count that seeds random offsets.
 *
 * On Windows it is the system's GetTickCount. Elsewhere the plug-in asks the
 * program that loaded it for a function of that name, so that a host (or a
 * test) can pin the tick; without one it reads a monotonic clock of its own,
 * truncated to 32 bits as GetTickCount is.
 */
#include "wave/wave.h"

#ifdef _WIN32
#include <windows.h>

uint32_t tick_count(void)
{
    return (uint32_t)GetTickCount();
}
#else
#include <dlfcn.h>
#include <time.h>

typedef uint32_t (*TickFunction)(void);

uint32_t tick_count(void)
{
    /* Looked up at each call: there are at most two per command. */
    TickFunction host_tick = (TickFunction)dlsym(RTLD_DEFAULT, "GetTickCount");
    if (host_tick)
        return host_tick();
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}
#endif
