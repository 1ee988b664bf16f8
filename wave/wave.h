/*
 * The wave command "qorvel_go": its parameters, the vertices it moves and the
 * wave it moves them along; and its preview, "qorvel_preview", which reads the
 * same words, gathers the same vertices and evaluates the same wave without
 * changing anything.
 *
 * Data flows one way: twelve texts -> WaveParams -> gathered vertex list ->
 * moved vertices -> host refresh. Any fault shows one message and stops the
 * command before the model is touched.
 */
#ifndef CORRUGO_WAVE_H
#define CORRUGO_WAVE_H

#include "host/host_functions.h"

#include <stddef.h>
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

/* How a fault reaches the user: a printf-style message. The command shows
   it with the host's windows_message_dialog; the preview keeps it. */
typedef void (*WaveFault)(const char *format, ...);

/* {====== The command (command.cpp) ====== */

/* Handler of "qorvel_go": "count" words in "vector", entry 0 being the
   command name. Parses, gathers and applies; always returns 0. */
int apply_wave_command(int count, char *vector[]);

/* }====== */

/* {====== The preview (preview.cpp) ====== */

/* The most vertices a preview answers with. */
enum { PREVIEW_SAMPLES = 2000 };

/* Handler of "qorvel_preview": the same words as "qorvel_go", read, gathered
   and evaluated the same way, but nothing is moved, recorded, written to the
   debug output, shown or refreshed. The answer is left in the Tcl variable
   ::qorvel_preview_answer (see preview.cpp); always returns 0. */
int preview_wave_command(int count, char *vector[]);

/* Which of "count" gathered vertices a preview answers with, as positions in
   the gathered order, ascending, into "chosen" (room for PREVIEW_SAMPLES):
   all of them up to PREVIEW_SAMPLES, else evenly spread ones, always with
   "lowest" and "highest" (the positions of the extent's ends). Returns how
   many were chosen. */
size_t preview_sample(size_t count, size_t lowest, size_t highest, size_t *chosen);

/* A copy of "text" in which the characters Tcl substitutes inside a quoted
   word ([ ] $ " \) are escaped; null when memory runs out. */
char *tcl_quote(const char *text);

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

/* parse_wave_params with the fault handed to "fault" instead of shown, and
   the summary written only when "summary" is true: the preview's reading. */
bool read_wave_params(int count, char *vector[], WaveParams *params, WaveFault fault,
                      bool summary);

/* Reads "text" as the "%g" conversion would into a float: leading white
   space, then the longest decimal number prefix; the rest is ignored. Only
   decimal numbers that fit a float are accepted: no hexadecimal, inf or nan. */
bool scan_float(const char *text, float *value);

/* }====== */

/* {====== Gathering (gather.cpp) ====== */

/* The vertices of the current selection, recorded as the undo step
   "Corrugo"; null after showing the message when there are none. */
HostList *gather_wave_vertices(void);

/* The vertices of the current selection, gathered as gather_wave_vertices
   gathers them but recorded nowhere: the caller frees the list with
   list_free. Null after handing "fault" the message when there are none. */
HostList *gather_selected_vertices(WaveFault fault);

/* Appends the vertices of "object" and of all its descendants to "*list",
   each once, parents first. */
void gather_object_vertices(HostObject *object, HostList **list);

/* }====== */

/* {====== Evaluation (apply.cpp) ====== */

/* Moves every vertex of "vertices" along the wave, then asks the host to
   rebuild subdivisions where needed and to refresh. */
void apply_wave(WaveParams *params, HostList *vertices);

/* What the walk over the gathered vertices derives before moving any (the
   extent, the selection's ends and the wave's factors), and what changes as
   it goes: the random offsets and the object that last drew them. Filled by
   begin_wave. */
struct WaveWalk {
    WaveParams *params;
    HostVertex *min_vertex, *max_vertex;
    double low;         /* the min vertex's coordinate on the frequency axis */
    float freqsiz, inverse;
    float base_1, base_2;
    double frequency, decay_1, decay_2, amplitude_1, amplitude_2;
    double offset_1, offset_2;
    bool random_1, random_2, additive;
    HostObject *previous; /* the object that last drew random offsets */
    float HostVertex::*along_field;
    float HostVertex::*field_1;
    float HostVertex::*field_2;
};

/* Steps 1 to 5 of the evaluation for "vertices" (not empty): the extent,
   the bases, the frequency and offsets normalised in "params". */
void begin_wave(WaveParams *params, HostList *vertices, WaveWalk *walk);

/* Step 6.4's draws, for a vertex of object "o": new random offsets when the
   object differs from the one that last drew them. */
void enter_wave_object(WaveWalk *walk, HostObject *o);

/* Steps 6.2, 6.5, 6.7 to 6.9 for vertex "v": stores its wave into "target_1"
   and "target_2" (its coordinates on the amplitude axes, or other floats
   holding them), each only when finite. Gives back d and Math for the
   diagnostic line. */
void wave_vertex(const WaveWalk *walk, const HostVertex *v, float *target_1, float *target_2,
                 float *d, float *math);

/* The lowest and highest vertex of "vertices" along "axis"; earlier vertices
   win ties and coordinates that are not numbers never win. */
void find_frequency_extent(HostList *vertices, char axis, HostVertex **min_vertex,
                           HostVertex **max_vertex);

/* The coordinate of "vertex" named by "axis" (x, y or z). */
float *axis_coordinate(HostVertex *vertex, char axis);

/* }====== */

#endif
