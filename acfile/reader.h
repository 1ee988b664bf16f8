// The reader's own state and the helpers its files share: for the reader
// alone (read_lines, read_object, read_place, read_tree, read_ahead, read),
// not for users of the format, who include acfile.h.
//
// The reading walks the text line by line with a Reader; what an OBJECT's
// lines say gathers in an ObjectState until its kids line, and the tree of
// objects in a TreeState. Every failure is a ReadError thrown by fail(),
// which read_source turns into the one message "FILE:LINE: expected X, found
// Y". The same functions read an object on the second thread of a reading
// ahead (read_ahead.h): they touch only the Reader and state they are given.
#ifndef CORRUGO_ACFILE_READER_H
#define CORRUGO_ACFILE_READER_H

#include "acfile/read.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace acfile {

/* {====== The reading's state ====== */

// What a count counts, for messages.
struct Noun {
    const char *one, *many;
};
inline const Noun VERTEX_LINES = {"vertex line", "vertex lines"};
inline const Noun REFS_LINES = {"refs line", "refs lines"};
inline const Noun SURFACES = {"surface", "surfaces"};
inline const Noun KIDS = {"kid", "kids"};
inline const Noun DATA_BYTES = {"byte of data", "bytes of data"};

inline std::string count_of(size_t n, const Noun &noun)
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

[[noreturn]] void fail(const Reader &r, size_t line, const std::string &expected,
                       const std::string &found, size_t named_line = 0);

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
    /* the lines before the refs lines of the last surface read the quick way
       (SURF, mat, refs), their count of lines and the refs count they give */
    const char *surface_head = nullptr;
    size_t surface_head_size = 0, surface_head_lines = 0;
    uint64_t surface_head_refs = 0;
};

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

enum Token {
    TOKEN_NAME, TOKEN_DATA, TOKEN_ROT, TOKEN_LOC, TOKEN_SUBDIV, TOKEN_NUMVERT, TOKEN_NUMSURF,
    TOKEN_KIDS, TOKEN_KEPT, TOKEN_MISPLACED, TOKEN_UNKNOWN
};

/* }====== */

/* {====== Lines, counts, numbers and names (read_lines.cpp) ====== */

// The text from "begin" to "end", or "line", trimmed, clipped to 60
// characters and with control characters, quotes and bytes that are not
// UTF-8 escaped, in double quotes: what a message says it found.
std::string quote(const char *begin, const char *end);
std::string quote(const Line &line);
std::string end_after(size_t count);
[[noreturn]] void unexpected(const Reader &r, const Line &line, const Block &block,
                             const std::string &expected);
bool next_line(Reader &r, Line &line);
void release_read(Reader &r);

inline std::string_view first_word(const Line &line) { return first_word(line.begin, line.end); }
const char *after_keyword(const Line &line);

// How many items of at least "size" bytes each, lines whose last may lack its
// "\n", the rest of the text can hold.
inline size_t room_for_lines(const Reader &r, size_t size) { return (r.end - r.p + 1) / size; }

size_t read_count(const Reader &r, const Line &line, const Noun &what, size_t room);
void read_reals(const Reader &r, const Line &line, double *v, int count,
                const std::string &expected);
void read_one_integer(const Reader &r, const Line &line, int64_t &value, int base,
                      const std::string &expected);
void read_name(const Reader &r, const Line &line, std::string &name);
void skip_data(Reader &r, const Line &line);
void skip_mat(Reader &r, const Line &head);

/* }====== */

/* {====== Objects (read_object.cpp), placing them (read_place.cpp), the tree (read_tree.cpp) ====== */

Token object_token(std::string_view word);
void check_type(const Reader &r, const Line &head);
size_t read_object(Reader &r, ObjectState &o);
int32_t place_object(Reader &r, ObjectState &o);
Object *next_parent(const Reader &r, TreeState &t, const Line &head, int32_t &frame);
void close_object(TreeState &t, Object *object, int32_t frame, size_t kids, size_t kids_line);

struct ReadAhead;
// Reads the whole text, taking over what "ahead" (or null) read on the
// second thread when it comes to the line that reading started on.
void read_text(Reader &r, ReadAhead *ahead);

/* }====== */

} // namespace acfile

#endif
