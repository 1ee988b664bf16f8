// Replacing a user's file safely; see save_file.h for what is kept and why.
#include "acfile/save_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/xattr.h>
#include <sys/stat.h>
#include <unistd.h>

namespace acfile {

/* {====== Names ====== */

std::string folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

static std::string base_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool resolve_links(const std::string &path, std::string &target)
{
    target = path;
    for (int links = 0;; links++) {
        struct stat st;
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true; /* a file, or nothing yet: the end of the chain */
        if (links == 40) {
            errno = ELOOP;
            return false;
        }
        char next[PATH_MAX];
        ssize_t n = readlink(target.c_str(), next, sizeof next - 1);
        if (n < 0)
            return false;
        std::string to(next, size_t(n));
        /* a relative link is relative to the folder that holds it */
        to = to[0] == '/' || target.find('/') == std::string::npos ? to : folder_of(target) + "/" + to;
        /* a link of /proc to an open file (/proc/self/fd/N, /dev/fd/N) leads
           to it even where the name it shows is none: a deleted file ("NAME
           (deleted)"), an unnamed one, a pipe. The link is then the file's
           only name. */
        struct stat by_link, by_name;
        if (stat(target.c_str(), &by_link) == 0 &&
            (stat(to.c_str(), &by_name) != 0 || by_name.st_dev != by_link.st_dev || by_name.st_ino != by_link.st_ino))
            return true;
        target = to;
    }
}

// "path" with its folder made absolute and its links resolved, for comparing
// places that do not exist yet.
static std::string place_of(const std::string &path)
{
    std::string target;
    if (!resolve_links(path, target))
        target = path;
    char *folder = realpath(folder_of(target).c_str(), nullptr);
    std::string place = (folder ? std::string(folder) : folder_of(target)) + "/" + base_of(target);
    std::free(folder);
    return place;
}

bool same_file(const std::string &a, const std::string &b)
{
    struct stat sa, sb;
    bool has_a = stat(a.c_str(), &sa) == 0, has_b = stat(b.c_str(), &sb) == 0;
    if (has_a && has_b)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return !has_a && !has_b && place_of(a) == place_of(b);
}

/* }====== */

/* {====== The named temporary file, removed on a signal ====== */

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

static void clear_pending() { has_pending = 0; }

void remove_pending_temporary()
{
    if (has_pending)
        unlink(pending);
    clear_pending();
}

// Holds off the cleanup signals while a file is written in place.
struct HeldSignals {
    sigset_t old;
    HeldSignals()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : CLEANUP_SIGNALS)
            sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &old);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &old, nullptr); }
};

/* }====== */

/* {====== Temporary files ====== */

// An unnamed file in "folder" (mode 0666 less the umask), or -1 with errno set
// when the file system has none.
static int create_unnamed(const std::string &folder)
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

// Gives a temporary name in "folder" by "make", which returns 0 or an errno:
// the name is registered for removal first and tried again while taken.
template <class Make>
static int make_named(const std::string &folder, const std::string &base, std::string &name,
                      Make &&make)
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

// A new file by a temporary name (mode 0666 less the umask); -1 with errno set.
static int create_named(const std::string &folder, const std::string &base, std::string &name)
{
    int fd = -1;
    int e = make_named(folder, base, name, [&](const std::string &n) {
        fd = open(n.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd < 0 ? errno : 0;
    });
    errno = e;
    return fd;
}

// A file that nobody can open by name: unnamed where the file system allows,
// else named in "folder" and removed at once.
static int create_anonymous(const std::string &folder, bool unnamed)
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

/* {====== Replacing ====== */

// Copies all of "from" over the start of "to", which then ends where it does.
// Room is reserved first, so that a full disk fails before anything changes;
// a failure before the first byte is written leaves "to" as it was (the room
// reserved is given back).
static int copy_in_place(int from, int to, off_t old_size)
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
    char buffer[1 << 16];
    for (off_t at = 0; at < size;) {
        ssize_t n = pread(from, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int e = n < 0 ? errno : EIO;
            return at == 0 ? unwritten(e) : e;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t k = pwrite(to, buffer + done, size_t(n - done), at + done);
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0)
                return at + done == 0 ? unwritten(errno) : errno;
            done += k;
        }
        at += n;
    }
    if (ftruncate(to, size) != 0 || fsync(to) != 0)
        return errno;
    return 0;
}

