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

// "00" to "99".
static const char digit_pairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                  "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                  "8081828384858687888990919293949596979899";

// The count of decimal digits of "d", 1 to 9 (below 10^9).
static int digit_count(uint32_t d)
{
    int n = 1;
    for (uint32_t ten = 10; n < 9 && d >= ten; ten *= 10)
        n++;
    return n;
}

// Writes the "n" digits of "d" at "p", two at a time from the last.
static void write_digits(char *p, uint32_t d, int n)
{
    char *q = p + n;
    while (d >= 100) {
        q -= 2;
        std::memcpy(q, digit_pairs + 2 * (d % 100), 2);
        d /= 100;
    }
    if (d >= 10) {
        q -= 2;
        std::memcpy(q, digit_pairs + 2 * d, 2);
    } else {
        *--q = char('0' + d);
    }
}

// Writes "digits" (with no trailing zero) times ten to "exponent" as
// std::to_chars writes a float's shortest form: in fixed notation or, when
// that is shorter, in scientific notation with at least two exponent digits.
// Only for what shortest_decimal finds: a float below 2^24, whose digits are
// at most nine and the exponent of whose first digit has at most two.
static char *write_decimal(char *p, bool negative, uint32_t digits, int exponent)
{
    const int n = digit_count(digits);
    int scientific = exponent + n - 1; /* the exponent of the first digit */
    int fixed_length = exponent >= 0 ? n + exponent : scientific >= 0 ? n + 1 : n + 1 - scientific;
    int scientific_length = n + (n > 1) + 4; /* "e-05" */
    if (negative)
        *p++ = '-';
    if (fixed_length <= scientific_length) {
        if (exponent >= 0) { /* a whole number: its digits and zeros */
            write_digits(p, digits, n);
            std::memset(p + n, '0', size_t(exponent));
            return p + n + exponent;
        }
        if (scientific >= 0) { /* the point among the digits */
            write_digits(p, digits, n);
            std::memmove(p + scientific + 2, p + scientific + 1, size_t(n - scientific - 1));
            p[scientific + 1] = '.';
            return p + n + 1;
        }
        *p++ = '0'; /* "0.", zeros, the digits */
        *p++ = '.';
        std::memset(p, '0', size_t(-scientific - 1));
        p += -scientific - 1;
        write_digits(p, digits, n);
        return p + n;
    }
    write_digits(p + 1, digits, n); /* the first digit, a point, the others */
    p[0] = p[1];
    p[1] = '.'; /* with no other digit, the "e" takes its place */
    p += n + (n > 1);
    *p++ = 'e';
    *p++ = scientific < 0 ? '-' : '+';
    std::memcpy(p, digit_pairs + 2 * (scientific < 0 ? -scientific : scientific), 2);
    return p + 2;
}

// The shortest decimal that reads back as a float, and of those the nearest
// to it, found as in Giulietti's Schubfach: the float and the bounds of the
// interval of reals that round to it are scaled by a power of ten, so that
// the interval holds one to ten whole numbers, using 64 bits of that power
// (rounded up) and rounding to odd, which keeps the comparisons with the
// bounds exact. Of the two multiples of ten around the scaled float, if just
// one is inside, it is taken (a digit fewer); otherwise, of the two whole
// numbers around it, the one inside, or the nearer when both are (ties to
// even).

// 10^k for k from -31 to 45, each as its 64 highest bits rounded up (one more
// than rounded down, exact powers too): floor(10^k * 2^(63 - floor(log2 10^k))) + 1.
static const int POWER_FIRST = -31;
static const uint64_t powers_of_ten_64[] = {
    0x81ceb32c4b43fcf5, 0xa2425ff75e14fc32, 0xcad2f7f5359a3b3f,
    0xfd87b5f28300ca0e, 0x9e74d1b791e07e49, 0xc612062576589ddb,
    0xf79687aed3eec552, 0x9abe14cd44753b53, 0xc16d9a0095928a28,
    0xf1c90080baf72cb2, 0x971da05074da7bef, 0xbce5086492111aeb,
    0xec1e4a7db69561a6, 0x9392ee8e921d5d08, 0xb877aa3236a4b44a,
    0xe69594bec44de15c, 0x901d7cf73ab0acda, 0xb424dc35095cd810,
    0xe12e13424bb40e14, 0x8cbccc096f5088cc, 0xafebff0bcb24aaff,
    0xdbe6fecebdedd5bf, 0x89705f4136b4a598, 0xabcc77118461cefd,
    0xd6bf94d5e57a42bd, 0x8637bd05af6c69b6, 0xa7c5ac471b478424,
    0xd1b71758e219652c, 0x83126e978d4fdf3c, 0xa3d70a3d70a3d70b,
    0xcccccccccccccccd, 0x8000000000000001, 0xa000000000000001,
    0xc800000000000001, 0xfa00000000000001, 0x9c40000000000001,
    0xc350000000000001, 0xf424000000000001, 0x9896800000000001,
    0xbebc200000000001, 0xee6b280000000001, 0x9502f90000000001,
    0xba43b74000000001, 0xe8d4a51000000001, 0x9184e72a00000001,
    0xb5e620f480000001, 0xe35fa931a0000001, 0x8e1bc9bf04000001,
    0xb1a2bc2ec5000001, 0xde0b6b3a76400001, 0x8ac7230489e80001,
    0xad78ebc5ac620001, 0xd8d726b7177a8001, 0x878678326eac9001,
    0xa968163f0a57b401, 0xd3c21bcecceda101, 0x84595161401484a1,
    0xa56fa5b99019a5c9, 0xcecb8f27f4200f3b, 0x813f3978f8940985,
    0xa18f07d736b90be6, 0xc9f2c9cd04674edf, 0xfc6f7c4045812297,
    0x9dc5ada82b70b59e, 0xc5371912364ce306, 0xf684df56c3e01bc7,
    0x9a130b963a6c115d, 0xc097ce7bc90715b4, 0xf0bdc21abb48db21,
    0x96769950b50d88f5, 0xbc143fa4e250eb32, 0xeb194f8e1ae525fe,
    0x92efd1b8d0cf37bf, 0xb7abc627050305ae, 0xe596b7b0c643c71a,
    0x8f7e32ce7bea5c70, 0xb35dbf821ae4f38c,
};

