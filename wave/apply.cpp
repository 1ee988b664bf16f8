/*
 * Evaluating the wave: a sine on amplitude axis 1 and a cosine on amplitude
 * axis 2, phased by each vertex's distance from the lowest vertex along the
 * frequency axis.
 *
 * Positions and parameters are single precision; every intermediate is
 * computed in double precision and rounded where a value is stored.
 */
#include "wave/wave.h"

#include <math.h>

/* pi / 180 as a single-precision constant */
static const float DEGREES_TO_RADIANS = 0.017453292f;
static const float PERCENT = 0.01f;

float *axis_coordinate(HostVertex *vertex, char axis)
{
    switch (axis) {
    case 'x': return &vertex->x;
    case 'y': return &vertex->y;
    default: return &vertex->z;
    }
}

void find_frequency_extent(HostList *vertices, char axis, HostVertex **min_vertex,
                           HostVertex **max_vertex)
{
    /* Coordinates that are not finite take no part: start from the first
       finite one (a leading NaN would win every comparison by losing it),
       and let none replace the lowest or highest. */
    HostList *start = vertices;
    while (start->next && !isfinite(*axis_coordinate((HostVertex *)start->data, axis)))
        start = start->next;
    HostVertex *lo = (HostVertex *)start->data;
    HostVertex *hi = lo;
    for (HostList *node = start->next; node; node = node->next) {
        HostVertex *v = (HostVertex *)node->data;
        float c = *axis_coordinate(v, axis);
        if (!isfinite(c))
            continue;
        if (c < *axis_coordinate(lo, axis))
            lo = v;
        if (c > *axis_coordinate(hi, axis))
            hi = v;
    }
    *min_vertex = lo;
    *max_vertex = hi;
}

/* Stores "value" in "target" unless it is not finite: a coordinate that is
   not a number, an overflow or a non-finite base never spreads into the
   model; the coordinate keeps what it had. */
static void store(float *target, double value)
{
    float f = (float)value;
    if (isfinite(f))
        *target = f;
}

/* Draws the next random offset: "seed" advances by 7 for every draw. */
static float draw_offset(WaveParams *params)
{
    params->seed += 7;
    float offset = (float)percent_draw(params->seed) * PERCENT;
    if (!params->freq_units)
        offset *= params->frequency;
    return offset;
}

void apply_wave(WaveParams *params, HostList *vertices)
{
    const char f = params->frequency_axis;
    const char a1 = params->amplitude_axis_1;
    const char a2 = params->amplitude_axis_2;

    HostVertex *min_vertex, *max_vertex;
    find_frequency_extent(vertices, f, &min_vertex, &max_vertex);
    const double low = *axis_coordinate(min_vertex, f);
    const double extent = (double)*axis_coordinate(max_vertex, f) - low;
    const float freqsiz = (float)extent;

    const float base_1 = a1 == 'n' ? 0.0f : *axis_coordinate(min_vertex, a1);
    const float base_2 = a2 == 'n' ? 0.0f : *axis_coordinate(min_vertex, a2);

    if (!params->freq_units) {
        /* the frequency counts cycles over the extent, offsets are fractions
           of it */
        params->offset_1 *= params->frequency;
        params->offset_2 *= params->frequency;
        params->frequency = extent == 0.0 ? 0.0f : (float)(params->frequency / extent);
    }
    if (a1 == 'n')
        params->amplitude_1 = 0.0f;
    if (a2 == 'n')
        params->amplitude_2 = 0.0f;

    /* When every vertex shares the lowest coordinate, each one is the lowest
       and takes the full amplitude: Math is 1 rather than 0 times infinity. */
    const float inverse = (float)(1.0 / freqsiz);
    bool subdivided = false;
    HostObject *previous = NULL;
    float scratch = 0.0f;

    for (HostList *node = vertices; node; node = node->next) {
        HostVertex *v = (HostVertex *)node->data;
        HostObject *o = object_of_vertex(v);
        const float d = (float)((double)*axis_coordinate(v, f) - low);
        float *target_1 = a1 == 'n' ? &scratch : axis_coordinate(v, a1);
        float *target_2 = a2 == 'n' ? &scratch : axis_coordinate(v, a2);

        if (o != previous) {
            if (ac_object_is_subdivided(o))
                subdivided = true;
            if (params->random_offset_1) {
                params->offset_1 = draw_offset(params);
                previous = o;
            }
            if (params->random_offset_2) {
                params->offset_2 = draw_offset(params);
                previous = o;
            }
        }

        const float math =
            freqsiz == 0.0f ? 1.0f : (float)(((double)freqsiz - (double)d) * (double)inverse);
        debugf("\nCorrugo:\nfreqsiz = %g f = %g Math = %g Freq units = %s\n", (double)freqsiz,
               (double)d, (double)math, params->freq_units ? "true" : "false");

        const double along = (double)d * (double)params->frequency;
        const double angle_1 = (along + (double)params->offset_1) * 360.0 * (double)DEGREES_TO_RADIANS;
        const double angle_2 = (along + (double)params->offset_2) * 360.0 * (double)DEGREES_TO_RADIANS;
        const float k = (float)(sin(angle_1) * (1.0 - (1.0 - (double)math) * (double)params->decay_1) *
                                (double)params->amplitude_1);
        const double l = cos(angle_2) * (1.0 - (1.0 - (double)math) * (double)params->decay_2) *
                         (double)params->amplitude_2;

        if (params->additive) {
            store(target_1, (double)*target_1 + (double)k);
            store(target_2, (double)*target_2 + l);
        } else {
            store(target_1, (double)base_1 + (double)k);
            store(target_2, (double)base_2 + l);
        }
    }

    if (subdivided)
        tcl_command("ac3d remake_subdivisions");
    find_bounding_box();
    redraw_all();
    display_status();
}
