// Writes a model read from an AC3D file back as the bytes that were read,
// with only the moved vertices' numbers written again: into a string, to a
// stream as it goes, or to a file replaced whole or not at all.
#include "acfile/acfile.h"
#include "acfile/frame.h"
#include "acfile/number_text.h"
#include "acfile/file_io.h"
#include "acfile/save_file.h"
#include "acfile/write.h"
#include "acfile/write_parts.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <limits.h>
#include <sys/sendfile.h>
#include <sys/uio.h>
#include <unistd.h>

namespace acfile {

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

// The three number words of a vertex line, from "p" to the line's end "e",
// found as far as they are asked for: a wave along one axis rewrites one or
// two of them, and the words after the last one asked for are not looked at
// (walking them byte by byte was a third of finding the moved lines).
struct VertexWords {
    const char *begin[3], *end[3];
    const char *p, *e;
    int found;

    VertexWords(const char *line, const char *line_end) : p(line), e(line_end), found(0) {}

    // Finds the words up to word "k" (0 to 2).
    void find(int k)
    {
        for (; found <= k; found++) {
            begin[found] = p = skip_spaces(p, e);
            end[found] = p = skip_word(p, e);
        }
    }
};

// The float a vertex word was read as (the reader accepted it, so it reads).
static float word_value(const char *begin, const char *end)
{
    float value = 0;
    if (!read_plain_float(begin, end, value))
        read_real(begin, end, value);
    return value;
}

// Whether the reader, placing the numbers "local" in "frame" again as it does
// (frame.h), finds the vertex within a float's range.
static bool placed_within_range(const AcSource::Frame &frame, const float local[3])
{
    float world[3];
    return to_world_within_range(frame, local, world);
}

// Numbers of a vertex near the edge of a float's range may not come back
// within it when the reader places them in their frame again (rounded, then
// turned and moved), and the file would not read back. The changed numbers
// ("changed") of such a vertex are stepped toward zero, a unit in the last
// place at a time, until they do. Far from the edge, the usual case, nothing
// is checked.
static const float NEAR_THE_EDGE = 1e30f;

static void keep_within_range(const AcSource::Frame &frame, VertexWords &w, const float is[3],
                              float local[3], const bool changed[3])
{
    bool near = false;
    for (int i = 0; i < 3; i++)
        near = near || std::fabs(is[i]) > NEAR_THE_EDGE ||
               (changed[i] && std::fabs(local[i]) > NEAR_THE_EDGE);
    if (!near)
        return;
    float placed[3]; /* what the reader will read: the new numbers and the old */
    for (int i = 0; i < 3; i++) {
        if (!changed[i])
            w.find(i);
        placed[i] = changed[i] ? local[i] : word_value(w.begin[i], w.end[i]);
    }
    for (int step = 0; step < 64 && !placed_within_range(frame, placed); step++)
        for (int i = 0; i < 3; i++)
            if (changed[i])
                placed[i] = local[i] = std::nextafter(local[i], 0.0f);
}

// The local coordinates to write for a vertex read as the words "w" in
// "frame" (null for none), at world position "old", now at "now"; "changed"
// tells which of them differ from the floats that were read.
static void moved_local(const AcSource::Frame *frame, VertexWords &w,
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
        if (!frame || (!frame->linear && frame->t[i] == 0)) {
            /* on an axis the frame leaves alone, the world bits are the number read */
            local[i] = is[i];
            changed[i] = std::memcmp(&local[i], &was[i], sizeof(float)) != 0;
            continue;
        }
        double dl = frame->linear ? frame->inverse[i][0] * dw[0] + frame->inverse[i][1] * dw[1] +
                                        frame->inverse[i][2] * dw[2]
                                  : dw[i];
        if (dl == 0) { /* the number read stays, unread */
            changed[i] = false;
            continue;
        }
        w.find(i);
        float read = word_value(w.begin[i], w.end[i]);
        if (std::isfinite(dl) && std::isfinite(read)) {
            local[i] = float(double(read) + dl);
        } else {
            if (!has_absolute) /* from or to a non-finite place */
                to_local(*frame, is, absolute), has_absolute = true;
            local[i] = absolute[i];
        }
        changed[i] = std::memcmp(&local[i], &read, sizeof(float)) != 0;
    }
    if (frame)
        keep_within_range(*frame, w, is, local, changed);
}

