// Reading the whole text: the header, the materials and the tree of objects,
// each object read by read_object and placed by place_object in its parent's
// frame, in file order.
#include "acfile/number_text.h"
#include "acfile/read_ahead.h"
#include "acfile/reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace acfile {

// At the OBJECT line "head" of the next object: its parent (null at the top)
// and the frame it is placed in.
Object *next_parent(const Reader &r, TreeState &t, const Line &head, int32_t &frame)
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
void close_object(TreeState &t, Object *object, int32_t frame, size_t kids,
                         size_t kids_line)
{
    if (kids)
        t.open.push_back({object, frame, kids, kids, kids_line});
    while (!t.open.empty() && t.open.back().left == 0)
        t.open.pop_back();
}

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

void read_text(Reader &r, ReadAhead *ahead)
{
    read_header(r);
    TreeState t;
    Line line;
    for (;;) {
        release_read(r);
        if (ahead) { /* at the line reading ahead started on? */
            size_t lines = r.line_number;
            const char *q = skip_blank_lines(r.p, r.end, lines);
            if (q >= ahead_start_line(*ahead)) {
                take_over(r, t, *ahead, q, lines);
                ahead = nullptr;
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

} // namespace acfile
