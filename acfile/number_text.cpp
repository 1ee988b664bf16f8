// Numbers as text: the general reading of a number in the C locale, and
// writing a float in the shortest form that reads back the same.
#include "acfile/acfile.h"
#include "acfile/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <locale.h>

namespace acfile {

/* {====== Reading numbers ====== */

static locale_t c_locale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

float parse_c(const char *s, float) { return strtof_l(s, nullptr, c_locale()); }
double parse_c(const char *s, double) { return strtod_l(s, nullptr, c_locale()); }

bool check_real(const char *&p, const char *end)
{
    if (const char *q = check_plain_real(p, end)) {
        p = q;
        return true;
    }
    float value;
    return read_real(p, end, value) == NUMBER_OK;
}

bool is_number(std::string_view word)
{
    const char *p = word.data();
    float v;
    return !word.empty() && read_real(p, word.data() + word.size(), v) != NUMBER_NONE;
}

/* }====== */

/* {====== Writing numbers ====== */

// Writes "digits" (with no trailing zero) times ten to "exponent" as
// std::to_chars writes a float's shortest form: in fixed notation or, when
// that is shorter, in scientific notation with two exponent digits. Only for
// what short_decimal finds: a float from 10^-5 to 2^24, whose first digit's
// exponent has one digit.
static char *write_decimal(char *p, bool negative, uint32_t digits, int exponent)
{
    char text[10];
    int n = 0;
    for (uint32_t d = digits; d; d /= 10)
        text[9 - n++] = char('0' + d % 10);
    const char *digit = text + 10 - n;
    int scientific = exponent + n - 1; /* the exponent of the first digit */
    int fixed_length = exponent >= 0 ? n + exponent : scientific >= 0 ? n + 1 : n + 1 - scientific;
    int scientific_length = n + (n > 1) + 4; /* "e-05" */
    if (negative)
        *p++ = '-';
    if (fixed_length <= scientific_length) {
        if (scientific < 0) {
            *p++ = '0';
            *p++ = '.';
            for (int i = -1; i > scientific; i--)
                *p++ = '0';
        }
        for (int i = 0; i < n; i++) {
            if (i == scientific + 1 && i > 0)
                *p++ = '.';
            *p++ = digit[i];
        }
        for (int i = 0; i < exponent; i++)
            *p++ = '0';
        return p;
    }
    *p++ = digit[0];
    if (n > 1)
        *p++ = '.';
    for (int i = 1; i < n; i++)
        *p++ = digit[i];
    *p++ = 'e';
    *p++ = scientific < 0 ? '-' : '+';
    *p++ = '0';
    *p++ = char('0' + (scientific < 0 ? -scientific : scientific));
    return p;
}

// Two different decimals of at most six significant digits lie further apart
// than a float's spacing anywhere in the normal range, so at most one of them
// reads back as a given float, and when one does, its digits are the float's
// shortest form. This finds it for a positive float from 10^-5 to 2^24, as
// the float's value rounded to six digits, and returns false when there is
// none. Whether the decimal reads back is decided exactly, as in
// read_plain_float: its digits and the power of ten are floats exactly, and
// one division or product rounds correctly. (From 2^24 on, a float written
// in fixed notation may not be the decimal it reads back from, "67108900",
// but its exact value, "67108896", just as short.)
static bool short_decimal(float a, uint32_t &digits, int &exponent)
{
    static const double tens[] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2,
                                  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9, 1e10};
    static const double *ten = tens + 5; /* ten[k] is 10^k, k from -5 to 10 */
    if (!(a < 16777216.0f))
        return false;
    uint32_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    int binary = int(bits >> 23) - 127; /* a is 1.x times 2^binary */
    int decade = binary * 1233 >> 12;   /* floor(binary * log10(2)), or one less */
    if (decade < -6)
        return false;
    decade += double(a) >= ten[decade + 1];
    int scale = 5 - decade; /* a * 10^scale is 10^5 to 10^6 */
    if (scale > 10)
        return false;
    double scaled = scale >= 0 ? double(a) * ten[scale] : double(a) / ten[-scale];
    uint32_t d = uint32_t(scaled + 0.5);
    /* read back, the digits are within half a float spacing, a 2^-24th of
       the value: below 0.06 here, so any further are no use */
    if (std::fabs(scaled - double(d)) >= 0.0625)
        return false;
    float back = scale >= 0 ? float(d) / float_powers_of_ten[scale]
                            : float(d) * float_powers_of_ten[-scale];
    if (std::memcmp(&back, &a, sizeof a) != 0)
        return false;
    exponent = -scale;
    while (d % 10 == 0)
        d /= 10, exponent++;
    digits = d;
    return d < 1000000;
}

static thread_local size_t quick_floats = 0;

size_t quick_float_count() { return quick_floats; }

char *format_float(char *first, char *last, float value)
{
    uint32_t digits;
    int exponent;
    if (last - first >= 16 && short_decimal(std::fabs(value), digits, exponent)) {
        quick_floats++;
        return write_decimal(first, std::signbit(value), digits, exponent);
    }
    return std::to_chars(first, last, value).ptr;
}

/* }====== */

} // namespace acfile
