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

/* The field of a vertex named by "axis" (x, y or z): chosen once, before a
   walk over many vertices. */
static float HostVertex::*axis_field(char axis)
{
    switch (axis) {
    case 'x': return &HostVertex::x;
    case 'y': return &HostVertex::y;
    default: return &HostVertex::z;
    }
}

float *axis_coordinate(HostVertex *vertex, char axis)
{
    return &(vertex->*axis_field(axis));
}

void find_frequency_extent(HostList *vertices, char axis, HostVertex **min_vertex,
                           HostVertex **max_vertex)
{
    /* Coordinates that are not finite take no part: start from the first
       finite one (a leading NaN would win every comparison by losing it),
       and let none replace the lowest or highest. */
    float HostVertex::*const field = axis_field(axis);
    HostList *start = vertices;
    while (start->next && !isfinite(((HostVertex *)start->data)->*field))
        start = start->next;
    HostVertex *lo = (HostVertex *)start->data;
    HostVertex *hi = lo;
    float lowest = lo->*field, highest = lowest;
    for (HostList *node = start->next; node; node = node->next) {
        HostVertex *v = (HostVertex *)node->data;
        float c = v->*field;
        if (!isfinite(c))
            continue;
        if (c < lowest) {
            lo = v;
            lowest = c;
        }
        if (c > highest) {
            hi = v;
            highest = c;
        }
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

/* The steps are written once, as inline functions that apply_wave's loop
   takes in whole (so that the walk's values stay in registers across the
   host's calls, as plain locals would); the preview calls them through the
   functions declared in wave.h, below. */
static inline void begin(WaveParams *params, HostList *vertices, WaveWalk *walk)
{
    const char f = params->frequency_axis;
    const char a1 = params->amplitude_axis_1;
    const char a2 = params->amplitude_axis_2;

    walk->params = params;
    /* through locals: no address into the walk leaves this file, so that
       apply_wave can keep the walk's values in registers */
    HostVertex *min_vertex, *max_vertex;
    find_frequency_extent(vertices, f, &min_vertex, &max_vertex);
    walk->min_vertex = min_vertex;
    walk->max_vertex = max_vertex;
    const double low = *axis_coordinate(walk->min_vertex, f);
    const double extent = (double)*axis_coordinate(walk->max_vertex, f) - low;
    walk->low = low;
    walk->freqsiz = (float)extent;

    /* The wave on an axis n moves only "scratch" (apply_wave): its base and
       its amplitude reach nothing. */
    walk->base_1 = *axis_coordinate(walk->min_vertex, a1);
    walk->base_2 = *axis_coordinate(walk->min_vertex, a2);

    if (!params->freq_units) {
        /* the frequency counts cycles over the extent, offsets are fractions
           of it */
        params->offset_1 *= params->frequency;
        params->offset_2 *= params->frequency;
        params->frequency = extent == 0.0 ? 0.0f : (float)(params->frequency / extent);
    }

    /* When every vertex shares the lowest coordinate, each one is the lowest
       and takes the full amplitude: Math is 1 rather than 0 times infinity. */
    walk->inverse = (float)(1.0 / walk->freqsiz);
    walk->previous = NULL;

    /* The parameters the walk reads, in the walk's own fields: the host
       calls inside it cannot reach them, so they need not be read again
       after each call. Only a random offset changes, when it is drawn. */
    walk->frequency = params->frequency;
    walk->decay_1 = params->decay_1;
    walk->decay_2 = params->decay_2;
    walk->amplitude_1 = params->amplitude_1;
    walk->amplitude_2 = params->amplitude_2;
    walk->random_1 = params->random_offset_1;
    walk->random_2 = params->random_offset_2;
    walk->additive = params->additive;
    walk->offset_1 = params->offset_1;
    walk->offset_2 = params->offset_2;
    walk->along_field = axis_field(f);
    walk->field_1 = axis_field(a1);
    walk->field_2 = axis_field(a2);
}

static inline void enter_object(WaveWalk *walk, HostObject *o)
{
    if (o == walk->previous)
        return;
    WaveParams *params = walk->params;
    if (walk->random_1) {
        params->offset_1 = draw_offset(params);
        walk->offset_1 = params->offset_1;
        walk->previous = o;
    }
    if (walk->random_2) {
        params->offset_2 = draw_offset(params);
        walk->offset_2 = params->offset_2;
        walk->previous = o;
    }
}

/* Steps 6.2 and 6.5: the distance d from the lowest vertex along the
   frequency axis, and Math, 1 at the lowest vertex and 0 at the highest. */
static inline void measure(const WaveWalk *walk, const HostVertex *v, float *d_out,
                           float *math_out)
{
    const float freqsiz = walk->freqsiz;
    const float d = (float)((double)(v->*walk->along_field) - walk->low);
    const float math =
        freqsiz == 0.0f ? 1.0f : (float)(((double)freqsiz - (double)d) * (double)walk->inverse);
    *d_out = d;
    *math_out = math;
}

/* Steps 6.7 to 6.9, for a vertex at distance d with its Math. */
static inline void step(const WaveWalk *walk, float d, float math, float *target_1,
                        float *target_2)
{

    /* The formula lives in three places, which must agree to the bit:
       here; the dialog's drawing of it (::corrugo::Samples in
       script/corrugo.tcl); and tests/tools/wave_reference.py, which
       derives the bit patterns the tests expect from it on its own.
       The two terms are rounded differently on purpose: the sine's
       displacement is held in single precision (k) before it is added,
       the cosine's (l) enters the sum at full precision. Models made
       with the modeller's wave carry exactly these roundings, so a
       "tidier" expression would move saved vertices by a last bit. */
    const double along = (double)d * walk->frequency;
    const double angle_1 = (along + walk->offset_1) * 360.0 * (double)DEGREES_TO_RADIANS;
    const double angle_2 = (along + walk->offset_2) * 360.0 * (double)DEGREES_TO_RADIANS;
    const float k =
        (float)(sin(angle_1) * (1.0 - (1.0 - (double)math) * walk->decay_1) * walk->amplitude_1);
    const double l = cos(angle_2) * (1.0 - (1.0 - (double)math) * walk->decay_2) * walk->amplitude_2;

    if (walk->additive) {
        store(target_1, (double)*target_1 + (double)k);
        store(target_2, (double)*target_2 + l);
    } else {
        store(target_1, (double)walk->base_1 + (double)k);
        store(target_2, (double)walk->base_2 + l);
    }
}

void begin_wave(WaveParams *params, HostList *vertices, WaveWalk *walk)
{
    begin(params, vertices, walk);
}

void enter_wave_object(WaveWalk *walk, HostObject *o)
{
    enter_object(walk, o);
}

void wave_vertex(const WaveWalk *walk, const HostVertex *v, float *target_1, float *target_2,
                 float *d, float *math)
{
    measure(walk, v, d, math);
    step(walk, *d, *math, target_1, target_2);
}

void apply_wave(WaveParams *params, HostList *vertices)
{
    const char a1 = params->amplitude_axis_1;
    const char a2 = params->amplitude_axis_2;
    WaveWalk walk;
    begin(params, vertices, &walk);

    bool subdivided = false;
    HostObject *asked = NULL; /* the object last asked whether it is subdivided */
    float scratch = 0.0f;
    const char *const freq_units = params->freq_units ? "true" : "false";
    float HostVertex::*const field_1 = walk.field_1;
    float HostVertex::*const field_2 = walk.field_2;

    for (HostList *node = vertices; node; node = node->next) {
        HostVertex *v = (HostVertex *)node->data;
        HostObject *o = host.object_of_vertex(v);
        float *target_1 = a1 == 'n' ? &scratch : &(v->*field_1);
        float *target_2 = a2 == 'n' ? &scratch : &(v->*field_2);

        if (o != walk.previous) {
            /* Without random offsets "previous" never changes; the answer
               for the object just asked about cannot have changed since. */
            if (o != asked) {
                asked = o;
                if (host.ac_object_is_subdivided(o))
                    subdivided = true;
            }
            enter_object(&walk, o);
        }

        float d, math;
        measure(&walk, v, &d, &math);
        host.debugf("\nCorrugo:\nfreqsiz = %g f = %g Math = %g Freq units = %s\n",
                    (double)walk.freqsiz, (double)d, (double)math, freq_units);
        step(&walk, d, math, target_1, target_2);
    }

    if (subdivided)
        host.tcl_command("ac3d remake_subdivisions");
    host.find_bounding_box();
    host.redraw_all();
    host.display_status();
}
