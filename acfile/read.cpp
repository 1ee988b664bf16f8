// Reads AC3D text model files into the substitute host's model, and writes the
// model back as the bytes that were read with only the moved vertices' lines
// written again. See acfile.h for what the format leaves open.
#include "sim/acfile.h"
#include "sim/save_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sim {

/* {====== Lines, words and numbers ====== */

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

static const char *skip_spaces(const char *p, const char *end)
{
    while (p < end && is_space(*p))
        p++;
    return p;
}

static const char *skip_word(const char *p, const char *end)
{
    while (p < end && !is_space(*p))
        p++;
    return p;
}

static const char *trim_end(const char *begin, const char *end)
{
    while (end > begin && is_space(end[-1]))
        end--;
    return end;
}

// The end of the line that starts at "p": its "\n", or "end".
static const char *line_end(const char *p, const char *end)
{
    const void *newline = std::memchr(p, '\n', end - p);
    return newline ? static_cast<const char *>(newline) : end;
}

// The start of the first line from "p" (a line start) that is not blank, or
// "end"; adds the blank lines passed to "lines". The reader and the writer
// both find vertex lines this way.
static const char *skip_blank_lines(const char *p, const char *end, size_t &lines)
{
    for (;;) {
        const char *q = skip_spaces(p, end);
        if (q == end)
            return end;
        if (*q != '\n')
            return p;
        p = q + 1;
        lines++;
    }
}

static std::string_view first_word(const char *begin, const char *end)
{
    const char *p = skip_spaces(begin, end);
    return std::string_view(p, skip_word(p, end) - p);
}

enum Number { NUMBER_OK, NUMBER_NONE, NUMBER_TOO_LARGE };

static locale_t c_locale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

static float parse_c(const char *s, float) { return strtof_l(s, nullptr, c_locale()); }
static double parse_c(const char *s, double) { return strtod_l(s, nullptr, c_locale()); }

// Reads the decimal number (or nan, inf) that runs from "p" to a space or
// "end", correctly rounded to T, and moves "p" past it. A finite number too
// large for T is NUMBER_TOO_LARGE; one too small rounds to a subnormal or zero.
template <class T> static Number read_real(const char *&p, const char *end, T &value)
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

// The common case of read_real for a float, without its general conversion:
// a plain decimal ("-12.375": an optional minus, digits, and maybe a point
// and digits) whose digits, read as a whole number, are at most 2^24, with at
// most 10 of them after the point. Both that number and the power of ten are
// then floats exactly, so their quotient, rounded once by the division, is
// the correctly rounded value, the float read_real gives. Returns the end of
// the number.
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
    if (!at_word_end(p, end) || digits > (1u << 24) || fraction > 10)
        return nullptr;
    float v = float(digits) / float_powers_of_ten[fraction];
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
    value = 0;
    for (; p - start < most; p++) {
        unsigned d = unsigned(*p - '0'), letter = unsigned(*p | 0x20) - 'a';
        if (d >= 10 && letter >= 6)
            break;
        value = value * 16 + (d < 10 ? d : letter + 10);
    }
    return p > start && at_word_end(p, end) ? p : nullptr;
}

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

// Whether a number that read_real reads without fault runs from "p" to a space
// or "end", moving "p" past it. A plain decimal with no exponent and fewer than
// 39 digits before its point always fits a float, so it is checked without
// being converted; anything else is read.
static bool check_real(const char *&p, const char *end)
{
    if (const char *q = check_plain_real(p, end)) {
        p = q;
        return true;
    }
    float value;
    return read_real(p, end, value) == NUMBER_OK;
}

// Reads the integer that runs from "p" to a space or "end".
template <class T>
static Number read_integer(const char *&p, const char *end, T &value, int base = 10)
{
    auto [q, ec] = std::from_chars(p, end, value, base);
    if (ec == std::errc::invalid_argument || (q < end && !is_space(*q)))
        return NUMBER_NONE;
    p = q;
    return ec == std::errc::result_out_of_range ? NUMBER_TOO_LARGE : NUMBER_OK;
}

// Whether "word" reads as a number (which includes nan and inf).
static bool is_number(std::string_view word)
{
    const char *p = word.data();
    float v;
    return !word.empty() && read_real(p, word.data() + word.size(), v) != NUMBER_NONE;
}

// Whether "word" can be a token of the format, known or not: a word that
// starts with a letter and is no number.
static bool is_token(std::string_view word)
{
    if (word.empty())
        return false;
    unsigned char c = word[0];
    return (std::isalpha(c) || c == '_') && !is_number(word);
}

// The length of the valid UTF-8 sequence of two bytes or more at "p", or 0.
static size_t utf8_length(const char *p, const char *end)
{
    const unsigned char *s = reinterpret_cast<const unsigned char *>(p);
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF; /* the second byte's range */
    if (s[0] >= 0xC2 && s[0] <= 0xDF)
        n = 2;
    else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
        n = 3;
        if (s[0] == 0xE0)
            low = 0xA0; /* no overlong forms */
        if (s[0] == 0xED)
            high = 0x9F; /* no surrogates */
    } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
        n = 4;
        if (s[0] == 0xF0)
            low = 0x90;
        if (s[0] == 0xF4)
            high = 0x8F;
    }
    if (n == 0 || end - p < ptrdiff_t(n) || s[1] < low || s[1] > high)
        return 0;
    for (size_t i = 2; i < n; i++)
        if (s[i] < 0x80 || s[i] > 0xBF)
            return 0;
    return n;
}

// The text from "begin" to "end", trimmed, clipped to 60 characters and with
// control characters, quotes and bytes that are not UTF-8 escaped, in double
// quotes: what a message says it found.
static std::string quote(const char *begin, const char *end)
{
    static const char hex[] = "0123456789abcdef";
    const size_t limit = 60;
    begin = skip_spaces(begin, end);
    end = trim_end(begin, end);
    std::string s = "\"";
    for (size_t shown = 0; begin < end; shown++) {
        if (shown == limit) {
            s += "...";
            break;
        }
        unsigned char c = *begin;
        size_t n = c >= 0x80 ? utf8_length(begin, end) : 0;
        if (n) {
            s.append(begin, n);
            begin += n;
            continue;
        }
        if (c == '"' || c == '\\')
            s += '\\', s += char(c);
        else if (c == '\t')
            s += "\\t";
        else if (c == '\r')
            s += "\\r";
        else if (c < 0x20 || c >= 0x7F)
            s += "\\x", s += hex[c >> 4], s += hex[c & 15];
        else
            s += char(c);
        begin++;
    }
    return s + "\"";
}