// Takes the exclusive lock of the open file "fd", waiting while another
// program reads it holding a shared one (as read_ac_file does) or writes it
// in place. Locks are advisory: where the file system has none, the save goes
// on without; a wait that would never end (each program waiting for the
// other) fails with EDEADLK. 0, or the errno.
static int lock_exclusive(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (fcntl(fd, F_SETLKW, &lock) != 0) {
        if (errno == EDEADLK)
            return errno;
        if (errno != EINTR)
            return 0; /* no locks here */
    }
    return 0;
}

// Whether the open file "to" holds exactly the bytes of "from": after a copy
// in place, another program that wrote the file meanwhile (the lock is only
// advisory) shows as a difference. 0 when it does, OVERWRITTEN when not, or
// the errno of a read that failed.
static const int OVERWRITTEN = -1;

static int same_bytes(int from, int to)
{
    struct stat a, b;
    if (fstat(from, &a) != 0 || fstat(to, &b) != 0)
        return errno;
    if (a.st_size != b.st_size)
        return OVERWRITTEN;
    std::vector<char> ours(1 << 16), theirs(1 << 16);
    for (off_t at = 0; at < a.st_size;) {
        ssize_t n = pread(from, ours.data(), ours.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        for (ssize_t got = 0; got < n;) {
            ssize_t k = pread(to, theirs.data() + got, size_t(n - got), at + got);
            if (k < 0 && errno == EINTR)
                continue;
            if (k <= 0)
                return k < 0 ? errno : OVERWRITTEN; /* cut short meanwhile */
            got += k;
        }
        if (std::memcmp(ours.data(), theirs.data(), size_t(n)) != 0)
            return OVERWRITTEN;
        at += n;
    }
    return 0;
}

// Copies all of "from" to the new file "name" (mode 0600), which is removed
// again when that fails: 0, or the errno (EEXIST: the name is taken).
static int copy_to_new(int from, const std::string &name)
{
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int e = copy_in_place(from, fd, 0);
    if (close(fd) != 0 && e == 0)
        e = errno;
    if (e != 0)
        unlink(name.c_str());
    return e;
}

// Keeps the new content "from" in a new file beside "target" (or in
// "elsewhere" when its folder may not be written), named "NAME.new", or
// "NAME.new2" and on when that is taken: the file in place could not be
// trusted. Its name, or empty with errno set.
static std::string keep_new_content(int from, const std::string &target,
                                    const std::string &elsewhere)
{
    int e = 0;
    for (const std::string &folder : {folder_of(target), elsewhere}) {
        e = EEXIST; /* till a name is free */
        for (int n = 1; n < 100 && e == EEXIST; n++) {
            std::string name = folder + "/" + base_of(target) + ".new" +
                               (n > 1 ? std::to_string(n) : std::string());
            e = copy_to_new(from, name);
            if (e == 0)
                return name;
        }
    }
    errno = e;
    return "";
}

// Writes the new content to an unnamed file first, then copies it over the
// target and reads it back. Another program that wrote the target meanwhile
// makes "error" OVERWRITTEN, with the new content kept in the file "kept"
// names, or "kept" empty and "keep_error" the errno of why it could not be.
static bool write_in_place(const std::string &target, const std::function<int(int)> &write,
                           bool unnamed, int &error, std::string &kept, int &keep_error)
{
    int fd = open(target.c_str(), O_RDWR | O_CLOEXEC);
    bool readable = fd >= 0;
    if (fd < 0 && errno == EACCES) /* a file the user may write but not read */
        fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) { /* the target itself */
        error = errno;
        return false;
    }
    /* the lock is held from before the new content is made (which may check
       that the file is still what was read) until it is in place */
    error = lock_exclusive(fd);
    struct stat st;
    if (error == 0 && fstat(fd, &st) != 0)
        error = errno;
    int temp = -1;
    const char *tmpdir = std::getenv("TMPDIR");
    const std::string elsewhere = tmpdir && *tmpdir ? tmpdir : "/tmp";
    if (error == 0) {
        temp = create_anonymous(folder_of(target), unnamed);
        if (temp < 0) /* the target's folder may not be written: elsewhere */
            temp = create_anonymous(elsewhere, unnamed);
        if (temp < 0)
            error = errno;
    }
    if (error == 0)
        error = write(temp);
    if (error == 0) {
        HeldSignals held;
        error = copy_in_place(temp, fd, st.st_size);
        if (error == 0 && readable)
            error = same_bytes(temp, fd);
        if (error == OVERWRITTEN) {
            kept = keep_new_content(temp, target, elsewhere);
            keep_error = errno;
        }
    }
    if (temp >= 0)
        close(temp);
    if (close(fd) != 0 && error == 0)
        error = errno;
    return error == 0;
}

