// Replacing a user's file safely; see save_file.h for what is kept and why.
#include "acfile/save_file.h"

#include "acfile/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/xattr.h>
#include <sys/stat.h>
#include <unistd.h>

namespace acfile {

/* {====== Names ====== */

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

/* {====== Replacing ====== */

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
// makes "error" DIFFERENT, with the new content kept in the file "kept"
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
    error = lock_file(fd, F_WRLCK);
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
        if (error == DIFFERENT) {
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
    if (error_number != DIFFERENT)
        return failed(error_number);
    error = path + ": cannot write: another program wrote to the file while it was being "
                   "written in place, so it may hold neither model; " +
            (kept.empty() ? "the new model could not be kept: " + std::string(std::strerror(keep_error))
                          : "the new model is in " + kept);
    return false;
}

/* }====== */

} // namespace acfile
