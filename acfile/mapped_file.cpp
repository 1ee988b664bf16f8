// Files mapped into memory, read-only, with a zero byte after their end.
#include "acfile/mapped_file.h"

#include "acfile/file_io.h"
#include "acfile/stamp.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace acfile {

/* {====== A page that cannot be read ====== */

// Reading a mapped page past the end of a file that was cut short after it
// was mapped raises SIGBUS. The process cannot go on reading the file, so the
// handler ends it as a failed run ends, with the message prepared when the
// file was mapped. The mappings are few (one a model read), so a small table
// will do. A slot is filled before it is marked used and unmarked before the
// mapping goes; both happen before the reading starts another thread and
// after it has joined it, so a handler on either thread sees it whole.
namespace {
struct Guard {
    volatile sig_atomic_t used = 0;
    const char *begin = nullptr;
    size_t length = 0;
    char message[PATH_MAX + 128];
    size_t message_length = 0;
};
Guard guards[8];
} // namespace

// A stream the model is going out to as it is written, and how much of it
// has gone: the message then says so, rather than that nothing was written.
static const char *stream_name = nullptr;
static const volatile size_t *stream_written = nullptr;

void watch_stream(const char *name, const volatile size_t *written)
{
    stream_written = nullptr; /* not while the name is changed */
    stream_name = name;
    stream_written = written;
}

static void put_error(const char *text, size_t length)
{
    ssize_t n = ::write(STDERR_FILENO, text, length);
    (void)n; /* nothing more to be done without standard error */
}

static void put_error(const char *text) { put_error(text, std::strlen(text)); }

static void on_bus_error(int signal_number, siginfo_t *info, void *)
{
    const char *at = static_cast<const char *>(info->si_addr);
    for (Guard &g : guards) {
        if (g.used && at >= g.begin && at < g.begin + g.length) {
            remove_pending_temporary();
            put_error("corrugo-host: ");
            put_error(g.message, g.message_length);
            size_t written = stream_written ? *stream_written : 0;
            if (written == 0) {
                put_error(NOTHING_WRITTEN);
                put_error("\n");
                _exit(3); /* a model that could not be read */
            }
            char digits[24], *d = digits + sizeof digits;
            do
                *--d = char('0' + written % 10);
            while ((written /= 10) > 0);
            put_error(stream_name);
            put_error(": ");
            put_error(d, size_t(digits + sizeof digits - d));
            put_error(WRITTEN_INCOMPLETE);
            put_error("\n");
            _exit(3); /* a model that could not be read */
        }
    }
    /* not in a mapped file: the fault it would have been */
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

static void guard(const char *begin, size_t length, const std::string &name)
{
    static bool installed = false;
    if (!installed) {
        installed = true;
        struct sigaction sa {};
        sa.sa_sigaction = on_bus_error;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGBUS, &sa, nullptr);
    }
    std::string message = name + CHANGED_WHILE_RUNNING; /* the rest said when it ends */
    for (Guard &g : guards) {
        if (g.used)
            continue;
        g.message_length = std::min(message.size(), sizeof g.message);
        std::memcpy(g.message, message.data(), g.message_length);
        g.begin = begin;
        g.length = length;
        g.used = 1; /* the slot counts from here on */
        return;
    }
    /* every slot taken: a fault in this one ends the process as SIGBUS does */
}

static void unguard(const char *begin)
{
    for (Guard &g : guards)
        if (g.used && g.begin == begin)
            g.used = 0;
}

/* }====== */

MappedFile::MappedFile(MappedFile &&other) noexcept
    : base_(other.base_), size_(other.size_), length_(other.length_), file_(other.file_)
{
    other.base_ = nullptr;
    other.size_ = other.length_ = 0;
    other.file_ = -1;
}

// "other" gets what this held, and unmaps it in its turn.
MappedFile &MappedFile::operator=(MappedFile &&other) noexcept
{
    std::swap(base_, other.base_);
    std::swap(size_, other.size_);
    std::swap(length_, other.length_);
    std::swap(file_, other.file_);
    return *this;
}

MappedFile::~MappedFile()
{
    if (base_) {
        unguard(static_cast<const char *>(base_));
        munmap(base_, length_);
    }
    if (file_ >= 0)
        close(file_);
}

// The file goes over the start of a zeroed reservation at least one byte
// longer, so that the byte after its end reads as zero even when the file
// fills its last page (the rest of a page the file ends in reads as zero too).
// Its pages are mapped as they are read, so that those the reading has passed
// can be given back (release).
bool MappedFile::map(int fd, size_t size, const std::string &name)
{
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t length = (size / page + 1) * page;
    void *base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return false; /* no room: the file is read instead */
    if (mmap(base, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
        int mmap_errno = errno;
        munmap(base, length);
        errno = mmap_errno;
        return false; /* a file that cannot be mapped is read instead */
    }
    guard(static_cast<const char *>(base), length, name);
    MappedFile mapped;
    mapped.file_ = fd;
    mapped.base_ = base;
    mapped.size_ = size;
    mapped.length_ = length;
    *this = std::move(mapped);
    return true;
}

const char *MappedFile::release(const char *from, const char *to) const
{
    const char *base = data();
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t first = (size_t(from - base) + page - 1) / page * page;
    size_t last = std::min(size_t(to - base), size_) / page * page;
    if (last <= first)
        return from;
    madvise(const_cast<char *>(base) + first, last - first, MADV_DONTNEED);
    return base + last;
}

} // namespace acfile