/* }====== */

/* {====== Mapped files ====== */

MappedFile::MappedFile(MappedFile &&other) noexcept
    : base_(other.base_), size_(other.size_), length_(other.length_)
{
    other.base_ = nullptr;
    other.size_ = other.length_ = 0;
}

// "other" gets what this held, and unmaps it in its turn.
MappedFile &MappedFile::operator=(MappedFile &&other) noexcept
{
    std::swap(base_, other.base_);
    std::swap(size_, other.size_);
    std::swap(length_, other.length_);
    return *this;
}

MappedFile::~MappedFile()
{
    if (base_)
        munmap(base_, length_);
}

// The file goes over the start of a zeroed reservation at least one byte
// longer, so that the byte after its end reads as zero even when the file
// fills its last page (the rest of a page the file ends in reads as zero too).
// Its pages are mapped at once: the reader reads them all.
bool MappedFile::map(int fd, size_t size)
{
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t length = (size / page + 1) * page;
    void *base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return false;
    if (mmap(base, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED) {
        int mmap_errno = errno;
        munmap(base, length);
        errno = mmap_errno;
        return false;
    }
    MappedFile mapped;
    mapped.base_ = base;
    mapped.size_ = size;
    mapped.length_ = length;
    *this = std::move(mapped);
    return true;
}

/* }====== */

/* {====== Reading ====== */

// A line of the text, without its "\n".
struct Line {
    const char *begin, *end;
    size_t number;
};

// What a count counts, for messages.
struct Noun {
    const char *one, *many;
};
static const Noun VERTEX_LINES = {"vertex line", "vertex lines"};
static const Noun REFS_LINES = {"refs line", "refs lines"};
static const Noun SURFACES = {"surface", "surfaces"};
static const Noun KIDS = {"kid", "kids"};
static const Noun DATA_BYTES = {"byte of data", "bytes of data"};

static std::string count_of(size_t n, const Noun &noun)
{
    return std::to_string(n) + " " + (n == 1 ? noun.one : noun.many);
}

// The last block of counted lines just read, for the message when more lines
// of its kind follow than its count said.
struct Block {
    const Noun *what = nullptr; /* VERTEX_LINES or REFS_LINES */
    size_t count = 0;
};

struct Reader {
    const std::string &file;
    const char *p, *end; /* the next byte to read, the text's end */
    size_t line_number;  /* of the last line read */
    Model &model;
    AcSource &source;
    const char *text;
};

struct ReadError {
    std::string message;
};

[[noreturn]] static void fail(const Reader &r, size_t line, const std::string &expected,
                              const std::string &found)
{
    throw ReadError{r.file + ":" + std::to_string(line) + ": expected " + expected + ", found " +
                    found};
}

static std::string quote(const Line &line) { return quote(line.begin, line.end); }

static std::string end_after(size_t count)
{
    return "end of file after " + std::to_string(count);
}

// Fails on "line", which does not belong where it is: as one more line of the
// block just read when it looks like one, else as not what was "expected".
[[noreturn]] static void unexpected(const Reader &r, const Line &line, const Block &block,
                                    const std::string &expected)
{
    const char *p = skip_spaces(line.begin, line.end);
    bool number =
        (p < line.end && std::strchr("0123456789+-.", *p)) || is_number(first_word(p, line.end));
    if (block.what && number)
        fail(r, line.number, count_of(block.count, *block.what), "more: " + quote(line));
    fail(r, line.number, expected, quote(line));
}

// Reads the next line that is not blank; false at the end of the text.
static bool next_line(Reader &r, Line &line)
{
    const char *p = skip_blank_lines(r.p, r.end, r.line_number);
    if (p == r.end) {
        r.p = p;
        return false;
    }
    const char *e = line_end(p, r.end);
    line = {p, e, ++r.line_number};
    r.p = e < r.end ? e + 1 : e;
    return true;
}

static std::string_view first_word(const Line &line) { return first_word(line.begin, line.end); }

// After the first word of "line".
static const char *after_keyword(const Line &line)
{
    return skip_spaces(skip_word(skip_spaces(line.begin, line.end), line.end), line.end);
}

// How many items of at least "size" bytes each, lines whose last may lack its
// "\n", the rest of the text can hold.
static size_t room_for_lines(const Reader &r, size_t size) { return (r.end - r.p + 1) / size; }

// Reads a count line such as "numvert 12", of "what". A count past the "room"
// that the rest of the text has for them is no size to reserve, but it is read
// all the same: the reading then fails on the end of the text or on a line that
// does not belong, which says more than the count alone.
static size_t read_count(const Reader &r, const Line &line, const Noun &what, size_t room)
{
    const char *p = after_keyword(line);
    bool negative = p < line.end && *p == '-';
    int64_t n = 0;
    Number got = p < line.end ? read_integer(p, line.end, n) : NUMBER_NONE;
    if (got == NUMBER_NONE || skip_spaces(p, line.end) != line.end)
        fail(r, line.number, std::string(first_word(line)) + " and a count", quote(line));
    if (negative)
        fail(r, line.number, "a count of 0 or more", quote(line));
    if (got == NUMBER_TOO_LARGE)
        fail(r, line.number, "at most " + count_of(room, what) + " in the rest of the file",
             quote(line));
    return size_t(n);
}

// Reads "count" finite numbers after the keyword of "line".
static void read_reals(const Reader &r, const Line &line, double *v, int count,
                       const std::string &expected)
{
    const char *p = after_keyword(line);
    for (int i = 0; i < count; i++) {
        p = skip_spaces(p, line.end);
        if (p == line.end || read_real(p, line.end, v[i]) != NUMBER_OK || !std::isfinite(v[i]))
            fail(r, line.number, expected, quote(line));
    }
    if (skip_spaces(p, line.end) != line.end)
        fail(r, line.number, expected, quote(line));
}

// Reads the one integer after the keyword of "line"; "base" 16 takes a 0x.
static void read_one_integer(const Reader &r, const Line &line, int64_t &value, int base,
                             const std::string &expected)
{
    const char *p = after_keyword(line);
    if (base == 16 && line.end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        p += 2;
    else
        base = 10;
    if (p == line.end || read_integer(p, line.end, value, base) != NUMBER_OK ||
        skip_spaces(p, line.end) != line.end)
        fail(r, line.number, expected, quote(line));
}

// Reads a name: the text between the first and the last double quote of the
// line, or the rest of the line when it does not start with a quote.
static void read_name(const Reader &r, const Line &line, std::string &name)
{
    const char *p = after_keyword(line);
    const char *e = trim_end(p, line.end);
    if (p < e && *p == '"') {
        if (e - p < 2 || e[-1] != '"')
            fail(r, line.number, "a name in double quotes", quote(line));
        name.assign(p + 1, e - 1);
    } else {
        name.assign(p, e);
    }
}

// Skips the data of a "data 12" line: that many bytes from the next line on,
// after which the line goes on, to its end, which must be blank.
static void skip_data(Reader &r, const Line &line)
{
    size_t room = r.end - r.p;
    size_t n = read_count(r, line, DATA_BYTES, room);
    if (n > room)
        fail(r, line.number, "at most " + count_of(room, DATA_BYTES) + " in the rest of the file",
             quote(line));
    if (n == 0)
        return;
    const char *data_end = r.p + n;
    r.line_number += std::count(r.p, data_end, '\n') + 1;
    const char *e = line_end(data_end, r.end);
    if (skip_spaces(data_end, e) != e)
        fail(r, r.line_number,
             "the end of the line after " + count_of(n, DATA_BYTES),
             quote(data_end, e));
    r.p = e < r.end ? e + 1 : e;
}

static void skip_mat(Reader &r, const Line &head)
{
    Line line;
    do {
        if (!next_line(r, line))
            fail(r, head.number, "ENDMAT to close the MAT", "end of file");
    } while (first_word(line) != "ENDMAT");
}

enum Token {
    TOKEN_NAME, TOKEN_DATA, TOKEN_ROT, TOKEN_LOC, TOKEN_SUBDIV, TOKEN_NUMVERT, TOKEN_NUMSURF,
    TOKEN_KIDS, TOKEN_KEPT, TOKEN_MISPLACED, TOKEN_UNKNOWN
};

// The tokens of an OBJECT, up to its kids line.
static const struct {
    const char *name;
    Token token;
} object_tokens[] = {
    {"name", TOKEN_NAME},       {"data", TOKEN_DATA},       {"rot", TOKEN_ROT},
    {"loc", TOKEN_LOC},         {"subdiv", TOKEN_SUBDIV},   {"numvert", TOKEN_NUMVERT},
    {"numsurf", TOKEN_NUMSURF}, {"kids", TOKEN_KIDS},       {"texture", TOKEN_KEPT},
    {"texrep", TOKEN_KEPT},     {"texoff", TOKEN_KEPT},     {"url", TOKEN_KEPT},
    {"crease", TOKEN_KEPT},     {"hidden", TOKEN_KEPT},     {"locked", TOKEN_KEPT},
    {"folded", TOKEN_KEPT},     {"OBJECT", TOKEN_MISPLACED}, {"SURF", TOKEN_MISPLACED},
    {"mat", TOKEN_MISPLACED},   {"refs", TOKEN_MISPLACED},  {"MATERIAL", TOKEN_MISPLACED},
    {"MAT", TOKEN_MISPLACED},   {"ENDMAT", TOKEN_MISPLACED}, {nullptr, TOKEN_UNKNOWN}};

static Token object_token(std::string_view word)
{
    int i = 0;
    while (object_tokens[i].name && word != object_tokens[i].name)
        i++;
    if (object_tokens[i].token == TOKEN_UNKNOWN && !is_token(word))
        return TOKEN_MISPLACED;
    return object_tokens[i].token;
}

// What the lines of one OBJECT have said so far.
struct ObjectState {
    Object *object;
    uint32_t model_index;
    const Line *head;     /* the OBJECT line */
    int32_t parent_frame; /* -1 for none */
    double rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double loc[3] = {0, 0, 0};
    bool has_rot = false, has_loc = false, has_numvert = false, has_numsurf = false;
    size_t vertex_text = 0;
    size_t numvert_line = 0;
    size_t surface_count = 0;
    uint32_t max_ref = 0; /* the highest vertex index of its surfaces... */
    Line max_ref_line{};  /* ...and its line, when there is one */
};

static void once(const Reader &r, const Line &line, bool &seen)
{
    if (seen)
        fail(r, line.number, "one " + std::string(first_word(line)) + " per object",
             "another: " + quote(line));
    seen = true;
}

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

static void read_vertices(Reader &r, const Line &head, ObjectState &o, Block &block)
{
    once(r, head, o.has_numvert);
    size_t room = room_for_lines(r, 6);
    size_t n = read_count(r, head, VERTEX_LINES, room);
    o.vertex_text = r.p - r.text;
    o.numvert_line = head.number;
    Object *object = o.object;
    object->vertices.reserve(std::min(n, room));
    Line line;
    for (size_t i = 0; i < n; i++) {
        float v[3];
        if (const char *next = read_plain_vertex(r.p, r.end, v)) {
            r.p = next;
            r.line_number++;
            r.source.quick_lines++;
            object->vertices.push_back({v[0], v[1], v[2], object});
            continue;
        }
        if (!next_line(r, line))
            fail(r, head.number, count_of(n, VERTEX_LINES), end_after(i));
        const char *p = line.begin;
        for (float &c : v) {
            p = skip_spaces(p, line.end);
            Number got = p < line.end ? read_real(p, line.end, c) : NUMBER_NONE;
            if (got == NUMBER_NONE)
                fail(r, line.number, "3 numbers for a vertex", quote(line));
            if (got == NUMBER_TOO_LARGE)
                fail(r, line.number, "3 numbers for a vertex within a float's range", quote(line));
        }
        object->vertices.push_back({v[0], v[1], v[2], object});
    }
    block = {&VERTEX_LINES, n};
}

// Reads the "refs" block of a surface: its vertex indices, with texture
// coordinates that are checked but not kept.
static void read_refs(Reader &r, const Line &head, ObjectState &o)
{
    size_t n = read_count(r, head, REFS_LINES, room_for_lines(r, 6));
    Object *object = o.object;
    uint32_t first = uint32_t(object->refs.size());
    Line line;
    for (size_t i = 0; i < n; i++) {
        if (!next_line(r, line))
            fail(r, head.number, count_of(n, REFS_LINES), end_after(i));
        const char *p = skip_spaces(line.begin, line.end);
        uint32_t index = 0;
        Number got = p < line.end ? read_integer(p, line.end, index) : NUMBER_NONE;
        for (int k = 0; k < 2; k++) { /* the texture coordinates */
            p = skip_spaces(p, line.end);
            if (got != NUMBER_NONE)
                got = p < line.end && check_real(p, line.end) ? got : NUMBER_NONE;
        }
        if (got == NUMBER_NONE || skip_spaces(p, line.end) != line.end)
            fail(r, line.number, "a vertex index and 2 texture coordinates", quote(line));
        if (got == NUMBER_TOO_LARGE)
            index = UINT32_MAX; /* past any vertex count */
        if (o.has_numvert && index >= object->vertices.size())
            fail(r, line.number,
                 "a vertex index below numvert " + std::to_string(object->vertices.size()),
                 quote(line));
        if (index >= o.max_ref) {
            o.max_ref = index;
            o.max_ref_line = line;
        }
        object->refs.push_back(index);
    }
    object->surfaces.push_back({object, first, uint32_t(n)});
}

// The common surface, read in one go: a "SURF" line, maybe a "mat" line, a
// "refs" line and its lines of an index below numvert (when known) and two
// plain texture coordinates, with no blank line among them. False, having
// changed nothing, for anything else, which read_surfaces then reads the
// general way from the same line, so that what it accepts and how it fails
// stay the general reading's.
static bool read_plain_surface(Reader &r, ObjectState &o)
{
    const char *p = r.p, *end = r.end;
    uint64_t flags, material, count;
    p = read_plain_keyword_line(p, end, "SURF", flags, true);
    if (!p)
        return false;
    size_t lines = 1;
    if (const char *q = read_plain_keyword_line(p, end, "mat", material))
        p = q, lines++;
    p = read_plain_keyword_line(p, end, "refs", count);
    if (!p)
        return false;
    lines++;
    Object *object = o.object;
    const size_t first = object->refs.size(), vertices = object->vertices.size();
    uint32_t max_ref = o.max_ref;
    Line max_ref_line = o.max_ref_line;
    for (uint64_t i = 0; i < count; i++) {
        const char *line = p;
        uint64_t index;
        p = read_plain_digits(skip_plain_spaces(p), end, index, 9);
        for (int k = 0; k < 2 && p; k++) /* the texture coordinates */
            p = check_plain_real(skip_plain_spaces(p), end);
        const char *next = p ? plain_line_end(p, end) : nullptr;
        if (!next || (o.has_numvert && index >= vertices)) {
            object->refs.resize(first);
            return false;
        }
        lines++;
        if (!o.has_numvert && index >= max_ref) { /* else every index is known to be below it */
            max_ref = uint32_t(index);
            max_ref_line = {line, next > line && next[-1] == '\n' ? next - 1 : next,
                            r.line_number + lines};
        }
        object->refs.push_back(uint32_t(index));
        p = next;
    }
    object->surfaces.push_back({object, uint32_t(first), uint32_t(count)});
    o.max_ref = max_ref;
    o.max_ref_line = max_ref_line;
    r.p = p;
    r.line_number += lines;
    r.source.quick_lines += lines;
    return true;
}

static void read_surfaces(Reader &r, const Line &head, ObjectState &o, Block &block)
{
    once(r, head, o.has_numsurf);
    size_t room = room_for_lines(r, 14);
    size_t n = read_count(r, head, SURFACES, room);
    o.surface_count = n;
    o.object->surfaces.reserve(std::min(n, room));
    Line line;
    for (size_t i = 0; i < n; i++) {
        if (read_plain_surface(r, o)) {
            block = {&REFS_LINES, o.object->surfaces.back().ref_count};
            continue;
        }
        if (!next_line(r, line))
            fail(r, head.number, count_of(n, SURFACES), end_after(i));
        if (first_word(line) != "SURF")
            unexpected(r, line, block,
                       "SURF to start surface " + std::to_string(i + 1) + " of " +
                           std::to_string(n));
        block = {};
        int64_t flags;
        read_one_integer(r, line, flags, 16, "SURF and its flags (such as 0x10)");
        const Line surf = line;
        for (;;) {
            if (!next_line(r, line))
                fail(r, surf.number, "refs to end the SURF", "end of file");
            std::string_view word = first_word(line);
            if (word == "refs")
                break;
            if (word == "mat") {
                int64_t material;
                read_one_integer(r, line, material, 10, "mat and a material number");
                if (material < 0)
                    fail(r, line.number, "mat and a material number", quote(line));
            } else if (object_token(word) != TOKEN_UNKNOWN) {
                fail(r, line.number, "refs to end the SURF on line " + std::to_string(surf.number),
                     quote(line));
            }
        }
        read_refs(r, line, o);
        block = {&REFS_LINES, o.object->surfaces.back().ref_count};
    }
}

static bool is_identity(const double rot[9])
{
    static const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    return std::equal(rot, rot + 9, identity);
}

// Adds the frame of an object whose own transform is "rot" and "loc", under the
// frame "parent" (-1 for none); returns its index.
static int32_t add_frame(AcSource &source, int32_t parent, const double rot[9], const double loc[3])
{
    AcSource::Frame f;
    double own[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            own[i][j] = rot[3 * j + i]; /* rot's numbers are the columns */
    if (parent < 0) {
        std::memcpy(f.m, own, sizeof own);
        std::memcpy(f.t, loc, sizeof f.t);
    } else {
        const AcSource::Frame &p = source.frames[parent];
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++)
                f.m[i][j] = p.m[i][0] * own[0][j] + p.m[i][1] * own[1][j] + p.m[i][2] * own[2][j];
            f.t[i] = p.m[i][0] * loc[0] + p.m[i][1] * loc[1] + p.m[i][2] * loc[2] + p.t[i];
        }
    }
    const double(*m)[3] = f.m;
    double cofactor[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            cofactor[i][j] = m[(i + 1) % 3][(j + 1) % 3] * m[(i + 2) % 3][(j + 2) % 3] -
                             m[(i + 1) % 3][(j + 2) % 3] * m[(i + 2) % 3][(j + 1) % 3];
    double det = m[0][0] * cofactor[0][0] + m[0][1] * cofactor[0][1] + m[0][2] * cofactor[0][2];
    f.linear = !(m[0][0] == 1 && m[1][1] == 1 && m[2][2] == 1 && m[0][1] == 0 && m[0][2] == 0 &&
                 m[1][0] == 0 && m[1][2] == 0 && m[2][0] == 0 && m[2][1] == 0);
    f.invertible = true;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            f.inverse[i][j] = cofactor[j][i] / det; /* the adjugate is the cofactors' transpose */
            f.invertible = f.invertible && std::isfinite(f.inverse[i][j]);
        }
    source.frames.push_back(f);
    return int32_t(source.frames.size() - 1);
}

// Local to world; without a linear part, coordinates with no translation are
// copied, so that they keep their exact bits (-0 included).
static void to_world(const AcSource::Frame &f, const float local[3], float world[3])
{
    double v[3] = {local[0], local[1], local[2]};
    for (int i = 0; i < 3; i++) {
        if (f.linear)
            world[i] = float(f.m[i][0] * v[0] + f.m[i][1] * v[1] + f.m[i][2] * v[2] + f.t[i]);
        else
            world[i] = f.t[i] != 0 ? float(v[i] + f.t[i]) : local[i];
    }
}

static void to_local(const AcSource::Frame &f, const float world[3], float local[3])
{
    double d[3];
    for (int i = 0; i < 3; i++)
        d[i] = f.t[i] != 0 ? double(world[i]) - f.t[i] : double(world[i]);
    for (int i = 0; i < 3; i++) {
        if (f.linear)
            local[i] =
                float(f.inverse[i][0] * d[0] + f.inverse[i][1] * d[1] + f.inverse[i][2] * d[2]);
        else
            local[i] = f.t[i] != 0 ? float(d[i]) : world[i];
    }
}

// The line of vertex "index" of the object "o" (for messages: it is found
// again by counting).
static Line vertex_line(const Reader &r, const ObjectState &o, size_t index)
{
    size_t number = o.numvert_line;
    const char *p = r.text + o.vertex_text;
    for (size_t i = 0;; i++) {
        p = skip_blank_lines(p, r.end, number);
        const char *e = line_end(p, r.end);
        number++;
        if (i == index)
            return {p, e, number};
        p = e < r.end ? e + 1 : e;
    }
}

// Ends an object at its kids line: checks its vertex indices, places its
// vertices in the world and records them. Returns the object's frame.
static int32_t finish_object(Reader &r, ObjectState &o)
{
    Object *object = o.object;
    if (o.max_ref_line.begin && o.max_ref >= object->vertices.size())
        fail(r, o.max_ref_line.number,
             "a vertex index below numvert " + std::to_string(object->vertices.size()),
             quote(o.max_ref_line));
    int32_t frame = o.parent_frame;
    bool has_own = (o.has_rot && !is_identity(o.rot)) ||
                   (o.has_loc && (o.loc[0] != 0 || o.loc[1] != 0 || o.loc[2] != 0));
    if (has_own)
        frame = add_frame(r.source, o.parent_frame, o.rot, o.loc);
    if (object->vertices.empty())
        return frame;
    AcSource &s = r.source;
    s.objects.push_back({o.model_index, frame, o.vertex_text, s.positions.size(),
                         object->vertices.size()});
    if (s.positions.capacity() < s.positions.size() + object->vertices.size())
        s.positions.reserve(std::max(s.positions.size() + object->vertices.size(),
                                     2 * s.positions.capacity()));
    for (Vertex &v : object->vertices) {
        if (frame >= 0) {
            float local[3] = {v.x, v.y, v.z}, world[3];
            to_world(s.frames[frame], local, world);
            /* a rotation mixes the axes: a NaN of the file may then reach them all */
            bool all_finite = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
            bool linear = s.frames[frame].linear;
            for (int k = 0; k < 3; k++)
                if ((linear ? all_finite : std::isfinite(local[k])) && !std::isfinite(world[k])) {
                    Line line = vertex_line(r, o, size_t(&v - object->vertices.data()));
                    fail(r, line.number,
                         "3 numbers for a vertex within a float's range once the rot and loc "
                         "of its object and those above it place it",
                         quote(line));
                }
            v.x = world[0], v.y = world[1], v.z = world[2];
        }
        s.positions.push_back({v.x, v.y, v.z});
    }
    return frame;
}

// Reads an OBJECT's lines after "head" up to its kids line, into "o".
// Returns the number of kids that follow; "frame" is set to the object's.
static size_t read_object(Reader &r, ObjectState &o, int32_t &frame)
{
    Line line;
    Block block;
    for (;;) {
        if (!next_line(r, line))
            fail(r, o.head->number, "a kids line to end the OBJECT", "end of file");
        Block last = block;
        block = {};
        std::string_view word = first_word(line);
        switch (object_token(word)) {
        case TOKEN_NAME:
            read_name(r, line, o.object->name);
            break;
        case TOKEN_DATA:
            skip_data(r, line);
            break;
        case TOKEN_ROT:
            once(r, line, o.has_rot);
            read_reals(r, line, o.rot, 9, "9 finite numbers after rot");
            break;
        case TOKEN_LOC:
            once(r, line, o.has_loc);
            read_reals(r, line, o.loc, 3, "3 finite numbers after loc");
            break;
        case TOKEN_SUBDIV: {
            int64_t levels;
            read_one_integer(r, line, levels, 10, "subdiv and a number");
            o.object->subdivided = levels > 0;
            break;
        }
        case TOKEN_NUMVERT:
            read_vertices(r, line, o, block);
            break;
        case TOKEN_NUMSURF:
            read_surfaces(r, line, o, block);
            break;
        case TOKEN_KIDS: {
            size_t kids = read_count(r, line, KIDS, room_for_lines(r, 16));
            frame = finish_object(r, o);
            return kids;
        }
        case TOKEN_KEPT:
        case TOKEN_UNKNOWN:
            break;
        case TOKEN_MISPLACED:
            if (word == "OBJECT")
                fail(r, line.number, "kids before the next OBJECT", quote(line));
            if (word == "SURF" && o.has_numsurf)
                fail(r, line.number, count_of(o.surface_count, SURFACES),
                     "more: " + quote(line));
            unexpected(r, line, last, "a token of an OBJECT, such as name, loc, numvert or kids");
        }
    }
}

// An object read whose kids are still to come.
struct OpenObject {
    Object *object;
    int32_t frame;
    size_t kids, left;
    size_t kids_line;
};

// Reads the object that starts on "head", a root object, and its descendants.
static void read_tree(Reader &r, const Line &head, bool world)
{
    std::vector<OpenObject> open;
    Line line = head;
    Object *parent = nullptr;
    int32_t parent_frame = -1;
    for (;;) {
        std::string_view type = first_word(after_keyword(line), line.end);
        if (type.empty())
            fail(r, line.number, "OBJECT and its type", quote(line));
        Object *object = world ? r.model.world : r.model.add_object(parent, "");
        ObjectState o{object, uint32_t(world ? 0 : r.model.objects.size() - 1), &line,
                      parent_frame};
        world = false;
        int32_t frame;
        size_t kids = read_object(r, o, frame);
        if (kids)
            open.push_back({object, frame, kids, kids, r.line_number});
        while (!open.empty() && open.back().left == 0)
            open.pop_back();
        if (open.empty())
            return;
        OpenObject &top = open.back();
        if (!next_line(r, line))
            fail(r, top.kids_line, count_of(top.kids, KIDS), end_after(top.kids - top.left));
        if (first_word(line) != "OBJECT")
            fail(r, line.number,
                 "OBJECT for kid " + std::to_string(top.kids - top.left + 1) + " of " +
                     std::to_string(top.kids),
                 quote(line));
        top.left--;
        parent = top.object;
        parent_frame = top.frame;
    }
}

// Whether the text from "p" starts with the AC3D header line, after an
// optional UTF-8 byte-order mark; "line" is set to that first line.
static bool has_header(const char *p, const char *end, Line &line)
{
    static const char bom[] = "\xEF\xBB\xBF";
    if (end - p >= 3 && std::memcmp(p, bom, 3) == 0)
        p += 3;
    line = {p, line_end(p, end), 1};
    std::string_view word(line.begin, skip_word(line.begin, line.end) - line.begin);
    return word.size() == 5 && word.substr(0, 4) == "AC3D" &&
           std::isalnum(static_cast<unsigned char>(word[4])) &&
           skip_spaces(line.begin + word.size(), line.end) == line.end;
}

static void read_header(Reader &r)
{
    Line line;
    bool ok = has_header(r.p, r.end, line);
    if (line.begin == r.end)
        fail(r, 1, "the AC3D header (such as AC3Db)", "end of file");
    if (!ok)
        fail(r, 1, "the AC3D header (such as AC3Db)", quote(line));
    r.line_number = 1;
    r.p = line.end < r.end ? line.end + 1 : line.end;
}

// The fields of a MATERIAL line after its name, in their order.
static const struct {
    const char *name;
    int numbers;
} material_fields[] = {{"rgb", 3}, {"amb", 3}, {"emis", 3}, {"spec", 3},
                       {"shi", 1}, {"trans", 1}, {nullptr, 0}};

// Checks a MATERIAL line: a name (in double quotes, which may hold spaces, or
// one word), then rgb, amb, emis and spec with 3 numbers each, shi and trans
// with one. Fields after those are kept as they are, as other writers may add
// their own.
static void check_material(const Reader &r, const Line &line)
{
    const char *p = after_keyword(line), *e = line.end;
    if (p < e && *p == '"') { /* up to a quote before a space or the end */
        const char *q = p + 1;
        while (q < e && !(*q == '"' && (q + 1 == e || is_space(q[1]))))
            q++;
        if (q == e)
            fail(r, line.number, "a MATERIAL's name in double quotes", quote(line));
        p = q + 1;
    } else {
        p = skip_word(p, e);
    }
    for (int i = 0; material_fields[i].name; i++) {
        std::string_view word = first_word(p, e);
        p = skip_spaces(p, e);
        bool ok = word == material_fields[i].name;
        p = skip_word(p, e);
        for (int k = 0; ok && k < material_fields[i].numbers; k++) {
            p = skip_spaces(p, e);
            ok = p < e && check_real(p, e);
        }
        if (!ok)
            fail(r, line.number,
                 std::string(material_fields[i].name) + " and " +
                     std::to_string(material_fields[i].numbers) +
                     (material_fields[i].numbers == 1 ? " number" : " numbers") +
                     " in the MATERIAL line",
                 quote(line));
    }
}

static void read_text(Reader &r)
{
    read_header(r);
    bool roots = false, world = false;
    Line line;
    while (next_line(r, line)) {
        std::string_view word = first_word(line);
        if (world)
            fail(r, line.number, "the end of the file after the world object", quote(line));
        if (word == "OBJECT") {
            world = !roots && first_word(after_keyword(line), line.end) == "world";
            roots = true;
            read_tree(r, line, world);
        } else if (word == "MAT") {
            skip_mat(r, line);
        } else if (word == "MATERIAL") {
            check_material(r, line);
        } else if (object_token(word) != TOKEN_UNKNOWN) {
            fail(r, line.number, "MATERIAL or OBJECT", quote(line));
        }
    }
    if (!roots) /* on the line after the last, if the text ends one */
        fail(r, std::min<size_t>(r.line_number + 1, std::count(r.text, r.end, '\n') + 1),
             "an OBJECT", "end of file");
}

// Reads the bytes "s" holds into "model" and "source", which are replaced
// only on success.
static bool read_source(AcSource &s, const std::string &file, Model &model, AcSource &source,
                        std::string &error)
{
    try {
        Model m;
        std::string_view bytes = s.bytes();
        const char *begin = bytes.data();
        Reader r{file, begin, begin + bytes.size(), 0, m, s, begin};
        read_text(r);
        model = std::move(m);
        source = std::move(s);
        return true;
    } catch (const ReadError &e) {
        error = e.message;
    } catch (const std::bad_alloc &) {
        error = file + ": cannot read: not enough memory for the model";
    }
    return false;
}

bool read_ac(std::string text, const std::string &file, Model &model, AcSource &source,
             std::string &error)
{
    AcSource s;
    s.text = std::move(text);
    return read_source(s, file, model, source, error);
}

// Reads the open regular file "fd" to its end into "text", expecting "size"
// bytes; false with errno set on failure.
static bool read_whole(int fd, size_t size, std::string &text)
{
    text.resize(size);
    size_t got = 0;
    char more[65536]; /* past the size it had, if it grew */
    for (;;) {
        bool full = got == text.size();
        ssize_t n = full ? read(fd, more, sizeof more) : read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (full)
            text.append(more, size_t(n));
        got += size_t(n);
    }
    text.resize(got);
    return true;
}

// Reads a stream (a pipe, a device, standard input), whose size is unknown,
// into "text": to its end, or only as far as its first line when that is no
// AC3D header (the reading then fails on it at once, so that an endless
// stream of anything else ends at once too). False with "error" set when
// reading fails or the stream runs past STREAM_LIMIT.
static const size_t STREAM_LIMIT = size_t(1) << 30;
static const size_t HEADER_LIMIT = 4096; /* a header line is shorter than this */

static bool read_stream(int fd, const std::string &path, std::string &text, std::string &error)
{
    bool header_checked = false;
    for (;;) {
        if (text.size() > STREAM_LIMIT) {
            error = path + ": cannot read: more than 1 GiB from a pipe or device; "
                           "save it to a file and read that";
            return false;
        }
        size_t got = text.size();
        text.resize(got + 65536);
        ssize_t n = read(fd, &text[got], 65536);
        text.resize(got + size_t(n > 0 ? n : 0));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = path + ": cannot read: " + std::strerror(errno);
            return false;
        }
        const char *begin = text.data(), *end = begin + text.size();
        if (!header_checked && (n == 0 || text.size() >= HEADER_LIMIT || line_end(begin, end) < end)) {
            Line first;
            header_checked = true;
            if (!has_header(begin, end, first))
                return true; /* enough to say what is wrong */
        }
        if (n == 0)
            return true;
    }
}

