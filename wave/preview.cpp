/*
 * The handler of "qorvel_preview": the command's own reading of the twelve
 * words, its own gathering and its own evaluation, for the dialog to draw
 * the selected vertices before and after. Nothing is moved, no undo step is
 * recorded, nothing is written to the debug output, no message is shown and
 * the host is asked for no refresh.
 *
 * The host gives a command's handler no way to return a result (its return
 * value carries nothing), so the answer goes where the dialog reads
 * it: the Tcl variable ::qorvel_preview_answer, a dictionary set by the last
 * host call the handler makes, either
 *
 *   status ok count N extent {LOW HIGH} points {C B1 A1 B2 A2 ...}
 *
 * N being how many vertices were gathered, LOW and HIGH the lowest and
 * highest coordinates on the frequency axis, and for each sampled vertex, in
 * the gathered order, its coordinate C on the frequency axis, then on each
 * amplitude axis its coordinate before (B) and after (A) the wave, 0 for an
 * axis that is n; or
 *
 *   status error message TEXT
 *
 * with the message qorvel_go would show. Numbers are written with 9
 * significant digits, which give a float back to the bit.
 */
#include "wave/wave.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

char *tcl_quote(const char *text)
{
    size_t length = 0;
    for (const char *p = text; *p; p++)
        length += strchr("[]$\"\\", *p) ? 2 : 1;
    char *quoted = (char *)malloc(length + 1);
    if (!quoted)
        return NULL;
    char *q = quoted;
    for (const char *p = text; *p; p++) {
        if (strchr("[]$\"\\", *p))
            *q++ = '\\';
        *q++ = *p;
    }
    *q = '\0';
    return quoted;
}

/* {====== The fault, kept instead of shown ====== */

/* The last fault's message, formatted; null when memory ran out. */
static char *kept_fault = NULL;

/*
 * Formats a fault's message as the host would: its formats hold only %c and
 * %s (wave_params.cpp, gather.cpp). Formatted here so that the plug-in needs
 * no formatting function of the runtime's. With "out" null, only counts.
 */
static size_t format_fault(char *out, const char *format, va_list args)
{
    size_t n = 0;
    for (const char *p = format; *p; p++) {
        if (*p == '%' && p[1] == 'c') {
            char c = (char)va_arg(args, int);
            if (out)
                out[n] = c;
            n++;
            p++;
        } else if (*p == '%' && p[1] == 's') {
            const char *s = va_arg(args, const char *);
            size_t length = strlen(s);
            if (out)
                memcpy(out + n, s, length);
            n += length;
            p++;
        } else {
            if (out)
                out[n] = *p;
            n++;
        }
    }
    return n;
}

static void keep_fault(const char *format, ...)
{
    free(kept_fault);
    va_list args;
    va_start(args, format);
    size_t length = format_fault(NULL, format, args);
    va_end(args);
    kept_fault = (char *)malloc(length + 1);
    if (!kept_fault)
        return;
    va_start(args, format);
    format_fault(kept_fault, format, args);
    va_end(args);
    kept_fault[length] = '\0';
}

/* Answers with the fault kept. */
static void answer_fault(void)
{
    char *quoted = kept_fault ? tcl_quote(kept_fault) : NULL;
    free(kept_fault);
    kept_fault = NULL;
    host.tcl_command("set ::qorvel_preview_answer [list status error message \"%s\"]",
                     quoted ? quoted : "Corrugo : out of memory");
    free(quoted);
}

/* }====== */

/* {====== The sample ====== */

/* Inserts "position" into the ascending "chosen" of "n" unless it is there. */
static size_t insert_position(size_t *chosen, size_t n, size_t position)
{
    size_t at = 0;
    while (at < n && chosen[at] < position)
        at++;
    if (at < n && chosen[at] == position)
        return n;
    memmove(chosen + at + 1, chosen + at, (n - at) * sizeof *chosen);
    chosen[at] = position;
    return n + 1;
}

size_t preview_sample(size_t count, size_t lowest, size_t highest, size_t *chosen)
{
    if (count <= PREVIEW_SAMPLES) {
        for (size_t i = 0; i < count; i++)
            chosen[i] = i;
        return count;
    }
    /* room for the two ends; the first and the last of the gathered order
       are among the spread ones */
    const uint64_t spread = PREVIEW_SAMPLES - 2;
    for (uint64_t k = 0; k < spread; k++)
        chosen[k] = (size_t)(k * (uint64_t)(count - 1) / (spread - 1));
    size_t n = insert_position(chosen, (size_t)spread, lowest);
    return insert_position(chosen, n, highest);
}

/* }====== */

int preview_wave_command(int count, char *vector[])
{
    WaveParams params;
    if (!read_wave_params(count, vector, &params, keep_fault, false)) {
        answer_fault();
        return 0;
    }
    HostList *vertices = gather_selected_vertices(keep_fault);
    if (!vertices) {
        answer_fault();
        return 0;
    }

    WaveWalk walk;
    begin_wave(&params, vertices, &walk);
    /* where the extent's ends are in the gathered order (a vertex listed
       twice is the lowest or highest wherever it is taken) */
    size_t gathered = 0, lowest = 0, highest = 0;
    for (HostList *node = vertices; node; node = node->next, gathered++) {
        if (node->data == walk.min_vertex)
            lowest = gathered;
        if (node->data == walk.max_vertex)
            highest = gathered;
    }
    static size_t chosen[PREVIEW_SAMPLES];
    const size_t samples = preview_sample(gathered, lowest, highest, chosen);

    const float HostVertex::*along = walk.along_field;
    host.tcl_command("set ::qorvel_preview_answer [list status ok count %lu extent [list %.9g "
                     "%.9g] points {}]",
                     (unsigned long)gathered, (double)(walk.min_vertex->*along),
                     (double)(walk.max_vertex->*along));

    const bool a1 = params.amplitude_axis_1 != 'n';
    const bool a2 = params.amplitude_axis_2 != 'n';
    const bool random = walk.random_1 || walk.random_2;
    size_t next = 0, position = 0;
    for (HostList *node = vertices; node && next < samples; node = node->next, position++) {
        HostVertex *v = (HostVertex *)node->data;
        if (random) /* the draws follow the runs of objects, as Apply's */
            enter_wave_object(&walk, host.object_of_vertex(v));
        if (chosen[next] != position)
            continue;
        next++;
        const float before_1 = a1 ? v->*walk.field_1 : 0.0f;
        const float before_2 = a2 ? v->*walk.field_2 : 0.0f;
        float after_1 = before_1, after_2 = before_2, d, math;
        wave_vertex(&walk, v, &after_1, &after_2, &d, &math);
        host.tcl_command("dict lappend ::qorvel_preview_answer points %.9g %.9g %.9g %.9g %.9g",
                         (double)(v->*along), (double)before_1, (double)(a1 ? after_1 : 0.0f),
                         (double)before_2, (double)(a2 ? after_2 : 0.0f));
    }
    host.list_free(&vertices);
    return 0;
}
