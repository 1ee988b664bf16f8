/*
 * The command's twelve parameters: checked in a fixed order, the first fault
 * reported with its message, the accepted values summarised on the debug
 * output.
 */
#include "wave/wave.h"

#include <charconv>
#include <string.h>
#include <system_error>

/* Scales a percentage to a fraction; the constant is single precision. */
static const float PERCENT = 0.01f;

/* {====== Numbers ====== */

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

/*
 * Whether the decimal number "digits" .. "end" (a mantissa of digits with an
 * optional point, then an optional exponent, no sign) is at least 1 in
 * magnitude: tells an overflow from an underflow when a number is out of a
 * float's range.
 */
static bool magnitude_at_least_one(const char *digits, const char *end)
{
    const char *mantissa_end = digits;
    while (mantissa_end < end && (is_digit(*mantissa_end) || *mantissa_end == '.'))
        mantissa_end++;
    const char *point = digits;
    while (point < mantissa_end && *point != '.')
        point++;
    const char *first = digits;
    while (first < mantissa_end && (*first == '0' || *first == '.'))
        first++; /* there is one: zero is never out of range */
    /* the decimal exponent of the first digit that is not zero; the mantissa
       can be as long as any text, so the exponent is capped far beyond that
       rather than at some size a float cannot reach */
    int64_t order = first < point ? (int64_t)(point - first) - 1 : -(int64_t)(first - point);

    int64_t exponent = 0;
    const char *p = mantissa_end;
    if (p < end) { /* 'e' or 'E', optional sign, digits */
        p++;
        bool negative = *p == '-';
        if (*p == '+' || *p == '-')
            p++;
        for (; p < end; p++)
            if (exponent < ((int64_t)1 << 56)) /* beyond any text's length; stops overflow */
                exponent = exponent * 10 + (*p - '0');
        if (negative)
            exponent = -exponent;
    }
    return order + exponent >= 0;
}

bool scan_float(const char *text, float *value)
{
    const char *p = text;
    while (is_space(*p))
        p++;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        p++;
    const char *digits = p; /* none ("", ".", "e5") fails the conversion below */
    while (is_digit(*p))
        p++;
    if (*p == '.') {
        p++;
        while (is_digit(*p))
            p++;
    }
    if (*p == 'e' || *p == 'E') {
        const char *e = p + 1;
        if (*e == '+' || *e == '-')
            e++;
        if (is_digit(*e)) {
            while (is_digit(*e))
                e++;
            p = e;
        } /* else the exponent is incomplete and not part of the number */
    }
    float result = 0.0f;
    std::from_chars_result r = std::from_chars(digits, p, result, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        if (magnitude_at_least_one(digits, p))
            return false; /* would be infinite */
        result = 0.0f;    /* too small for a float: rounds to zero */
    } else if (r.ec != std::errc() || r.ptr != p) {
        return false;
    }
    *value = negative ? -result : result;
    return true;
}

/* }====== */

/* {====== Checks ====== */

static char lower_ascii(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

static bool is_axis(char c)
{
    return c == 'x' || c == 'y' || c == 'z';
}

/* Reads an offset entry: the word "random" draws a seeded percentage. */
static bool read_offset(const char *text, const char *message, uint32_t *seed, bool *random,
                        float *offset, WaveFault fault)
{
    float value;
    if (strcmp(text, "random") == 0) {
        *seed = tick_count();
        *random = true;
        value = (float)percent_draw(*seed);
    } else if (!scan_float(text, &value)) {
        fault(message, text);
        return false;
    }
    *offset = value * PERCENT;
    return true;
}

bool parse_wave_params(int count, char *vector[], WaveParams *params)
{
    return read_wave_params(count, vector, params, host.windows_message_dialog, true);
}

bool read_wave_params(int count, char *vector[], WaveParams *params, WaveFault fault,
                      bool summary)
{
    /* entry 0 is the command's own name */
    if (count < 13) {
        fault("Insufficient parameters passed to wave utility");
        return false;
    }
    for (int i = 1; i <= 12; i++)
        if (!vector[i]) {
            fault("Insufficient parameters passed to wave utility");
            return false;
        }

    memset(params, 0, sizeof *params);
    char f = lower_ascii(vector[1][0]);
    char a1 = lower_ascii(vector[2][0]);
    char a2 = lower_ascii(vector[3][0]);
    if (f == a1 || f == a2) {
        fault("Corrugo : cannot apply frequency and amplitude to same axis");
        return false;
    }
    if (!is_axis(f)) {
        fault("Corrugo : cannot interpret frequency axis %c", f);
        return false;
    }
    if (a1 == a2) {
        fault("Corrugo : the two amplitude axis should differ, both = '%c'", a1);
        return false;
    }
    const char amplitude_axes[2] = {a1, a2};
    for (char a : amplitude_axes)
        if (!is_axis(a) && a != 'n') {
            fault("Corrugo : cannot interpret amplitude axis %c", a);
            return false;
        }
    params->frequency_axis = f;
    params->amplitude_axis_1 = a1;
    params->amplitude_axis_2 = a2;

    static const struct {
        float WaveParams::*field;
        const char *message;
    } numbers[] = {
        {&WaveParams::frequency, "Corrugo : unable to parse %s for frequency"},
        {&WaveParams::amplitude_1, "Corrugo : unable to parse %s for amplitude 1"},
        {&WaveParams::amplitude_2, "Corrugo : unable to parse %s for amplitude 2"},
        {&WaveParams::decay_1, "Corrugo : unable to parse %s for decay 1"},
        {&WaveParams::decay_2, "Corrugo : unable to parse %s for decay 2"},
    };
    for (int i = 0; i < 5; i++) {
        const char *text = vector[4 + i];
        if (!scan_float(text, &(params->*numbers[i].field))) {
            fault(numbers[i].message, text);
            return false;
        }
    }

    if (!read_offset(vector[9], "Corrugo : unable to parse %s for offset 1", &params->seed,
                     &params->random_offset_1, &params->offset_1, fault))
        return false;
    if (!read_offset(vector[10], "Corrugo : unable to parse %s for offset 2", &params->seed,
                     &params->random_offset_2, &params->offset_2, fault))
        return false;

    params->additive = vector[11][0] != '0';
    params->freq_units = vector[12][0] != '0';

    if (summary)
        host.debugf("Corrugo:\nFrequency axis = %c\nAmplitude axis 1 = %c\nAmplitude axis 2 = %c\n"
                    "Frequency = %g\nAmplitude 1 = %g\nAmplitude 2 = %g\nDecay 1 = %g\nDecay 2 = %g\n"
                    "Offset 1 = %g\nOffset 2 = %g\nAdditive = %s\nFreq units = %s\n",
                    params->frequency_axis, params->amplitude_axis_1, params->amplitude_axis_2,
                    (double)params->frequency, (double)params->amplitude_1, (double)params->amplitude_2,
                    (double)params->decay_1, (double)params->decay_2, (double)params->offset_1,
                    (double)params->offset_2, params->additive ? "true" : "false",
                    params->freq_units ? "true" : "false");

    params->decay_1 *= PERCENT;
    params->decay_2 *= PERCENT;
    return true;
}

/* }====== */
