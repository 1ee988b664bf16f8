// Numbers in the text of an AC3D file, as the reader and the writer read
// them: correctly rounded, and the usual plain decimals quickly. (The writer
// writes them with std::to_chars, in their shortest form.)
#ifndef CORRUGO_ACFILE_NUMBER_TEXT_H
#define CORRUGO_ACFILE_NUMBER_TEXT_H

#include "acfile/lines.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

namespace acfile {

enum Number { NUMBER_OK, NUMBER_NONE, NUMBER_TOO_LARGE };

// Reads the number at "s" with strtof_l or strtod_l in the C locale.
float parse_c(const char *s, float);
double parse_c(const char *s, double);

// Reads the decimal number (or nan, inf) that runs from "p" to a space or
// "end", correctly rounded to T, and moves "p" past it. A finite number too
// large for T is NUMBER_TOO_LARGE; one too small rounds to a subnormal or zero.
template <class T> static inline Number read_real(const char *&p, const char *end, T &value)
{
    const char *s = p;
    if (end - s > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+')
        s++; /* from_chars takes no plus sign */
    auto [q, ec] = std::from_chars(s, end, value);
    if (ec == std::errc::invalid_argument || (q < end && !is_space(*q)))
        return NUMBER_NONE;
    if (ec == std::errc::result_out_of_range) {
        /* libstdc++ says so below the normal range too, leaving "value" unset:
           strto*_l rounds those right and says overflow with an infinity */
        T v = parse_c(std::string(s, q).c_str(), T());
        if (std::isinf(v))
            return NUMBER_TOO_LARGE;
        value = v;
    }
    p = q;
    return NUMBER_OK;
}

// The usual lines, read quickly. Most lines of a file are vertex lines and
// lines of surfaces in their usual form. The "plain" readers below take that
// form only, and return null for anything else, which is then read the
// general way: what is accepted and how it fails stay the general reading's.
// They read up to the text's "end", after which there is always a zero byte
// (a std::string has one, and so has a MappedFile), and stop at it as at any
// other byte that ends a number, without testing for the end first.

static inline const char *skip_plain_spaces(const char *p)
{
    while (is_space(*p))
        p++;
    return p;
}

// Whether "p" ends a word of a line: at a space, the line's end or the text's.
static inline bool at_word_end(const char *p, const char *end)
{
    return is_space(*p) || *p == '\n' || p == end;
}

// 10^0 to 10^10, each a float exactly (5^10 < 2^24).
static const float float_powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                            1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// 10^0 to 10^18, each a double exactly (5^18 < 2^53).
static const double double_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                              1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                              1e14, 1e15, 1e16, 1e17, 1e18};

// The float nearest to digits / 10^fraction, for digits of at most 2^53 and
// fraction at most 18 (of 19 digits in all, the most read), or false when it takes the general conversion. Both
// are doubles exactly, so their quotient is the nearest double; the float
// nearest to that is the float nearest to the number itself unless the
// double lies halfway between two floats (the number itself may lie a little
// off that halfway point, which the double cannot tell).
static inline bool plain_quotient(uint64_t digits, int fraction, float &value)
{
    double q = double(digits) / double_powers_of_ten[fraction];
    uint64_t bits;
    std::memcpy(&bits, &q, sizeof bits);
    /* below a float's 24 bits of a normal number: a 1 and nothing after it */
    const uint64_t below = (uint64_t(1) << 29) - 1, half = uint64_t(1) << 28;
    if (q != 0 && (bits & below) == half)
        return false;
    value = float(q);
    return true;
}

// The common case of read_real for a float, without its general conversion:
// a plain decimal ("-12.375": an optional minus, digits, and maybe a point
// and digits) whose digits, read as a whole number, are at most 2^24, with at
// most 10 of them after the point. Both that number and the power of ten are
// then floats exactly, so their quotient, rounded once by the division, is
// the correctly rounded value, the float read_real gives. Up to 2^53,
// plain_quotient gives it in double. Returns the end
// of the number.
static inline const char *read_plain_float(const char *p, const char *end, float &value)
{
    bool negative = *p == '-';
    p += negative;
    uint64_t digits = 0;
    int count = 0, fraction = 0; /* at most 19 digits, which cannot overflow */
    for (; unsigned(*p - '0') < 10 && count < 19; p++, count++)
        digits = digits * 10 + unsigned(*p - '0');
    if (count == 0)
        return nullptr;
    if (*p == '.') {
        p++;
        for (; unsigned(*p - '0') < 10 && count < 19; p++, count++, fraction++)
            digits = digits * 10 + unsigned(*p - '0');
        if (fraction == 0)
            return nullptr; /* "5." */
    }
    if (!at_word_end(p, end))
        return nullptr;
    float v;
    if (digits <= (1u << 24) && fraction <= 10)
        v = float(digits) / float_powers_of_ten[fraction];
    else if (digits > (uint64_t(1) << 53) || !plain_quotient(digits, fraction, v))
        return nullptr;
    value = negative ? -v : v;
    return p;
}

// The common case of check_real: a plain decimal, which needs no conversion
// to be known to fit a float. Returns its end.
static inline const char *check_plain_real(const char *p, const char *end)
{
    p += *p == '-' || *p == '+';
    const char *whole = p;
    while (unsigned(*p - '0') < 10)
        p++;
    size_t digits = size_t(p - whole), whole_digits = digits;
    if (*p == '.') {
        const char *fraction = ++p;
        while (unsigned(*p - '0') < 10)
            p++;
        digits += size_t(p - fraction);
    }
    return digits > 0 && whole_digits < 39 && at_word_end(p, end) ? p : nullptr;
}

// A whole number of 1 to "most" decimal digits, ending a word: its end.
static inline const char *read_plain_digits(const char *p, const char *end, uint64_t &value,
                                            int most)
{
    const char *start = p;
    value = 0;
    for (; unsigned(*p - '0') < 10 && p - start < most; p++)
        value = value * 10 + unsigned(*p - '0');
    return p > start && at_word_end(p, end) ? p : nullptr;
}

// The same in hexadecimal digits.
static inline const char *read_plain_hex_digits(const char *p, const char *end, uint64_t &value,
                                                int most)
{
    const char *start = p;
    value = 0; /* for flags, which are checked, not kept */
    for (; p - start < most; p++) {
        unsigned d = unsigned(*p - '0'), letter = unsigned(*p | 0x20) - 'a';
        if (d >= 10 && letter >= 6)
            break;
        value = value * 16 + (d < 10 ? d : letter + 10);
    }
    return p > start && at_word_end(p, end) ? p : nullptr;
}

// Whether a number that read_real reads without fault runs from "p" to a space
// or "end", moving "p" past it. A plain decimal with no exponent and fewer than
// 39 digits before its point always fits a float, so it is checked without
// being converted; anything else is read.
bool check_real(const char *&p, const char *end);

// Reads the integer that runs from "p" to a space or "end".
template <class T>
static inline Number read_integer(const char *&p, const char *end, T &value, int base = 10)
{
    auto [q, ec] = std::from_chars(p, end, value, base);
    if (ec == std::errc::invalid_argument || (q < end && !is_space(*q)))
        return NUMBER_NONE;
    p = q;
    return ec == std::errc::result_out_of_range ? NUMBER_TOO_LARGE : NUMBER_OK;
}

// Whether "word" reads as a number (which includes nan and inf).
bool is_number(std::string_view word);

} // namespace acfile

#endif
