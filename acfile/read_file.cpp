// Reading an AC3D file: a regular file copied into memory or mapped, or a
// stream (a pipe, a device, standard input) read as far as it makes sense.
#include "acfile/read.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

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
                  ReadMode mode, int threads)
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
    return read_ok && read_source(s, path, model, source, error, threads);
}

} // namespace sim
