// Reads AC3D text model files into a model, keeping what the writer needs to
// give the file back. See acfile.h for what the format leaves open.
#include "acfile/frame.h"
#include "acfile/number_text.h"
#include "acfile/read.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace sim {

/* {====== Lines, tokens and quotes ====== */

// The quick readers of whole lines, over the plain number readers of
// number_text.h, and with their rule: null for anything but the usual form.

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

// Whether "word" can be a token of the format, known or not: a word that
// starts with a letter or "_" and is no number.
static bool is_token(std::string_view word)
{
    unsigned char c = word.empty() ? 0 : word[0];
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

/* {====== Reading ====== */

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
    const MappedFile *mapped; /* the text, when it is a mapped file */
    const char *released;     /* the mapped text's pages before this are given back */
};

// What the reading expected on a line and found there. The line numbers are
// counted from where the reading started, which is the file's start except
// for a reading ahead (see Ahead below).
struct ReadError {
    size_t line = 0;
    std::string expected;
    std::string found;
    size_t named_line = 0; /* a line the expectation names, or 0 */

    std::string message(const std::string &file) const
    {
        std::string named = named_line ? " on line " + std::to_string(named_line) : "";
        return file + ":" + std::to_string(line) + ": expected " + expected + named + ", found " +
               found;
    }
};

[[noreturn]] static void fail(const Reader &, size_t line, const std::string &expected,
                              const std::string &found, size_t named_line = 0)
{
    throw ReadError{line, expected, found, named_line};
}