// floor(e * log10(2)), floor(e * log10(2) - log10(4/3)) and floor(e * log2(10)),
// for the exponents of floats.
static int floor_log10_pow2(int e) { return (e * 1262611) >> 22; }
static int floor_log10_three_quarters_pow2(int e) { return (e * 1262611 - 524031) >> 22; }
static int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// The 32 bits of g * cp above its 64 lowest, made odd when anything below them
// (but the lowest 32, which the rounding up of g covers) is not zero.
static uint32_t round_to_odd(uint64_t g, uint32_t cp)
{
    const uint64_t low = (g & 0xffffffff) * cp, high = (g >> 32) * cp;
    const uint64_t above = high + (low >> 32);
    return uint32_t(above >> 32) | uint32_t(uint32_t(above) > 1);
}

// For a positive normal float below 2^24: its shortest decimal, "digits"
// (with no trailing zero) times ten to "exponent". False for the others.
static bool shortest_decimal(float a, uint32_t &digits, int &exponent)
{
    if (!(a < 16777216.0f))
        return false;
    uint32_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const uint32_t fraction = bits & 0x7fffff, biased = bits >> 23;
    if (biased == 0)
        return false; /* zero or subnormal */
    const uint32_t c = fraction | 0x800000;
    const int q = int(biased) - 150; /* a is c times 2^q */
    const bool even = c % 2 == 0, lower_closer = fraction == 0 && biased > 1;
    /* the interval of the reals that round to a, in quarters of 2^q */
    const uint32_t cbl = 4 * c - 2 + lower_closer, cb = 4 * c, cbr = 4 * c + 2;
    const int k = lower_closer ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1; /* 1 to 4 */
    const uint64_t g = powers_of_ten_64[-k - POWER_FIRST];
    const uint32_t vbl = round_to_odd(g, cbl << h), vb = round_to_odd(g, cb << h),
                   vbr = round_to_odd(g, cbr << h);
    const uint32_t lower = vbl + !even, upper = vbr - !even; /* the bounds that read back */
    const uint32_t s = vb / 4; /* a times 10^-k, rounded down */
    uint32_t d = 0;
    int e = k;
    bool found = false;
    if (s >= 10) { /* a decimal of one digit fewer */
        const uint32_t sp = s / 10;
        const bool up_inside = lower <= 40 * sp, wp_inside = 40 * sp + 40 <= upper;
        if (up_inside != wp_inside)
            d = sp + wp_inside, e = k + 1, found = true;
    }
    if (!found) {
        const bool u_inside = lower <= 4 * s, w_inside = 4 * s + 4 <= upper;
        if (u_inside != w_inside) {
            d = s + w_inside;
        } else { /* both or neither: the nearest, ties to even */
            const uint32_t mid = 4 * s + 2;
            d = s + (vb > mid || (vb == mid && (s & 1) != 0));
        }
    }
    while (d % 10 == 0)
        d /= 10, e++;
    digits = d;
    exponent = e;
    return true;
}

char *format_float(char *first, char *last, float value)
{
    uint32_t digits;
    int exponent;
    if (last - first >= 16 && shortest_decimal(std::fabs(value), digits, exponent))
        return write_decimal(first, std::signbit(value), digits, exponent);
    return std::to_chars(first, last, value).ptr;
}

/* }====== */

} // namespace acfile
