// The system calls of reading and saving; see file_io.h.
#include "acfile/file_io.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace acfile {

/* {====== Names ====== */

std::string folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/* }====== */

/* {====== Reading and writing ====== */

ssize_t read_fully(int fd, void *buffer, size_t n, off_t at)
{
    char *to = static_cast<char *>(buffer);
    size_t got = 0;
    while (got < n) {
        ssize_t k = retried([&] {
            return at < 0 ? read(fd, to + got, n - got) : pread(fd, to + got, n - got, at + off_t(got));
        });
        if (k < 0)
            return -1;
        if (k == 0)
            break; /* the end of the file */
        got += size_t(k);
    }
    return ssize_t(got);
}

// Writes the "n" bytes at the offset "at" of "fd": 0, or the errno of the
// failure.
static int write_fully(int fd, const void *buffer, size_t n, off_t at)
{
    const char *from = static_cast<const char *>(buffer);
    for (size_t done = 0; done < n;) {
        ssize_t k = retried([&] { return pwrite(fd, from + done, n - done, at + off_t(done)); });
        if (k < 0)
            return errno;
        done += size_t(k);
    }
    return 0;
}

int write_pieces(int fd, iovec *piece, iovec *last, volatile size_t &written)
{
    while (piece < last) {
        ssize_t k = retried([&] { return writev(fd, piece, int(std::min<ptrdiff_t>(last - piece, IOV_MAX))); });
        if (k < 0)
            return errno;
        written = written + size_t(k);
        for (size_t done = size_t(k); done > 0;) { /* past what was written */
            size_t n = std::min(done, piece->iov_len);
            piece->iov_base = static_cast<char *>(piece->iov_base) + n;
            piece->iov_len -= n;
            done -= n;
            if (piece->iov_len == 0)
                piece++;
        }
    }
    return 0;
}

int send_file_bytes(int fd, int from, off_t at, size_t size, volatile size_t &written)
{
    bool sent = false;
    while (size > 0) {
        ssize_t n = retried([&] { return sendfile(fd, from, &at, size); });
        if (n < 0 && !sent && (errno == EINVAL || errno == ENOSYS))
            return -1;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO; /* the file is shorter than it was when read */
        sent = true;
        written = written + size_t(n);
        size -= size_t(n);
    }
    return 0;
}

int copy_in_place(int from, int to, off_t old_size)
{
    off_t size = lseek(from, 0, SEEK_END);
    if (size < 0)
        return errno;
    auto unwritten = [&](int e) {
        if (ftruncate(to, old_size) != 0) { /* the error that stopped the copy says more */
        }
        return e;
    };
    if (size > old_size) {
        int e = posix_fallocate(to, 0, size);
        if (e != 0 && e != EOPNOTSUPP && e != EINVAL)
            return unwritten(e);
    }
    std::vector<char> buffer(1 << 16);
    for (off_t at = 0; at < size;) {
        ssize_t n = read_fully(from, buffer.data(), buffer.size(), at);
        int e = n < 0 ? errno : n == 0 ? EIO : write_fully(to, buffer.data(), size_t(n), at);
        if (e != 0)
            return at == 0 ? unwritten(e) : e;
        at += n;
    }
    if (ftruncate(to, size) != 0 || fsync(to) != 0)
        return errno;
    return 0;
}

int same_bytes(int a, int b)
{
    std::vector<char> ours(1 << 16), theirs(ours.size());
    for (off_t at = 0;; at += off_t(ours.size())) {
        ssize_t got_ours = read_fully(a, ours.data(), ours.size(), at),
                got_theirs = got_ours < 0 ? -1 : read_fully(b, theirs.data(), theirs.size(), at);
        if (got_theirs < 0)
            return errno;
        if (got_ours != got_theirs || std::memcmp(ours.data(), theirs.data(), size_t(got_ours)) != 0)
            return DIFFERENT; /* cut short, longer, or other bytes */
        if (size_t(got_ours) < ours.size())
            return 0; /* both end here */
    }
}

int lock_file(int fd, short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    if (retried([&] { return fcntl(fd, F_SETLKW, &lock); }) != 0 && errno == EDEADLK)
        return errno;
    return 0; /* locked, or no locks here */
}

/* }====== */

/* {====== Syncing ====== */

int open_folder(const std::string &folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd >= 0 ? fd : errno == EACCES ? -1 : -2;
}

int sync_folder(int fd)
{
    if (fd < 0)
        return 0;
    int e = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    if (close(fd) != 0 && e == 0)
        e = errno;
    return e;
}

/* }====== */

/* {====== Temporary files, removed on a signal ====== */

static char pending[PATH_MAX + 1];
static volatile sig_atomic_t has_pending = 0;
static const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

static void on_signal(int signal_number)
{
    if (has_pending)
        unlink(pending);
    std::signal(signal_number, SIG_DFL);
    raise(signal_number); /* ends the process as the signal would have */
}

// Installs the handler once, for signals that are not ignored.
static void install_cleanup()
{
    static bool installed = false;
    if (installed)
        return; /* once is enough */
    installed = true;
    for (int s : CLEANUP_SIGNALS) {
        struct sigaction old;
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {};
        sa.sa_handler = on_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(s, &sa, nullptr);
    }
}

static void set_pending(const std::string &name)
{
    install_cleanup();
    if (name.size() > PATH_MAX)
        return;
    has_pending = 0; /* not while the name is half copied */
    std::memcpy(pending, name.c_str(), name.size() + 1);
    has_pending = 1;
}

void clear_pending() { has_pending = 0; }

void remove_pending_temporary()
{
    if (has_pending)
        unlink(pending);
    clear_pending();
}

HeldSignals::HeldSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : CLEANUP_SIGNALS)
        sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old);
}

HeldSignals::~HeldSignals() { sigprocmask(SIG_SETMASK, &old, nullptr); }

int create_unnamed(const std::string &folder)
{
#ifdef O_TMPFILE
    return open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// A fresh name "FOLDER/.BASE.tmpXXXXXX", BASE shortened so that the name fits
// the folder's longest.
static std::string temporary_name(const std::string &folder, const std::string &base)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned long counter = 0;
    long name_max = pathconf(folder.c_str(), _PC_NAME_MAX);
    size_t room = size_t(name_max > 0 ? name_max : 255) - std::strlen("..tmpXXXXXX");
    uint64_t x = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                 (uint64_t(getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ull);
    std::string name = folder + "/." + base.substr(0, room) + ".tmp";
    for (int i = 0; i < 6; i++, x /= 62)
        name += letters[x % 62];
    return name;
}

int make_named(const std::string &folder, const std::string &base, std::string &name,
               const std::function<int(const std::string &name)> &make)
{
    for (int attempt = 0; attempt < 100; attempt++) {
        name = temporary_name(folder, base);
        set_pending(name);
        int e = make(name);
        if (e == 0)
            return 0;
        clear_pending();
        if (e != EEXIST)
            return e;
    }
    return EEXIST;
}

int create_named(const std::string &folder, const std::string &base, std::string &name)
{
    int fd = -1;
    errno = make_named(folder, base, name, [&](const std::string &n) {
        fd = open(n.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd < 0 ? errno : 0;
    });
    return fd;
}

int create_anonymous(const std::string &folder, bool unnamed)
{
    int fd = unnamed ? create_unnamed(folder) : -1;
    if (fd >= 0)
        return fd; /* unnamed */
    std::string name;
    fd = create_named(folder, "corrugo", name);
    if (fd >= 0) {
        unlink(name.c_str());
        clear_pending();
    }
    return fd;
}

/* }====== */

} // namespace acfile