// Gives back the pages of a mapped text that the reading has passed, in steps
// of a megabyte: they are the file's, read again from it should a message
// quote them or the writer copy them.
static void release_read(Reader &r)
{
    const size_t step = size_t(1) << 20;
    if (r.mapped && size_t(r.p - r.released) >= step)
        r.released = r.mapped->release(r.released, r.p);
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
                fail(r, line.number, "refs to end the SURF", quote(line), surf.number);
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

// At an object's kids line: checks that its surfaces' vertex indices are below
// its vertex count, which may have come after them.
static void check_refs(const Reader &r, const ObjectState &o)
{
    const Object *object = o.object;
    if (o.max_ref_line.begin && o.max_ref >= object->vertices.size())
        fail(r, o.max_ref_line.number,
             "a vertex index below numvert " + std::to_string(object->vertices.size()),
             quote(o.max_ref_line));
}

// After check_refs: places the object's vertices in the world and records
// them. Returns the object's frame.
static int32_t place_object(Reader &r, ObjectState &o)
{
    Object *object = o.object;
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

// Reads an OBJECT's lines after "head" up to its kids line, into "o", and
// checks its vertex indices. Returns the number of kids that follow.
static size_t read_object(Reader &r, ObjectState &o)
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
            check_refs(r, o);
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

static void check_type(const Reader &r, const Line &head)
{
    if (first_word(after_keyword(head), head.end).empty())
        fail(r, head.number, "OBJECT and its type", quote(head));
}

/* }====== */

/* {====== Reading ahead on a second thread ====== */

// A large text is read on two threads: the second reads the objects that
// follow one another from an OBJECT line in the second half of the text on,
// each as far as its kids line, while the first reads from the start. The
// first takes over what the second read when it comes to that line at the
// start of an object; it then places those objects in the tree, in their
// parents' frames, and checks what depends on what came before, in the order
// the reading of one thread would, and goes on where the second stopped. So
// the model, the source and the first error are those of one thread. Should
// the line turn out to lie elsewhere (in data, say), what the second read is
// thrown away.

// An object read ahead: line numbers counted from the line before the start.
struct AheadObject {
    std::unique_ptr<Object> object;
    Line head;
    ObjectState state;
    size_t kids, kids_line;
};

struct Ahead {
    const char *start; /* the OBJECT line the second thread starts on */
    std::vector<AheadObject> objects;
    const char *stop = nullptr; /* where it stopped: at a line that is no OBJECT, or the end */
    size_t stop_lines = 0;      /* the lines before "stop" */
    bool failed = false;        /* in the object after the last one read */
    bool out_of_memory = false;
    ReadError error;
    Line failed_head;
    size_t quick_lines = 0;
    std::atomic<bool> abandoned{false};
    std::thread worker; /* the second thread, until joined */

    ~Ahead()
    {
        abandoned = true;
        if (worker.joinable())
            worker.join();
    }
};

static void read_ahead(Reader &r, Ahead &a)
{
    try {
        while (!a.abandoned.load(std::memory_order_relaxed)) {
            size_t lines = r.line_number;
            const char *q = skip_blank_lines(r.p, r.end, lines);
            if (q == r.end || first_word(q, line_end(q, r.end)) != "OBJECT")
                break;
            Line head;
            next_line(r, head);
            a.failed_head = head;
            check_type(r, head);
            AheadObject ahead{std::make_unique<Object>(), head, {}, 0, 0};
            ahead.state = ObjectState{ahead.object.get(), 0, &ahead.head, -1};
            ahead.kids = read_object(r, ahead.state);
            ahead.kids_line = r.line_number;
            a.objects.push_back(std::move(ahead));
            release_read(r);
        }
        a.stop = r.p;
        a.stop_lines = r.line_number;
    } catch (const ReadError &e) {
        a.failed = true;
        a.error = e;
    } catch (const std::bad_alloc &) {
        a.failed = true;
        a.out_of_memory = true;
    }
    a.quick_lines = r.source.quick_lines;
}

// An object read whose kids are still to come.
struct OpenObject {
    Object *object;
    int32_t frame;
    size_t kids, left;
    size_t kids_line;
};

// Where a reading of the whole text stands between objects.
struct TreeState {
    std::vector<OpenObject> open; /* the objects whose kids are being read */
    bool roots = false;           /* an OBJECT was read at the top */
    bool world = false;           /* the first was the world, which must be the only one */
};

// At the OBJECT line "head" of the next object: its parent (null at the top)
// and the frame it is placed in.
static Object *next_parent(const Reader &r, TreeState &t, const Line &head, int32_t &frame)
{
    frame = -1;
    if (t.open.empty()) {
        if (t.world)
            fail(r, head.number, "the end of the file after the world object", quote(head));
        t.roots = true;
        return nullptr;
    }
    OpenObject &top = t.open.back();
    top.left--;
    frame = top.frame;
    return top.object;
}

// After an object with "kids" kids, read up to its kids line.
static void close_object(TreeState &t, Object *object, int32_t frame, size_t kids,
                         size_t kids_line)
{
    if (kids)
        t.open.push_back({object, frame, kids, kids, kids_line});
    while (!t.open.empty() && t.open.back().left == 0)
        t.open.pop_back();
}

// Takes over what was read ahead from the line at r.p, the start of the next
// object, which is "base" lines into the text.
static void adopt(Reader &r, TreeState &t, Ahead &a, size_t base)
{
    for (AheadObject &ahead : a.objects) {
        Line head = ahead.head;
        head.number += base;
        int32_t frame;
        Object *parent = next_parent(r, t, head, frame);
        Object *object = ahead.object.get();
        object->parent = parent ? parent : r.model.world;
        object->parent->children.push_back(object);
        r.model.objects.push_back(std::move(ahead.object));
        ObjectState &o = ahead.state;
        o.model_index = uint32_t(r.model.objects.size() - 1);
        o.head = &head;
        o.parent_frame = frame;
        o.numvert_line += base;
        frame = place_object(r, o);
        close_object(t, object, frame, ahead.kids, base + ahead.kids_line);
    }
    r.source.quick_lines += a.quick_lines;
    if (a.failed) {
        Line head = a.failed_head;
        head.number += base;
        int32_t frame;
        next_parent(r, t, head, frame);
        if (a.out_of_memory)
            throw std::bad_alloc();
        ReadError e = a.error;
        e.line += base;
        if (e.named_line)
            e.named_line += base;
        throw e;
    }
    r.p = a.stop;
    r.line_number = base + a.stop_lines;
}

/* }====== */

/* {====== Reading the whole text ====== */

// Whether the text from "p" starts with the AC3D header line, after an
// optional UTF-8 byte-order mark; "line" is set to that first line.
bool has_header(const char *p, const char *end, Line &line)
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

static void read_text(Reader &r, Ahead *ahead)
{
    read_header(r);
    TreeState t;
    Line line;
    for (;;) {
        release_read(r);
        if (ahead) { /* at the line the second thread started on? */
            size_t lines = r.line_number;
            const char *q = skip_blank_lines(r.p, r.end, lines);
            if (q >= ahead->start) {
                Ahead &a = *ahead;
                ahead = nullptr;
                if (q == a.start && t.roots) { /* else the first object may be the world */
                    a.worker.join();
                    r.p = q;
                    adopt(r, t, a, lines);
                } else {
                    a.abandoned = true;
                }
                continue;
            }
        }
        if (!next_line(r, line)) {
            if (!t.open.empty()) {
                const OpenObject &top = t.open.back();
                fail(r, top.kids_line, count_of(top.kids, KIDS), end_after(top.kids - top.left));
            }
            break;
        }
        std::string_view word = first_word(line);
        if (t.open.empty()) {
            if (t.world)
                fail(r, line.number, "the end of the file after the world object", quote(line));
            if (word == "MAT") {
                skip_mat(r, line);
                continue;
            }
            if (word == "MATERIAL") {
                check_material(r, line);
                continue;
            }
            if (word != "OBJECT") {
                if (object_token(word) != TOKEN_UNKNOWN)
                    fail(r, line.number, "MATERIAL or OBJECT", quote(line));
                continue;
            }
        } else if (word != "OBJECT") {
            const OpenObject &top = t.open.back();
            fail(r, line.number,
                 "OBJECT for kid " + std::to_string(top.kids - top.left + 1) + " of " +
                     std::to_string(top.kids),
                 quote(line));
        }
        bool world = !t.roots && first_word(after_keyword(line), line.end) == "world";
        int32_t parent_frame;
        Object *parent = next_parent(r, t, line, parent_frame);
        t.world = t.world || world;
        check_type(r, line);
        Object *object = world ? r.model.world : r.model.add_object(parent, "");
        ObjectState o{object, uint32_t(world ? 0 : r.model.objects.size() - 1), &line,
                      parent_frame};
        size_t kids = read_object(r, o);
        int32_t frame = place_object(r, o);
        close_object(t, object, frame, kids, r.line_number);
    }
    if (!t.roots) /* on the line after the last, if the text ends one */
        fail(r, std::min<size_t>(r.line_number + 1, std::count(r.text, r.end, '\n') + 1),
             "an OBJECT", "end of file");
}
// Texts shorter than this are read on one thread: a second would save less
// than it costs to start.
static const size_t AHEAD_MINIMUM = size_t(1) << 20;

// The line where a second thread starts reading ahead in "text": the first
// OBJECT line from its middle on, or null.
static const char *ahead_start(const char *text, const char *end)
{
    static const char key[] = "\nOBJECT";
    const size_t n = sizeof key - 1;
    for (const char *p = text + (end - text) / 2; p < end;) {
        const void *found = memmem(p, size_t(end - p), key, n);
        if (!found)
            return nullptr;
        p = static_cast<const char *>(found) + 1;
        if (p + n - 1 < end && is_space(p[n - 1]))
            return p;
    }
    return nullptr;
}

// Reads the bytes "s" holds, from the second thread's "start" on too unless
// it is null.
static bool read_source_from(AcSource &s, const std::string &file, Model &model,
                             AcSource &source, std::string &error, const char *start)
{
    std::string_view bytes = s.bytes();
    const char *begin = bytes.data(), *end = begin + bytes.size();
    const MappedFile *mapped = s.mapped.data() ? &s.mapped : nullptr;
    Model ahead_model;
    AcSource ahead_source;
    Ahead ahead;
    ahead.start = start;
    try {
        Model m;
        Reader r{file, begin, end, 0, m, s, begin, mapped, begin};
        if (start) {
            try {
                ahead.worker = std::thread([&] {
                    Reader r2{file, start, end, 0, ahead_model, ahead_source, begin, mapped,
                              start};
                    read_ahead(r2, ahead);
                });
            } catch (const std::system_error &) {
                start = nullptr; /* no second thread to be had: this one reads it all */
            }
        }
        read_text(r, start ? &ahead : nullptr);
        model = std::move(m);
        source = std::move(s);
        return true;
    } catch (const ReadError &e) {
        error = e.message(file);
    } catch (const std::bad_alloc &) {
        error = file + ": cannot read: not enough memory for the model";
    }
    return false;
}

bool read_source(AcSource &s, const std::string &file, Model &model, AcSource &source,
                 std::string &error, int threads)
{
    std::string_view bytes = s.bytes();
    const char *start = nullptr;
    if (threads > 1 && bytes.size() >= AHEAD_MINIMUM)
        start = ahead_start(bytes.data(), bytes.data() + bytes.size());
    return read_source_from(s, file, model, source, error, start);
}

bool read_source_split(AcSource &s, const std::string &file, Model &model, AcSource &source,
                       std::string &error, size_t split)
{
    return read_source_from(s, file, model, source, error, s.bytes().data() + split);
}

bool read_ac(std::string text, const std::string &file, Model &model, AcSource &source,
             std::string &error, int threads)
{
    AcSource s;
    s.text = std::move(text);
    return read_source(s, file, model, source, error, threads);
}
/* }====== */

} // namespace sim
