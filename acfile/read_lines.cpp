// Reading the lines of a text: quoting what was found, counts, numbers,
// names and data, and the one way a reading fails.
#include "acfile/number_text.h"
#include "acfile/reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace acfile {

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

std::string quote(const char *begin, const char *end)
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

[[noreturn]] void fail(const Reader &, size_t line, const std::string &expected,
                       const std::string &found, size_t named_line)
{
    throw ReadError{line, expected, found, named_line};
}

// Gives back the pages of a mapped text that the reading has passed, in steps
// of a megabyte: they are the file's, read again from it should a message
// quote them or the writer copy them.
void release_read(Reader &r)
{
    const size_t step = size_t(1) << 20;
    if (r.mapped && size_t(r.p - r.released) >= step)
        r.released = r.mapped->release(r.released, r.p);
}

std::string quote(const Line &line) { return quote(line.begin, line.end); }

std::string end_after(size_t count)
{
    return "end of file after " + std::to_string(count);
}

// Fails on "line", which does not belong where it is: as one more line of the
// block just read when it looks like one, else as not what was "expected".
[[noreturn]] void unexpected(const Reader &r, const Line &line, const Block &block,
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
bool next_line(Reader &r, Line &line)
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

// After the first word of "line".
const char *after_keyword(const Line &line)
{
    return skip_spaces(skip_word(skip_spaces(line.begin, line.end), line.end), line.end);
}

// Reads a count line such as "numvert 12", of "what". A count past the "room"
// that the rest of the text has for them is no size to reserve, but it is read
// all the same: the reading then fails on the end of the text or on a line that
// does not belong, which says more than the count alone.
size_t read_count(const Reader &r, const Line &line, const Noun &what, size_t room)
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
void read_reals(const Reader &r, const Line &line, double *v, int count,
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
void read_one_integer(const Reader &r, const Line &line, int64_t &value, int base,
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
void read_name(const Reader &r, const Line &line, std::string &name)
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
void skip_data(Reader &r, const Line &line)
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

void skip_mat(Reader &r, const Line &head)
{
    Line line;
    do {
        if (!next_line(r, line))
            fail(r, head.number, "ENDMAT to close the MAT", "end of file");
    } while (first_word(line) != "ENDMAT");
}

} // namespace acfile
