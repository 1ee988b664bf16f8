// The system calls of reading and saving, in one place: whole reads and
// writes, calls made again when a signal interrupts them, locks, syncs, and
// the temporary files a save makes, removed whatever ends the process short
// of SIGKILL. Every file the format reads or writes goes through these, so
// each rule (retry on EINTR, count what went out, never leave a temporary
// file behind) is kept once.
#ifndef CORRUGO_ACFILE_FILE_IO_H
#define CORRUGO_ACFILE_FILE_IO_H

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <functional>
#include <string>

#include <sys/types.h>
#include <sys/uio.h>

namespace acfile {

// "call()" made again while a signal interrupts it (-1 with EINTR).
template <class Call> auto retried(Call &&call) -> decltype(call())
{
    decltype(call()) result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

/* Names */

// The folder of "path": "." for a bare name, "/" for one in the root.
std::string folder_of(const std::string &path);

// The last name of "path".
std::string base_of(const std::string &path);

/* Reading and writing */

// Reads up to "n" bytes at the offset "at" of "fd" (at its position when
// "at" is negative), stopping early only at the end of the file: how many,
// or -1 with errno set.
ssize_t read_fully(int fd, void *buffer, size_t n, off_t at = -1);

// Writes the pieces "piece" to "last" to "fd", adding what went to
// "written" (what the file or pipe received, also when a later write
// fails): 0, or the errno of the failure.
int write_pieces(int fd, iovec *piece, iovec *last, volatile size_t &written);

// Copies "size" bytes from offset "at" of the file "from" to "fd" within the
// kernel, adding what went to "written": 0, the errno of the failure, or -1
// when "fd" cannot take them so and nothing was copied.
int send_file_bytes(int fd, int from, off_t at, size_t size, volatile size_t &written);

// Copies all of "from" over the start of "to", which then ends where it
// does, and syncs it. Room is reserved first, so that a full disk fails
// before anything changes; a failure before the first byte is written leaves
// "to" as it was (the room reserved is given back). 0, or the errno.
int copy_in_place(int from, int to, off_t old_size);

// Whether the open files "a" and "b" hold the same bytes: 0 when they do,
// DIFFERENT when not, or the errno of a read that failed.
const int DIFFERENT = -1;
int same_bytes(int a, int b);

// Takes a lock of "type" (F_RDLCK, F_WRLCK) on all of the open file "fd",
// waiting while another program holds one that excludes it. Locks are
// advisory: where the file system has none, 0 all the same; a wait that would
// never end (each program waiting for the other) gives EDEADLK.
int lock_file(int fd, short type);

/* Syncing */

// The folder "folder" open to be synced once a name in it changed, or -1 when
// it cannot be read (which only a folder the user may write but not list
// is); -2 with errno set when opening it failed otherwise.
int open_folder(const std::string &folder);

// Syncs the open folder "fd" (if any), so that a name just given in it
// survives a power cut, and closes it: 0, or the errno. A file system that
// cannot sync a folder (EINVAL) orders its names itself.
int sync_folder(int fd);

/* Temporary files */

// An unnamed file in "folder" (mode 0666 less the umask), or -1 with errno set
// when the file system has none.
int create_unnamed(const std::string &folder);

// Gives a fresh name ".BASE.tmpXXXXXX" in "folder" (BASE shortened so that
// the name fits) to a new file by "make", which returns 0 or an errno,
// trying again while the name is taken. The name is removed on SIGINT,
// SIGTERM, SIGHUP and SIGQUIT (the signal then ends the process as it would
// have) and by remove_pending_temporary, until clear_pending. 0, or an errno.
int make_named(const std::string &folder, const std::string &base, std::string &name,
               const std::function<int(const std::string &name)> &make);

// A new file by such a name (mode 0666 less the umask); -1 with errno set.
int create_named(const std::string &folder, const std::string &base, std::string &name);

// A file that nobody can open by name: unnamed where the file system allows
// and "unnamed" is set, else named in "folder" and removed at once.
int create_anonymous(const std::string &folder, bool unnamed);

// The named temporary file is complete and renamed, or removed.
void clear_pending();

// Removes the named temporary file of a save under way, if any: for a program
// about to end in a way that runs no cleanup (out of memory, say).
void remove_pending_temporary();

// Holds off the signals that would end a save while a file is written in
// place, as long as it lives.
struct HeldSignals {
    sigset_t old;
    HeldSignals();
    ~HeldSignals();
};

} // namespace acfile

#endif
