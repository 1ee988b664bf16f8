// The quick readers of whole lines: the usual vertex line, a surface's usual
// refs line and keyword lines such as "mat 3", over the plain number readers
// of number_text.h and with their rule: null for anything but the usual form,
// which is then read the general way.
//
// Where the processor has SSE2, a refs line that ends within the 32 bytes at
// its start is first classed all at once: which bytes are spaces, digits,
// signs and points, and where its words are. A line that passes is read from
// that; any other, and any line so near the end of the text that 32 bytes
// cannot be loaded, is read byte by byte. The two ways accept the same lines
// and read the same indices; the first only declines more (longer indices,
// say). Vertex lines are read byte by byte: their numbers are converted
// digit by digit as they are passed, which classing first only slowed.
#ifndef CORRUGO_ACFILE_PLAIN_LINES_H
#define CORRUGO_ACFILE_PLAIN_LINES_H

#include "acfile/number_text.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace acfile {

// After the end of a line whose words were all read from "p" on: the start of
// the next line.
static inline const char *plain_line_end(const char *p, const char *end)
{
    p = skip_plain_spaces(p);
    if (*p == '\n')
        return p + 1;
    return p == end ? p : nullptr;
}

// A line of "keyword" and one whole number, as "mat 3" or "SURF 0x10" (a
// hexadecimal number after "0x" when "hex"): the start of the next line.
template <size_t N>
static inline const char *read_plain_keyword_line(const char *p, const char *end,
                                                  const char (&keyword)[N], uint64_t &value,
                                                  bool hex = false)
{
    const size_t size = N - 1;
    p = skip_plain_spaces(p);
    if (size_t(end - p) <= size || std::memcmp(p, keyword, size) != 0 || !is_space(p[size]))
        return nullptr;
    p = skip_plain_spaces(p + size);
    p = hex && p[0] == '0' && p[1] == 'x' ? read_plain_hex_digits(p + 2, end, value, 15)
                                          : read_plain_digits(p, end, value, 18);
    return p ? plain_line_end(p, end) : nullptr;
}

#if defined(__SSE2__)

// The bytes set in the mask "x", as bits (the first lowest).
static inline uint32_t bits_of(__m128i x)
{
    return uint32_t(_mm_movemask_epi8(x));
}

// The bytes of "x" from "low" to "low" + "span", as a mask.
static inline __m128i in_range(__m128i x, char low, char span)
{
    const __m128i d = _mm_sub_epi8(x, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(span)), d);
}

static inline __m128i equal(__m128i x, char c)
{
    return _mm_cmpeq_epi8(x, _mm_set1_epi8(c));
}

// The bytes of the word from bit "first" to bit "last".
static inline uint32_t word_bits(unsigned first, unsigned last)
{
    return ((2u << last) - 1) & ~((1u << first) - 1);
}

// The whole number of the 1 to 8 decimal digits at "p", "count" of them,
// read at once: the eight bytes at "p", made digit values, moved up so that
// the number's last digit is the highest byte, then summed in pairs, fours
// and eights.
static inline uint64_t eight_digits(const char *p, unsigned count)
{
    uint64_t x;
    std::memcpy(&x, p, sizeof x);
    x = (x - 0x3030303030303030) << (8 * (8 - count));
    x = (x * (10 * (uint64_t(1) << 8) + 1) >> 8) & 0x00ff00ff00ff00ff;
    x = (x * (100 * (uint64_t(1) << 16) + 1) >> 16) & 0x0000ffff0000ffff;
    return (x * (10000 * (uint64_t(1) << 32) + 1)) >> 32;
}

// A line of three words, classed: bit i of each mask is byte i of the line.
struct ThreeWords {
    unsigned length;       /* up to the "\n" */
    unsigned first[3], last[3];
    uint32_t digit, point; /* the other bytes of the words are signs */
};

// The classes of 16 bytes, as bits (the first lowest).
struct ByteClasses {
    uint32_t newline, space, digit, point;
    uint32_t known; /* a space, a digit, a sign or a point */
};