// Hands the text from "from" to "to" to "put" in pieces: the source's bytes,
// with the changed numbers of the moved vertices of records "first" to
// "last" (whose vertex lines lie in that text) in place of theirs. Lines keep
// their spacing, the numbers that did not change, any fields after the three
// numbers and their line end.
template <class Put>
static void write_text(const Model &model, const AcSource &source, size_t first_record,
                       size_t last_record, const char *from, const char *to, Put &&put)
{
    std::string_view bytes = source.bytes();
    const char *text = bytes.data(), *end = text + bytes.size();
    const char *done = from; /* given to "put" up to here */
    for (size_t r = first_record; r < last_record; r++) {
        const AcSource::ObjectRecord &record = source.objects[r];
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
                VertexWords w(p, e);
                float local[3];
                bool changed[3];
                moved_local(frame, w, loaded[i], object->vertices[i], local, changed);
                for (int k = 0; k < 3; k++) {
                    if (!changed[k])
                        continue;
                    w.find(k);
                    char buf[32];
                    put(done, size_t(w.begin[k] - done));
                    /* the shortest form that reads back the same float */
                    put(buf, size_t(std::to_chars(buf, buf + sizeof buf, local[k]).ptr - buf));
                    done = w.end[k];
                }
            }
            p = e < end ? e + 1 : e;
        }
    }
    put(done, size_t(to - done));
}

// The text is written in parts: each the vertex lines of objects holding
// about PART_VERTICES vertices together, and the text up to the next part.
// Each part's pieces are made on their own, so two threads can make them,
// and handed on in order.
static const size_t PART_VERTICES = size_t(1) << 15;

static const size_t LONG_PIECE = 4096;

static void put_part(Part &part, const char *p, size_t n)
{
    if (n == 0)
        return; /* no piece of nothing */
    if (n >= LONG_PIECE) {
        part.pieces.push_back({p, 0, n});
        return;
    }
    size_t at = part.buffer.size();
    part.buffer.insert(part.buffer.end(), p, p + n);
    Part::Piece *last = part.pieces.empty() ? nullptr : &part.pieces.back();
    if (last && !last->bytes && last->at + last->size == at)
        last->size += n; /* follows on in the buffer */
    else
        part.pieces.push_back({nullptr, at, n});
}

// Where the parts start: indices into the source's object records, the last
// being their count.
static std::vector<size_t> part_starts(const AcSource &source, size_t part_vertices)
{
    std::vector<size_t> starts = {0};
    size_t vertices = 0;
    for (size_t r = 0; r < source.objects.size(); r++) {
        if (vertices >= part_vertices) {
            starts.push_back(r);
            vertices = 0;
        }
        vertices += source.objects[r].vertex_count;
    }
    starts.push_back(source.objects.size());
    return starts;
}

static void make_part(const Model &model, const AcSource &source,
                      const std::vector<size_t> &starts, size_t k, Part &part)
{
    std::string_view bytes = source.bytes();
    const char *text = bytes.data(), *end = text + bytes.size();
    part.buffer.clear();
    part.pieces.clear();
    part.from = k == 0 ? text : text + source.objects[starts[k]].vertex_text;
    part.to = k + 2 == starts.size() ? end : text + source.objects[starts[k + 1]].vertex_text;
    write_text(model, source, starts[k], starts[k + 1], part.from, part.to,
               [&](const char *p, size_t n) { put_part(part, p, n); });
}

// Makes the parts of the text (make_in_order, write_parts.h), on "threads"
// threads, and hands each to "take" in order; "take" returns false to stop.
template <class Take>
static void write_parts(const Model &model, const AcSource &source, int threads, Take &&take,
                        size_t part_vertices = PART_VERTICES)
{
    const std::vector<size_t> starts = part_starts(source, part_vertices);
    make_in_order(
        starts.size() - 1, threads,
        [&](size_t k, Part &part) { make_part(model, source, starts, k, part); },
        [&](const Part &part) { return take(part); });
}

// Appends the text of "part" to "out".
static void append_part(std::string &out, const Part &part)
{
    for (const Part::Piece &piece : part.pieces)
        out.append(piece.bytes ? piece.bytes : part.buffer.data() + piece.at, piece.size);
}

void write_ac(const Model &model, const AcSource &source, std::string &out, int threads)
{
    write_ac_in_parts(model, source, out, threads, PART_VERTICES);
}

