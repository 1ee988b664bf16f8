// Reading one OBJECT, from the line after its OBJECT line up to its kids
// line: its tokens, its vertices and its surfaces, each read a quick way when
// it has its usual form and the general way otherwise, with the same result.
#include "acfile/number_text.h"
#include "acfile/plain_lines.h"
#include "acfile/reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace acfile {

// Whether "word" can be a token of the format, known or not: a word that
// starts with a letter or "_" and is no number.
static bool is_token(std::string_view word)
{
    unsigned char c = word.empty() ? 0 : word[0];
    return (std::isalpha(c) || c == '_') && !is_number(word);
}

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

Token object_token(std::string_view word)
{
    int i = 0;
    while (object_tokens[i].name && word != object_tokens[i].name)
        i++;
    if (object_tokens[i].token == TOKEN_UNKNOWN && !is_token(word))
        return TOKEN_MISPLACED;
    return object_tokens[i].token;
}

static void once(const Reader &r, const Line &line, bool &seen)
{
    if (seen)
        fail(r, line.number, "one " + std::string(first_word(line)) + " per object",
             "another: " + quote(line));
    seen = true;
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
    uint64_t count;
    size_t lines;
    const size_t same = o.surface_head_size;
    if (same != 0 && size_t(end - p) > same && std::memcmp(p, o.surface_head, same) == 0) {
        /* byte for byte the lines of the surface before, which read so */
        p += same;
        count = o.surface_head_refs;
        lines = o.surface_head_lines;
    } else {
        const char *head = p;
        uint64_t flags, material;
        p = read_plain_keyword_line(p, end, "SURF", flags, true);
        if (!p)
            return false;
        lines = 1;
        if (const char *q = read_plain_keyword_line(p, end, "mat", material))
            p = q, lines++;
        p = read_plain_keyword_line(p, end, "refs", count);
        if (!p)
            return false;
        lines++;
        o.surface_head = head;
        o.surface_head_size = size_t(p - head);
        o.surface_head_lines = lines;
        o.surface_head_refs = count;
    }
    Object *object = o.object;
    const size_t first = object->refs.size(), vertices = object->vertices.size();
    uint32_t max_ref = o.max_ref;
    Line max_ref_line = o.max_ref_line;
    for (uint64_t i = 0; i < count; i++) {
        const char *line = p;
        uint64_t index;
        const char *next = read_plain_ref_line(p, end, index);
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

// Reads an OBJECT's lines after "head" up to its kids line, into "o", and
// checks its vertex indices. Returns the number of kids that follow.
size_t read_object(Reader &r, ObjectState &o)
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

void check_type(const Reader &r, const Line &head)
{
    if (first_word(after_keyword(head), head.end).empty())
        fail(r, head.number, "OBJECT and its type", quote(head));
}

} // namespace acfile