static inline ByteClasses classes_of(const char *p)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i newline = equal(x, '\n');
    /* spaces: ' ' and \t to \r but \n; signs and the point: + to . but , */
    const __m128i space = _mm_or_si128(equal(x, ' '), _mm_andnot_si128(newline, in_range(x, '\t', 4)));
    const __m128i digit = in_range(x, '0', 9);
    const __m128i other = _mm_andnot_si128(equal(x, ','), in_range(x, '+', 3));
    return {bits_of(newline), bits_of(space), bits_of(digit), bits_of(equal(x, '.')),
            bits_of(_mm_or_si128(_mm_or_si128(space, digit), other))};
}

// Classes the line at "p", which must end within the 32 bytes there (the
// second 16 are looked at only when the first hold no line end), and holds
// only spaces (as is_space takes them), digits, "+", "-" and "." in three
// words. False for any other.
static inline bool three_words(const char *p, ThreeWords &w)
{
    ByteClasses c = classes_of(p);
    if (c.newline == 0) {
        const ByteClasses more = classes_of(p + 16);
        c.newline = more.newline << 16;
        c.space |= more.space << 16;
        c.digit |= more.digit << 16;
        c.point |= more.point << 16;
        c.known |= more.known << 16;
    }
    if (c.newline == 0)
        return false; /* no line end within the 32 bytes */
    w.length = unsigned(__builtin_ctz(c.newline));
    const uint32_t line = (uint32_t(1) << w.length) - 1;
    if ((c.known & line) != line)
        return false;
    const uint32_t word = line & ~c.space;
    w.digit = c.digit & line;
    w.point = c.point & line;
    uint32_t starts = word & ~(word << 1), ends = word & ~(word >> 1);
    for (int k = 0; k < 3; k++) {
        if (starts == 0)
            return false; /* fewer than three words */
        w.first[k] = unsigned(__builtin_ctz(starts));
        w.last[k] = unsigned(__builtin_ctz(ends));
        starts &= starts - 1;
        ends &= ends - 1;
    }
    return starts == 0; /* no fourth word */
}

// read_plain_ref_line for a line classed by three_words.
static inline bool read_ref_words(const char *p, const ThreeWords &w, uint64_t &index)
{
    /* the index: 1 to 8 digits here (9 the byte-by-byte way), within the 32 bytes */
    const uint32_t index_word = word_bits(w.first[0], w.last[0]);
    if ((w.digit & index_word) != index_word || w.last[0] - w.first[0] >= 8 || w.first[0] > 24)
        return false;
    /* the texture coordinates: a digit at least, a sign only first, a point at most */
    for (int k = 1; k < 3; k++) {
        const uint32_t word = word_bits(w.first[k], w.last[k]), points = w.point & word;
        const uint32_t signs = word & ~(w.digit | w.point);
        if ((w.digit & word) == 0 || (signs & ~(uint32_t(1) << w.first[k])) != 0 ||
            (points & (points - 1)) != 0)
            return false;
    }
    index = eight_digits(p + w.first[0], w.last[0] - w.first[0] + 1);
    return true;
}

#endif

// The common vertex line: three plain decimals (read_plain_float) and nothing
// after them but spaces. Returns the start of the next line, or null for any
// other line, which read_vertices then reads the general way.
static inline const char *read_plain_vertex(const char *p, const char *end, float v[3])
{
    for (int k = 0; k < 3; k++) {
        p = read_plain_float(skip_plain_spaces(p), end, v[k]);
        if (!p)
            return nullptr;
    }
    return plain_line_end(p, end);
}

// The common line of a surface's refs: a vertex index of at most 9 digits and
// two plain texture coordinates (check_plain_real), and nothing after them but
// spaces. Returns the start of the next line, or null for any other line.
static inline const char *read_plain_ref_line(const char *p, const char *end, uint64_t &index)
{
#if defined(__SSE2__)
    ThreeWords w;
    if (end - p >= 32 && three_words(p, w) && read_ref_words(p, w, index))
        return p + w.length + 1;
#endif
    p = read_plain_digits(skip_plain_spaces(p), end, index, 9);
    for (int k = 0; k < 2 && p; k++) /* the texture coordinates */
        p = check_plain_real(skip_plain_spaces(p), end);
    return p ? plain_line_end(p, end) : nullptr;
}

} // namespace acfile

#endif