void write_ac_in_parts(const Model &model, const AcSource &source, std::string &out,
                       int threads, size_t part_vertices)
{
    out.clear();
    out.reserve(source.bytes().size() + 4096);
    write_parts(
        model, source, threads,
        [&](const Part &part) {
            append_part(out, part);
            return true;
        },
        part_vertices);
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

// Writes the text to the open descriptor "fd", on "threads" threads, counting
// the bytes that went in "written": 0, or the errno of the failure. The long
// unchanged stretches of a mapped source are copied from its file within the
// kernel, so that the writing need not bring back the pages the reading gave
// back (MappedFile::release); where "fd" cannot take them so (a file opened
// to append), they are written from the mapped pages, given back again once
// written.
static int write_to(int fd, const Model &model, const AcSource &source, int threads,
                    volatile size_t &written)
{
    try {
        int error = 0;
        const MappedFile &mapped = source.mapped;
        bool send = mapped.data() && mapped.file() >= 0;
        std::vector<iovec> pieces;
        const char *released = mapped.data(); /* given back up to here */
        write_parts(model, source, threads, [&](const Part &part) {
            pieces.clear();
            for (const Part::Piece &piece : part.pieces) {
                const char *bytes = piece.bytes ? piece.bytes : part.buffer.data() + piece.at;
                if (send && piece.bytes) { /* a long stretch of the source */
                    error = write_pieces(fd, pieces.data(), pieces.data() + pieces.size(), written);
                    pieces.clear();
                    if (error == 0)
                        error = send_file_bytes(fd, mapped.file(), bytes - mapped.data(),
                                                piece.size, written);
                    if (error == 0)
                        continue;
                    if (error > 0)
                        return false;
                    send = false; /* not to this descriptor: written instead */
                    error = 0;
                }
                pieces.push_back({const_cast<char *>(bytes), piece.size});
            }
            error = write_pieces(fd, pieces.data(), pieces.data() + pieces.size(), written);
            if (mapped.data())
                released = mapped.release(released, part.to);
            return error == 0;
        });
        return error;
    } catch (const std::bad_alloc &) {
        return ENOMEM;
    }
}

bool write_ac_stream(int fd, const std::string &name, const Model &model, const AcSource &source,
                     std::string &error, int threads)
{
    std::string why = why_not_writable(model, source);
    if (!why.empty()) {
        error = name + ": cannot write: " + why;
        return false;
    }
    int check = check_source(source, nullptr);
    /* what goes out cannot be taken back: a message says how much did */
    static volatile size_t written;
    written = 0;
    if (check == SOURCE_UNCHANGED) {
        watch_stream(name.c_str(), &written);
        int e = write_to(fd, model, source, threads, written);
        /* what went out was copied from the file read: whole only if it stayed put */
        check = check_source(source, nullptr);
        watch_stream(nullptr, nullptr);
        if (e != 0 && check != SOURCE_CHANGED) {
            /* a stream cut (a full disk, the file size limit, a closed pipe)
               keeps what went out: how much, which is what the other end got */
            error = name + ": cannot write: " + std::strerror(e) +
                    (written > 0 ? " after " + std::to_string(written) + " bytes; the model written is incomplete"
                                 : "");
            return false;
        }
    }
    if (check == SOURCE_CHANGED)
        error = changed_message(source_name(source), name, written);
    else if (check != SOURCE_UNCHANGED)
        error = source_name(source) + ": cannot read: " + std::strerror(check);
    return check == SOURCE_UNCHANGED;
}

bool write_ac_file(const std::string &path, const Model &model, AcSource &source,
                   std::string &error, int threads)
{
    std::string why = why_not_writable(model, source);
    if (!why.empty()) {
        error = path + ": cannot write: " + why;
        return false;
    }
    // The file read is checked before the writing starts, and again once
    // the last byte copied from it is written, just before the new file
    // takes the place of the old (or, in place, holding the file's lock).
    bool changed = false;
    auto check = [&]() {
        int e = check_source(source, &path);
        changed = changed || e == SOURCE_CHANGED;
        return e == SOURCE_CHANGED ? ECANCELED : e;
    };
    bool saved = save_file(
        path,
        [&](int fd) {
            int e = check();
            if (e != 0)
                return e;
            volatile size_t written = 0;
            e = write_to(fd, model, source, threads, written);
            int after = check();
            return after != 0 ? after : e;
        },
        error);
    if (!saved && changed)
        error = changed_message(source_name(source));
    if (saved)
        restamp_source(source, path);
    return saved;
}

/* }====== */

} // namespace acfile