bool read_ac_file(const std::string &file, Model &model, AcSource &source, std::string &error,
                  ReadMode mode)
{
    const bool standard_input = file == "-";
    const std::string path = standard_input ? "standard input" : file; /* for messages */
    int fd = standard_input ? dup(STDIN_FILENO) : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = path + ": cannot read: " + std::strerror(errno);
        close(fd);
        return false;
    }
    AcSource s;
    bool read_ok = false;
    try {
        if (!S_ISREG(st.st_mode)) {
            read_ok = read_stream(fd, path, s.text, error);
        } else {
            size_t size = size_t(st.st_size);
            /* a file that cannot be mapped is read instead */
            read_ok = (mode == READ_MAP && size > 0 && s.mapped.map(fd, size)) ||
                      read_whole(fd, size, s.text);
            if (!read_ok)
                error = path + ": cannot read: " + std::strerror(errno);
        }
    } catch (const std::bad_alloc &) {
        error = path + ": cannot read: not enough memory for the file";
        read_ok = false;
    }
    close(fd);
    return read_ok && read_source(s, path, model, source, error);
}

/* }====== */

/* {====== Writing numbers ====== */

// Writes "digits" (with no trailing zero) times ten to "exponent" as
// std::to_chars writes a float's shortest form: in fixed notation or, when
// that is shorter, in scientific notation with at least two exponent digits.
static char *write_decimal(char *p, bool negative, uint32_t digits, int exponent)
{
    char text[10];
    int n = 0;
    for (uint32_t d = digits; d; d /= 10)
        text[9 - n++] = char('0' + d % 10);
    const char *digit = text + 10 - n;
    int scientific = exponent + n - 1; /* the exponent of the first digit */
    int fixed_length = exponent >= 0 ? n + exponent : scientific >= 0 ? n + 1 : n + 1 - scientific;
    int scientific_length = n + (n > 1) + 2 + (scientific <= -100 || scientific >= 100 ? 3 : 2);
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
    unsigned e = unsigned(scientific < 0 ? -scientific : scientific);
    if (e >= 100)
        *p++ = char('0' + e / 100);
    *p++ = char('0' + e / 10 % 10);
    *p++ = char('0' + e % 10);
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

char *format_float(char *first, char *last, float value)
{
    uint32_t digits;
    int exponent;
    if (last - first >= 16 && short_decimal(std::fabs(value), digits, exponent))
        return write_decimal(first, std::signbit(value), digits, exponent);
    return std::to_chars(first, last, value).ptr;
}

/* }====== */

/* {====== Writing ====== */

static bool moved(const Vertex &v, const AcSource::Position &loaded)
{
    return std::memcmp(&v.x, &loaded.x, sizeof(float)) != 0 ||
           std::memcmp(&v.y, &loaded.y, sizeof(float)) != 0 ||
           std::memcmp(&v.z, &loaded.z, sizeof(float)) != 0;
}

// The object of the model that "record" describes, when the model still has it
// with the vertex count it was read with.
static const Object *object_of(const Model &model, const AcSource::ObjectRecord &record)
{
    if (record.model_index >= model.objects.size())
        return nullptr;
    const Object *object = model.objects[record.model_index].get();
    return object->vertices.size() == record.vertex_count ? object : nullptr;
}

// A moved vertex's numbers are its numbers as read plus the change of its
// world position carried into its object's frame: the local change is the
// inverse of the frame's linear part applied to (new world - old world), added
// to the local value in double and rounded once. A number that comes out as
// the float it was read as keeps its text; the others are written in the
// shortest form that reads back the same float. So a translation, or a
// rotation that maps axes onto axes, never rewrites a coordinate the change
// did not touch, however far from the origin the object is placed.

// The three number words of a vertex line, from "p" to the line's end "e".
struct VertexWords {
    const char *begin[3], *end[3];
};

static VertexWords vertex_words(const char *p, const char *e)
{
    VertexWords w;
    for (int k = 0; k < 3; k++) {
        w.begin[k] = p = skip_spaces(p, e);
        w.end[k] = p = skip_word(p, e);
    }
    return w;
}

// The float a vertex word was read as (the reader accepted it, so it reads).
static float word_value(const char *begin, const char *end)
{
    float value = 0;
    if (!read_plain_float(begin, end, value))
        read_real(begin, end, value);
    return value;
}

// The local coordinates to write for a vertex read as the words "w" in
// "frame" (null for none), at world position "old", now at "now"; "changed"
// tells which of them differ from the floats that were read.
static void moved_local(const AcSource::Frame *frame, const VertexWords &w,
                        const AcSource::Position &old, const Vertex &now, float local[3],
                        bool changed[3])
{
    const float was[3] = {old.x, old.y, old.z}, is[3] = {now.x, now.y, now.z};
    double dw[3];
    for (int i = 0; i < 3; i++)
        dw[i] = std::memcmp(&was[i], &is[i], sizeof(float)) == 0 ? 0.0
                                                                  : double(is[i]) - double(was[i]);
    float absolute[3];
    bool has_absolute = false;
    for (int i = 0; i < 3; i++) {
        const bool identity = !frame || (!frame->linear && frame->t[i] == 0);
        /* on an axis the frame leaves alone, the world bits are the number read */
        float read = identity ? was[i] : word_value(w.begin[i], w.end[i]);
        if (identity) {
            local[i] = is[i];
        } else {
            double dl = frame->linear
                            ? frame->inverse[i][0] * dw[0] + frame->inverse[i][1] * dw[1] +
                                  frame->inverse[i][2] * dw[2]
                            : dw[i];
            if (dl == 0)
                local[i] = read;
            else if (std::isfinite(dl) && std::isfinite(read))
                local[i] = float(double(read) + dl);
            else {
                if (!has_absolute) /* from or to a non-finite place */
                    to_local(*frame, is, absolute), has_absolute = true;
                local[i] = absolute[i];
            }
        }
        changed[i] = std::memcmp(&local[i], &read, sizeof(float)) != 0;
    }
}

// Hands the text to "put" in pieces: the source's bytes, with the moved
// vertices' changed numbers in place of theirs. Lines keep their spacing, the
// numbers that did not change, any fields after the three numbers and their
// line end.
template <class Put> static void write_text(const Model &model, const AcSource &source, Put &&put)
{
    std::string_view bytes = source.bytes();
    const char *text = bytes.data(), *end = text + bytes.size();
    const char *done = text; /* given to "put" up to here */
    for (const AcSource::ObjectRecord &record : source.objects) {
        const Object *object = object_of(model, record);
        if (!object)
            continue;
        const AcSource::Position *loaded = &source.positions[record.first_vertex];
        const AcSource::Frame *frame = record.frame >= 0 ? &source.frames[record.frame] : nullptr;
        size_t n = record.vertex_count, first = 0;
        while (first < n && !moved(object->vertices[first], loaded[first]))
            first++;
        if (first == n || (frame && !frame->invertible))
            continue; /* nothing to write, or no way to */
        const char *p = text + record.vertex_text;
        size_t lines = 0;
        for (size_t i = 0; i < n; i++) {
            p = skip_blank_lines(p, end, lines);
            const char *e = line_end(p, end);
            if (i >= first && moved(object->vertices[i], loaded[i])) {
                VertexWords w = vertex_words(p, e);
                float local[3];
                bool changed[3];
                moved_local(frame, w, loaded[i], object->vertices[i], local, changed);
                for (int k = 0; k < 3; k++) {
                    if (!changed[k])
                        continue;
                    char buf[32];
                    put(done, size_t(w.begin[k] - done));
                    put(buf, size_t(format_float(buf, buf + sizeof buf, local[k]) - buf));
                    done = w.end[k];
                }
            }
            p = e < end ? e + 1 : e;
        }
    }
    put(done, size_t(end - done));
}

void write_ac(const Model &model, const AcSource &source, std::string &out)
{
    out.clear();
    out.reserve(source.bytes().size() + 4096);
    write_text(model, source, [&](const char *p, size_t n) { out.append(p, n); });
}

// Why the model cannot be written as write_ac_file promises, or empty.
static std::string why_not_writable(const Model &model, const AcSource &source)
{
    for (const AcSource::ObjectRecord &record : source.objects) {
        const Object *object = object_of(model, record);
        if (!object)
            return "the model's objects or vertex counts are not those of the file it was read "
                   "from";
        if (record.frame < 0 || source.frames[record.frame].invertible)
            continue;
        for (size_t i = 0; i < record.vertex_count; i++)
            if (moved(object->vertices[i], source.positions[record.first_vertex + i]))
                return "the transform of object \"" + object->name +
                       "\" cannot be inverted, so its moved vertices cannot be written";
    }
    return "";
}

// A file being written with writev: short pieces are gathered in a buffer,
// long ones are written from where they are (the source's bytes, which stay
// put until the writing ends). "error" keeps the first failure's errno.
struct FileOut {
    int fd = -1;
    int error = 0;
    std::vector<char> buffer = std::vector<char>(1 << 16);
    size_t used = 0;
    std::vector<iovec> pieces;
};

static const size_t LONG_PIECE = 4096;

static void flush(FileOut &f)
{
    iovec *piece = f.pieces.data(), *last = piece + f.pieces.size();
    while (piece < last && !f.error) {
        ssize_t k = writev(f.fd, piece, int(std::min<ptrdiff_t>(last - piece, IOV_MAX)));
        if (k < 0 && errno != EINTR)
            f.error = errno;
        for (size_t done = k > 0 ? size_t(k) : 0; done > 0;) { /* past what was written */
            size_t n = std::min(done, piece->iov_len);
            piece->iov_base = static_cast<char *>(piece->iov_base) + n;
            piece->iov_len -= n;
            done -= n;
            if (piece->iov_len == 0)
                piece++;
        }
    }
    f.pieces.clear();
    f.used = 0;
}

static void put_file(FileOut &f, const char *p, size_t n)
{
    if (n == 0)
        return;
    if (f.pieces.size() == IOV_MAX || (n < LONG_PIECE && f.used + n > f.buffer.size()))
        flush(f);
    if (n >= LONG_PIECE) {
        f.pieces.push_back({const_cast<char *>(p), n});
        return;
    }
    char *to = f.buffer.data() + f.used;
    std::memcpy(to, p, n);
    f.used += n;
    iovec *last = f.pieces.empty() ? nullptr : &f.pieces.back();
    if (last && static_cast<char *>(last->iov_base) + last->iov_len == to)
        last->iov_len += n; /* follows on in the buffer */
    else
        f.pieces.push_back({to, n});
}

// Writes the text to the open descriptor "fd": 0, or the errno of the failure.
static int write_to(int fd, const Model &model, const AcSource &source)
{
    try {
        FileOut f;
        f.fd = fd;
        write_text(model, source, [&](const char *p, size_t n) { put_file(f, p, n); });
        flush(f);
        return f.error;
    } catch (const std::bad_alloc &) {
        return ENOMEM;
    }
}

bool write_ac_stream(int fd, const std::string &name, const Model &model, const AcSource &source,
                     std::string &error)
{
    std::string why = why_not_writable(model, source);
    if (why.empty()) {
        int e = write_to(fd, model, source);
        why = e ? std::strerror(e) : "";
    }
    if (!why.empty())
        error = name + ": cannot write: " + why;
    return why.empty();
}

bool write_ac_file(const std::string &path, const Model &model, const AcSource &source,
                   std::string &error)
{
    std::string why = why_not_writable(model, source);
    if (!why.empty()) {
        error = path + ": cannot write: " + why;
        return false;
    }
    return save_file(path, [&](int fd) { return write_to(fd, model, source); }, error);
}

/* }====== */

} // namespace sim
