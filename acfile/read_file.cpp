// Reading an AC3D file: a regular file copied into memory or mapped, or a
// stream (a pipe, a device, standard input) read as far as it makes sense.
#include "acfile/read.h"

#include "acfile/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace acfile {

// Reads the open regular file "fd" to its end into "text", expecting "size"
// bytes; false with errno set on failure.
static bool read_whole(int fd, size_t size, std::string &text)
{
    text.resize(size);
    ssize_t n = read_fully(fd, &text[0], size);
    if (n < 0)
        return false;
    text.resize(size_t(n));
    if (size_t(n) < size)
        return true; /* cut short meanwhile, which the stamp's check says */
    char more[65536]; /* past the size it had, if it grew */
    while ((n = read_fully(fd, more, sizeof more)) > 0)
        text.append(more, size_t(n));
    return n == 0;
}

// Reads a stream (a pipe, a device, standard input), whose size is unknown,
// into "text": to its end, or only as far as its first line when that is no
// AC3D header (the reading then fails on it at once, so that an endless
// stream of anything else ends at once too). False with "error" set when
// reading fails or the stream runs past STREAM_LIMIT, which the text's room
// never outgrows by more than a read: doubling it there would take twice the
// limit's memory.
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
        if (text.capacity() < got + 65536) {
            /* doubled, but at the limit straight to the most it may hold
               (a room just past the limit would double again) */
            size_t room = std::max(2 * text.capacity(), got + 65536);
            text.reserve(room < STREAM_LIMIT ? room : STREAM_LIMIT + 65536);
        }
        text.resize(got + 65536);
        ssize_t n = retried([&] { return read(fd, &text[got], 65536); });
        text.resize(got + size_t(n > 0 ? n : 0));
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
                  ReadMode mode, int threads)
{
    const bool standard_input = file == "-";
    const std::string path = standard_input ? "standard input" : file; /* for messages */
    int fd = standard_input ? dup(STDIN_FILENO) : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    /* a regular file (named, or standard input redirected from one) waits
       for a save in place to end (save_file.h); what it is once the lock is
       ours is what is read and compared */
    lock_file(fd, F_RDLCK);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = path + ": cannot read: " + std::strerror(errno);
        close(fd);
        return false;
    }
    const bool regular = S_ISREG(st.st_mode);
    AcSource s;
    if (regular) {
        s.file = standard_input ? "" : file;
        s.stamped = true;
        s.stamp = s.named = stamp_of(st);
    }
    bool read_ok = false;
    try {
        if (!regular) {
            read_ok = read_stream(fd, path, s.text, error);
        } else {
            size_t size = size_t(st.st_size);
            /* a file that cannot be mapped is read instead */
            read_ok = (mode == READ_MAP && size > 0 && s.mapped.map(fd, size, path)) ||
                      read_whole(fd, size, s.text);
            if (!read_ok)
                error = path + ": cannot read: " + std::strerror(errno);
        }
    } catch (const std::bad_alloc &) {
        error = path + ": cannot read: not enough memory for the file";
        read_ok = false;
    }
    if (!s.mapped.data() && s.stamped && read_ok) {
        /* read whole: the bytes are those of the file as stamped, or it changed */
        int e = check_source(s, nullptr, fd);
        if (e != SOURCE_UNCHANGED) {
            error = e == SOURCE_CHANGED ? changed_message(path)
                                        : path + ": cannot read: " + std::strerror(e);
            read_ok = false;
        }
    }
    if (!s.mapped.data())
        close(fd); /* else the mapping keeps it, and its lock */
    Model m;
    AcSource read;
    if (!read_ok)
        return false;
    if (!read_source(s, path, m, read, error, threads)) {
        /* a file changed while it was read says so, rather than what broke */
        if (s.mapped.data() && check_source(s, nullptr) == SOURCE_CHANGED)
            error = changed_message(path);
        return false;
    }
    int e = check_source(read, nullptr); /* the bytes mapped were those stamped */
    if (e != SOURCE_UNCHANGED) {
        error = e == SOURCE_CHANGED ? changed_message(path)
                                    : path + ": cannot read: " + std::strerror(e);
        return false;
    }
    model = std::move(m);
    source = std::move(read);
    return true;
}

} // namespace acfile
