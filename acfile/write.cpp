// Writes a model read from an AC3D file back as the bytes that were read,
// with only the moved vertices' numbers written again: into a string, to a
// stream as it goes, or to a file replaced whole or not at all.
#include "acfile/acfile.h"
#include "acfile/frame.h"
#include "acfile/number_text.h"
#include "acfile/save_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sim {

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
        return; /* no piece of nothing */
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