// Copies the extended attributes of "target" (its access control lists among
// them) to the open file "fd": 0, or the errno of the first that could not be
// read or set.
static int copy_attributes(const std::string &target, int fd)
{
    std::vector<char> names;
    for (;;) {
        ssize_t listed = listxattr(target.c_str(), nullptr, 0);
        if (listed < 0)
            return errno == ENOTSUP ? 0 : errno; /* none on this file system */
        names.resize(size_t(listed));
        listed = listxattr(target.c_str(), names.data(), names.size());
        if (listed >= 0) {
            names.resize(size_t(listed));
            break;
        }
        if (errno != ERANGE)
            return errno; /* else more were added meanwhile: again */
    }
    std::vector<char> value;
    for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
        const char *name = &names[at];
        ssize_t size = getxattr(target.c_str(), name, nullptr, 0);
        if (size >= 0) {
            value.resize(size_t(size));
            size = getxattr(target.c_str(), name, value.data(), value.size());
        }
        if (size < 0 || fsetxattr(fd, name, value.data(), size_t(size), 0) != 0)
            return errno;
    }
    return 0;
}

// Whether an unnamed file can be given a name once complete: that goes
// through /proc, which a chroot or a container may lack.
static bool can_name_unnamed() { return access("/proc/self/fd", X_OK) == 0; }

// The folder "folder" open to be synced once a name in it changed, or -1 when
// it cannot be read (which only a folder the user may write but not list
// is); -2 with errno set when opening it failed otherwise.
static int open_folder(const std::string &folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd >= 0 ? fd : errno == EACCES ? -1 : -2;
}

// Syncs the open folder "fd" (if any), so that a name just given in it
// survives a power cut, and closes it: 0, or the errno. A file system that
// cannot sync a folder (EINVAL) orders its names itself.
static int sync_folder(int fd)
{
    if (fd < 0)
        return 0;
    int e = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    if (close(fd) != 0 && e == 0)
        e = errno;
    return e;
}

// The file was renamed into place, but its folder could not be synced: the
// errno of why, added to this.
static const int UNSYNCED = 1 << 20;

