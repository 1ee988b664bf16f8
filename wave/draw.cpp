/*
 * The seeded draw behind random phase offsets, used by the parameters (the
 * offset the summary shows) and by the evaluation (one per object).
 */
#include "wave/wave.h"

int percent_draw(uint32_t seed)
{
    uint32_t state = seed * 214013u + 2531011u;
    return (int)((state >> 16) & 0x7FFF) % 100;
}
