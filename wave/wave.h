/*
 * The wave command "qorvel_go": its parameters, the vertices it moves and the
 * wave it moves them along.
 *
 * Data flows one way: twelve texts -> WaveParams -> gathered vertex list ->
 * moved vertices -> host refresh. Any fault shows one message and stops the
 * command before the model is touched.
 */
#ifndef CORRUGO_WAVE_H
#define CORRUGO_WAVE_H

#include "host/host_functions.h"

#include <stdint.h>

/* The accepted parameters of one command call. */
struct WaveParams {
    char frequency_axis;   /* x, y or z */
    char amplitude_axis_1; /* x, y, z, or n for none: receives the sine */
    char amplitude_axis_2; /* x, y, z, or n: receives the cosine */
    float frequency;
    float amplitude_1, amplitude_2;
    float decay_1, decay_2;   /* fractions, after scaling from percent */
    float offset_1, offset_2; /* phase offsets, fractions after scaling */
    bool random_offset_1, random_offset_2;
    bool additive;   /* add to the positions, or replace them */
    bool freq_units; /* cycles per model unit, or cycles over the extent */
    uint32_t seed;   /* last seed used for a random offset */
};

/* {====== The command (command.cpp) ====== */

/* Handler of "qorvel_go": "count" words in "vector", entry 0 being the
   command name. Parses, gathers and applies; always returns 0. */
int apply_wave_command(int count, char *vector[]);

/* }====== */

/* {====== The seeded draw (draw.cpp) ====== */

/* The first value the Microsoft C runtime's rand() gives after srand("seed"),
   modulo 100: a whole percentage 0 to 99, the same on every platform. */
int percent_draw(uint32_t seed);

/* }====== */

/* {====== Parameters (wave_params.cpp) ====== */

/* Fills "params" from entries 1 to 12 of "vector"; on the first fault shows
   its message and returns false. */
bool parse_wave_params(int count, char *vector[], WaveParams *params);

/* Reads "text" as the "%g" conversion would into a float: leading white
   space, then the longest decimal number prefix; the rest is ignored. Only
   decimal numbers that fit a float are accepted: no hexadecimal, inf or nan. */
bool scan_float(const char *text, float *value);

/* }====== */

/* {====== Gathering (gather.cpp) ====== */

/* The vertices of the current selection, recorded as the undo step
   "Corrugo"; null after showing the message when there are none. */
HostList *gather_wave_vertices(void);

/* Appends the vertices of "object" and of all its descendants to "*list",
   each once, parents first. */
void gather_object_vertices(HostObject *object, HostList **list);

/* }====== */

/* {====== Evaluation (apply.cpp) ====== */

/* Moves every vertex of "vertices" along the wave, then asks the host to
   rebuild subdivisions where needed and to refresh. */
void apply_wave(WaveParams *params, HostList *vertices);

/* The lowest and highest vertex of "vertices" along "axis"; earlier vertices
   win ties and coordinates that are not numbers never win. */
void find_frequency_extent(HostList *vertices, char axis, HostVertex **min_vertex,
                           HostVertex **max_vertex);

/* The coordinate of "vertex" named by "axis" (x, y or z). */
float *axis_coordinate(HostVertex *vertex, char axis);

/* }====== */

#endif