// Writes a new file beside "target" and renames it over it. "in_place" is
// set, with nothing done, when the new file cannot take the target's owner or
// one of its extended attributes (writing in place keeps them all).
static bool write_by_rename(const std::string &target, const struct stat *st,
                            const std::function<int(int)> &write, bool unnamed, int &error,
                            bool &in_place)
{
    const std::string folder = folder_of(target), base = base_of(target);
    std::string name;
    /* a file replaced is synced, so that a power cut leaves the old or the
       new; a new name is not (it costs a tenth of the run; see save_file.h) */
    const int folder_fd = st ? open_folder(folder) : -1;
    if (folder_fd == -2) {
        error = errno;
        return false;
    }
    int fd = unnamed && can_name_unnamed() ? create_unnamed(folder) : -1;
    bool named = fd < 0;
    if (named)
        fd = create_named(folder, base, name);
    if (fd < 0) {
        error = errno;
        sync_folder(folder_fd);
        return false;
    }
    error = 0;
    if (st && fchown(fd, st->st_uid, st->st_gid) != 0) {
        in_place = true;
    } else {
        if (st && fchmod(fd, st->st_mode & 07777) != 0)
            error = errno;
        /* after the mode: an access control list sets the mode's group bits */
        if (error == 0 && st && copy_attributes(target, fd) != 0)
            in_place = true;
        if (error == 0 && !in_place)
            error = write(fd);
        /* the content on the disk before any name can show it: a power cut
           then leaves the old file or the new one, never an empty one */
        if (error == 0 && !in_place && st && fsync(fd) != 0)
            error = errno;
    }
    if (!named && error == 0 && !in_place) {
        /* a name only now that it is whole, to rename it over the target */
        std::string proc = "/proc/self/fd/" + std::to_string(fd);
        error = make_named(folder, base, name, [&](const std::string &n) {
            return linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, n.c_str(), AT_SYMLINK_FOLLOW) == 0
                       ? 0
                       : errno;
        });
        named = error == 0;
    }
    if (close(fd) != 0 && error == 0)
        error = errno;
    bool renamed = error == 0 && !in_place && rename(name.c_str(), target.c_str()) == 0;
    if (error == 0 && !in_place && !renamed)
        error = errno;
    if (named && !renamed)
        unlink(name.c_str());
    clear_pending();
    /* the rename itself on the disk, which may not order it after the content */
    int synced = sync_folder(folder_fd);
    if (renamed && synced != 0)
        error = UNSYNCED + synced;
    return error == 0 && !in_place;
}

bool save_file(const std::string &path, const std::function<int(int)> &write, std::string &error,
               bool unnamed)
{
    auto failed = [&](int error_number) {
        error = path + ": cannot write: " + std::strerror(error_number);
        return false;
    };
    std::string target;
    if (!resolve_links(path, target))
        return failed(errno);
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return failed(errno);
    const std::string folder = folder_of(target);
    bool folder_writable = access(folder.c_str(), W_OK | X_OK) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return failed(EISDIR);
        if (!S_ISREG(st.st_mode)) {
            error = path + ": cannot write: not a regular file";
            return false;
        }
        if (access(target.c_str(), W_OK) != 0)
            return failed(errno);
        if ((st.st_mode & 0222) == 0)
            return failed(EACCES);
    } else if (!folder_writable) {
        return failed(errno);
    }
    int error_number = 0;
    /* a file with other names, or none (deleted, or never named: reached
       through /proc), keeps them by being written in place */
    bool in_place = exists && (st.st_nlink != 1 || !folder_writable);
    if (!in_place &&
        write_by_rename(target, exists ? &st : nullptr, write, unnamed, error_number, in_place))
        return true;
    std::string kept;
    int keep_error = 0;
    if (in_place && write_in_place(target, write, unnamed, error_number, kept, keep_error))
        return true;
    if (error_number > UNSYNCED) {
        error = path + ": written, but its folder could not be synced: " +
                std::strerror(error_number - UNSYNCED) + "; a power cut may yet leave the old model";
        return false;
    }
    if (error_number != OVERWRITTEN)
        return failed(error_number);
    error = path + ": cannot write: another program wrote to the file while it was being "
                   "written in place, so it may hold neither model; " +
            (kept.empty() ? "the new model could not be kept: " + std::string(std::strerror(keep_error))
                          : "the new model is in " + kept);
    return false;
}

/* }====== */

} // namespace acfile
