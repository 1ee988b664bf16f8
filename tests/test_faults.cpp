// What reading and saving do when a system call fails: every call they make,
// failed in turn, one at a time. Whatever fails, a save either replaces the
// file whole or leaves it as it was, says why, and leaves no temporary file;
// a read either gives the model or says why. A call interrupted by a signal
// (EINTR) is made again, and changes nothing.
//
// The calls are failed here, in the test program: its definitions of the C
// library's functions come first for the substitute host's library too, and
// pass every call on to the C library's own unless a fault is armed for it.
#include "loaded.h"
#include "acfile/acfile.h"
#include "acfile/save_file.h"
#include "acfile/stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <set>
#include <vector>
#include <climits>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The armed fault: the "nth" call of "function" from the arming on fails with
// "error", or with SHORT does only half its work (at least a byte), or with
// ONE_BYTE writes one byte, or with ALL_BUT_ONE all but the last, or with
// OTHER_PROGRAM runs "other_program" first and then does its work; with
// PART_THEN_REFUSED (sendfile) it copies half and the next call is refused
// with EINVAL, as a kernel that gives up on a copy under way does; with
// SHORT_THEN_EIO (reads) it reads half and the next call fails with EIO, as
// a disk failing mid-file does. "fired" tells whether it was reached. With
// "no_proc", every path under /proc is missing, as in a chroot without it.
const int SHORT = -1, ONE_BYTE = -2, OTHER_PROGRAM = -3, PART_THEN_REFUSED = -4, ALL_BUT_ONE = -5,
          SHORT_THEN_EIO = -6;
std::function<void()> other_program;
bool no_proc = false;
struct Fault {
    const char *function = nullptr;
    int nth = 0, calls = 0, error = 0;
    bool fired = false;
};
Fault fault;

void arm(const char *function, int nth, int error) { fault = {function, nth, 0, error, false}; }
bool disarm()
{
    fault.function = nullptr;
    return fault.fired;
}

// Whether this call of "function" is the one to fail (errno is then set).
bool fails(const char *function)
{
    if (!fault.function || std::strcmp(function, fault.function) != 0 || ++fault.calls != fault.nth)
        return false;
    fault.fired = true;
    if (fault.error == OTHER_PROGRAM) {
        int saved = errno;
        fault.function = nullptr; /* its own calls pass */
        other_program();
        errno = saved;
        return false;
    }
    if (fault.error > 0)
        errno = fault.error;
    return true;
}

// Whether "path" lies under /proc while "no_proc" hides it (errno is then set).
bool hidden(const char *path)
{
    if (!no_proc || std::strncmp(path, "/proc/", 6) != 0)
        return false;
    errno = ENOENT;
    return true;
}

template <class F> F next(const char *name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

// How much of "n" bytes a call cut short by the armed fault does.
size_t part_of(size_t n)
{
    return fault.error == ONE_BYTE ? 1 : fault.error == ALL_BUT_ONE && n > 1 ? n - 1 : std::max<size_t>(1, n / 2);
}

// A call cut short, whose next call then fails with "error".
template <class Call> ssize_t part_then(int error, size_t n, Call call)
{
    ssize_t k = call(part_of(n));
    fault = {fault.function, fault.calls + 1, fault.calls, error, true};
    return k;
}

} // namespace

// The C library's functions that reading and saving call, as they see them.
extern "C" {

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    static auto real = next<int (*)(const char *, int, ...)>("open");
    return fails("open") || hidden(path) ? -1 : real(path, flags, mode);
}

ssize_t read(int fd, void *buffer, size_t n)
{
    static auto real = next<ssize_t (*)(int, void *, size_t)>("read");
    if (!fails("read"))
        return real(fd, buffer, n);
    if (fault.error == SHORT_THEN_EIO)
        return part_then(EIO, n, [&](size_t part) { return real(fd, buffer, part); });
    return fault.error > 0 ? -1 : real(fd, buffer, part_of(n));
}

ssize_t pread(int fd, void *buffer, size_t n, off_t at)
{
    static auto real = next<ssize_t (*)(int, void *, size_t, off_t)>("pread");
    if (fails("pread"))
        return fault.error > 0 ? -1 : real(fd, buffer, part_of(n), at);
    return real(fd, buffer, n, at);
}

ssize_t write(int fd, const void *buffer, size_t n)
{
    static auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
    if (fails("write"))
        return fault.error > 0 ? -1 : real(fd, buffer, part_of(n));
    return real(fd, buffer, n);
}

ssize_t writev(int fd, const struct iovec *pieces, int count)
{
    static auto real = next<ssize_t (*)(int, const struct iovec *, int)>("writev");
    if (fails("writev")) {
        if (fault.error == ONE_BYTE) {
            struct iovec one = {pieces[0].iov_base, 1};
            return real(fd, &one, 1);
        }
        if (fault.error == ALL_BUT_ONE) { /* every piece, the last a byte short */
            std::vector<struct iovec> all(pieces, pieces + count);
            while (!all.empty() && all.back().iov_len == 0)
                all.pop_back();
            if (!all.empty())
                all.back().iov_len--;
            return real(fd, all.data(), int(all.size()));
        }
        if (fault.error != SHORT)
            return -1;
        /* the first piece and half the next, or half the only one */
        struct iovec some[2] = {pieces[0], count > 1 ? pieces[1] : pieces[0]};
        some[count > 1].iov_len = std::max<size_t>(1, some[count > 1].iov_len / 2);
        return real(fd, some, count > 1 ? 2 : 1);
    }
    return real(fd, pieces, count);
}

ssize_t sendfile(int fd, int from, off_t *at, size_t n)
{
    static auto real = next<ssize_t (*)(int, int, off_t *, size_t)>("sendfile");
    if (fails("sendfile")) {
        if (fault.error == PART_THEN_REFUSED)
            return part_then(EINVAL, n, [&](size_t part) { return real(fd, from, at, part); });
        return fault.error > 0 ? -1 : real(fd, from, at, part_of(n));
    }
    return real(fd, from, at, n);
}

ssize_t pwrite(int fd, const void *buffer, size_t n, off_t at)
{
    static auto real = next<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    if (fails("pwrite"))
        return fault.error > 0 ? -1 : real(fd, buffer, part_of(n), at);
    return real(fd, buffer, n, at);
}

int close(int fd)
{
    static auto real = next<int (*)(int)>("close");
    if (fails("close")) {
        real(fd); /* as Linux does: the descriptor is gone all the same */
        return -1;
    }
    return real(fd);
}

int fchown(int fd, uid_t owner, gid_t group)
{
    static auto real = next<int (*)(int, uid_t, gid_t)>("fchown");
    return fails("fchown") ? -1 : real(fd, owner, group);
}

int fchmod(int fd, mode_t mode)
{
    static auto real = next<int (*)(int, mode_t)>("fchmod");
    return fails("fchmod") ? -1 : real(fd, mode);
}

int linkat(int from_dir, const char *from, int to_dir, const char *to, int flags)
{
    static auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return fails("linkat") || hidden(from) ? -1 : real(from_dir, from, to_dir, to, flags);
}

int rename(const char *from, const char *to)
{
    static auto real = next<int (*)(const char *, const char *)>("rename");
    return fails("rename") ? -1 : real(from, to);
}

int fsync(int fd)
{
    static auto real = next<int (*)(int)>("fsync");
    return fails("fsync") ? -1 : real(fd);
}

int ftruncate(int fd, off_t size)
{
    static auto real = next<int (*)(int, off_t)>("ftruncate");
    return fails("ftruncate") ? -1 : real(fd, size);
}

off_t lseek(int fd, off_t at, int whence)
{
    static auto real = next<off_t (*)(int, off_t, int)>("lseek");
    return fails("lseek") ? -1 : real(fd, at, whence);
}

int posix_fallocate(int fd, off_t at, off_t size)
{
    static auto real = next<int (*)(int, off_t, off_t)>("posix_fallocate");
    return fails("posix_fallocate") ? errno : real(fd, at, size);
}

int fstat(int fd, struct stat *st)
{
    static auto real = next<int (*)(int, struct stat *)>("fstat");
    return fails("fstat") ? -1 : real(fd, st);
}

int stat(const char *path, struct stat *st)
{
    static auto real = next<int (*)(const char *, struct stat *)>("stat");
    return fails("stat") ? -1 : real(path, st);
}

int lstat(const char *path, struct stat *st)
{
    static auto real = next<int (*)(const char *, struct stat *)>("lstat");
    return fails("lstat") ? -1 : real(path, st);
}

ssize_t readlink(const char *path, char *buffer, size_t size)
{
    static auto real = next<ssize_t (*)(const char *, char *, size_t)>("readlink");
    return fails("readlink") ? -1 : real(path, buffer, size);
}

int access(const char *path, int how)
{
    static auto real = next<int (*)(const char *, int)>("access");
    return fails("access") || hidden(path) ? -1 : real(path, how);
}

int fcntl(int fd, int command, ...)
{
    va_list args;
    va_start(args, command);
    long argument = va_arg(args, long); /* every command used here takes one */
    va_end(args);
    static auto real = next<int (*)(int, int, ...)>("fcntl");
    return fails("fcntl") ? -1 : real(fd, command, argument);
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    static auto real = next<int (*)(int, const char *, const void *, size_t, int)>("fsetxattr");
    return fails("fsetxattr") ? -1 : real(fd, name, value, size, flags);
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    static auto real = next<void *(*)(void *, size_t, int, int, int, off_t)>("mmap");
    return fails("mmap") ? MAP_FAILED : real(address, length, protection, flags, fd, offset);
}

} // extern "C"

namespace {

const std::string model = "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nname \"box\"\nloc 0 0 1\n"
                          "numvert 3\n0 0 0\n1 0 0\n1 1 0\nkids 0\n";
const std::string moved = "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nname \"box\"\nloc 0 0 1\n"
                          "numvert 3\n0 0 0\n1 0 0.5\n1 1 0\nkids 0\n";

// A model written in two parts (objects of 17,000, 17,000 and 100 vertices),
// as read or as save_moved leaves it, which makes it shorter.
std::string in_two_parts(bool moved)
{
    const int counts[] = {17000, 17000, 100};
    std::string text = "AC3Db\nOBJECT world\nkids 3\n";
    for (int o = 0; o < 3; o++) {
        text += "OBJECT poly\nnumvert " + std::to_string(counts[o]) + "\n";
        for (int v = 0; v < counts[o]; v++)
            text += !moved                            ? "0 0 0.00000\n"
                    : o == 0 && v == 1                ? "0 0 1.5\n"
                    : o > 0 && v == counts[o] - 1     ? "0 0 0.5\n"
                                                      : "0 0 0.00000\n";
        text += "kids 0\n";
    }
    return text;
}

class Faults : public ::testing::Test {
protected:
    std::string dir, path;
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "faultsXXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
        path = dir + "/model.ac";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void put(const std::string &name, const std::string &text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }
    std::string contents(const std::string &name)
    {
        std::ifstream in(name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    enum Route { BY_RENAME, NAMED, IN_PLACE };

    // "text" with the box's name 5,000 letters long: long enough for the
    // writer to copy the bytes read rather than gather them.
    static std::string long_named(std::string text, size_t length = 5000)
    {
        return text.replace(text.find("name \"box\""), 10,
                            "name \"" + std::string(length, 'n') + "\"");
    }

    // Writes "text" to the file, reads it, moves a vertex (and the last of
    // every later object, so that each part of a model written in parts ends
    // with a line written again) and saves it by "route" (IN_PLACE: the file
    // has a second hard link) on "threads" with the fault armed. Whether the
    // save succeeded, with "fired", the save's "error", the file's bytes
    // "now", and a check that the folder holds nothing else.
    bool save_moved(const std::string &text, Route route, const char *call, int nth, int kind,
                    bool &fired, std::string &error, std::string &now,
                    std::vector<std::string> also = {}, int threads = 1)
    {
        put(path, text);
        std::string link_name = dir + "/link.ac";
        if (route == IN_PLACE)
            EXPECT_EQ(link(path.c_str(), link_name.c_str()), 0);
        Loaded l;
        EXPECT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP))
            << l.error;
        l.model.objects[1]->vertices[1].z = 1.5f;
        for (size_t o = 2; o < l.model.objects.size(); o++)
            if (!l.model.objects[o]->vertices.empty())
                l.model.objects[o]->vertices.back().z += 0.5f;
        auto write = [&](int fd) {
            std::string out;
            acfile::write_ac(l.model, l.source, out);
            for (size_t at = 0; at < out.size();) {
                ssize_t n = ::write(fd, out.data() + at, out.size() - at);
                if (n < 0)
                    return errno;
                at += size_t(n);
            }
            return 0;
        };
        arm(call, nth, kind);
        bool ok = route == NAMED ? acfile::save_file(path, write, error, false)
                                 : acfile::write_ac_file(path, l.model, l.source, error, threads);
        fired = disarm();
        now = contents(path);
        std::vector<std::string> expected = {"model.ac"};
        if (route == IN_PLACE)
            expected.insert(expected.begin(), "link.ac");
        expected.insert(expected.end(), also.begin(), also.end());
        EXPECT_EQ(names(), expected) << call << " call " << nth;
        if (route == IN_PLACE)
            unlink(link_name.c_str());
        return ok;
    }

    std::vector<std::string> names()
    {
        std::vector<std::string> found;
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }
};

const char *const SAVING_CALLS[] = {"stat",   "lstat",     "access", "open",     "write",
                                    "writev", "sendfile",  "pwrite", "pread",    "close",
                                    "fchown", "fchmod",    "linkat", "rename",   "fsync",
                                    "ftruncate", "lseek",  "posix_fallocate"};

} // namespace

// Each call of a save, failed in turn with an I/O error: the file keeps its
// old bytes and the message says why, or (a failure the save can do without)
// it has the new ones; nothing else is left in the folder. Also for a model
// written in parts, on one thread and on two: a part written whole after one
// that failed hides nothing. Every call is reached by some route: a call
// the code makes by another name (the C library's checked variants, say)
// would pass the fault by, and its loop would end at once without a word.
TEST_F(Faults, ASaveThatFailsLeavesTheFileAsItWas)
{
    std::set<std::string> reached;
    std::set<int> folder_synced; /* the routes by a temporary file that sync its folder */
    const std::string parts = in_two_parts(false), parts_moved = in_two_parts(true);
    const struct {
        const std::string &text, &moved;
        int threads;
    } models[] = {{model, moved, 1}, {parts, parts_moved, 1}, {parts, parts_moved, 2}};
    // In place, the bytes copied before a failing disk stopped the copy, and
    // the old ones after them.
    auto half_copied = [](const std::string &now, const std::string &moved,
                          const std::string &old) {
        size_t same = std::mismatch(now.begin(), now.end(), moved.begin(), moved.end()).first -
                      now.begin();
        return now.size() == old.size() && now.compare(same, std::string::npos, old, same) == 0;
    };
    for (const auto &m : models) {
        for (Route route : {BY_RENAME, NAMED, IN_PLACE}) {
            if (route == NAMED && &m.text == &parts)
                continue; /* written by the test itself, not in parts */
            for (const char *call : SAVING_CALLS) {
                if (&m.text == &parts &&
                    std::string(" writev sendfile pwrite pread ftruncate ")
                            .find(std::string(" ") + call + " ") == std::string::npos)
                    continue; /* the calls of writing, which parts repeat */
                for (int nth = 1; nth < 40; nth++) {
                    std::string error, now;
                    bool fired = false;
                    bool ok = save_moved(m.text, route, call, nth, EIO, fired, error, now, {},
                                         m.threads);
                    if (fired)
                        reached.insert(call);
                    SCOPED_TRACE(std::string(call) + " call " + std::to_string(nth) + " route " +
                                 std::to_string(route) + ", " + std::to_string(m.text.size()) +
                                 " bytes on " + std::to_string(m.threads) + " threads");
                    // by a temporary file, these failures cannot be done without
                    // (and the first open, of the folder to be synced: a
                    // save that cannot sync it does not go on unsynced)
                    bool fatal = route != IN_PLACE &&
                                 (std::string(" close rename linkat fchmod write writev sendfile fsync ")
                                          .find(std::string(" ") + call + " ") != std::string::npos ||
                                  (!std::strcmp(call, "open") && nth == 1));
                    EXPECT_FALSE(ok && fired && fatal) << "a failed " << call << " was not reported";
                    if (ok) {
                        EXPECT_TRUE(now == m.moved);
                    } else if (route != IN_PLACE && nth == 2 &&
                               (!std::strcmp(call, "fsync") || !std::strcmp(call, "close"))) {
                        // by a temporary file, the folder is synced (and
                        // closed) once the new file is in place: the new
                        // bytes, and why they may not survive a power cut
                        EXPECT_EQ(error, path + ": written, but its folder could not be synced: " +
                                             std::strerror(EIO) + "; a power cut may yet leave the old model");
                        EXPECT_TRUE(now == m.moved);
                        folder_synced.insert(route);
                    } else {
                        EXPECT_TRUE(fired) << error;
                        EXPECT_EQ(error, path + ": cannot write: " + std::strerror(EIO));
                        // in place, a failure once the copy is done (close,
                        // fsync) cannot take it back: the new bytes, whole,
                        // and the error; a file not cut to its new length by
                        // a failing ftruncate keeps the old end after them,
                        // and a disk failing after the first piece of the
                        // copy leaves it half copied
                        bool copied =
                            now == m.moved ||
                            (!std::strcmp(call, "ftruncate") &&
                             now == m.moved + m.text.substr(m.moved.size())) ||
                            (nth > 1 && (!std::strcmp(call, "pwrite") || !std::strcmp(call, "pread")) &&
                             half_copied(now, m.moved, m.text));
                        if (!(route == IN_PLACE && copied))
                            EXPECT_TRUE(now == m.text);
                    }
                    if (!fired)
                        break;
                }
            }
        }
    }
    EXPECT_EQ(folder_synced, (std::set<int>{BY_RENAME, NAMED}));
    // (sendfile only copies long stretches: LongStretchesCopiedWithinTheKernel)
    for (const char *call : SAVING_CALLS)
        if (std::strcmp(call, "sendfile") != 0)
            EXPECT_TRUE(reached.count(call)) << "no save reached " << call;
}

// In place, a full disk is found when room for the new content is reserved,
// before anything is written; a file system that cannot reserve room is
// written all the same.
TEST_F(Faults, InPlaceAFullDiskIsFoundBeforeAnythingIsWritten)
{
    std::string error, now;
    bool fired = false;
    EXPECT_FALSE(save_moved(model, IN_PLACE, "posix_fallocate", 1, ENOSPC, fired, error, now));
    EXPECT_TRUE(fired);
    EXPECT_EQ(error, path + ": cannot write: " + std::strerror(ENOSPC));
    EXPECT_EQ(now, model);
    for (int unsupported : {EOPNOTSUPP, EINVAL}) {
        EXPECT_TRUE(save_moved(model, IN_PLACE, "posix_fallocate", 1, unsupported, fired, error,
                               now)) << error;
        EXPECT_TRUE(fired);
        EXPECT_EQ(now, moved);
    }
}

// Reads and writes that do only part of their work, as a full pipe or a
// signal can make them: the rest is done after, and the file is whole. The
// model is three of the 64 KiB pieces a copy in place reads and writes, and
// then one byte (a last piece of one byte is a piece, not the end) or none
// (the end falls where a piece would start).
TEST_F(Faults, ShortWritesAreFinished)
{
    for (size_t size : {3 * 65536 + 1, 3 * 65536}) {
        size_t length = size - (moved.size() - 3);
        std::string big = long_named(model, length), big_moved = long_named(moved, length);
        ASSERT_EQ(big_moved.size(), size);
        for (Route route : {BY_RENAME, NAMED, IN_PLACE})
            for (const char *call : {"writev", "sendfile", "write", "pwrite", "read", "pread"})
                for (int kind : {SHORT, ONE_BYTE, ALL_BUT_ONE})
                    for (int nth = 1; nth < 6; nth++) {
                        std::string error, now;
                        bool fired = false;
                        bool ok = save_moved(big, route, call, nth, kind, fired, error, now);
                        SCOPED_TRACE(std::string(call) + " call " + std::to_string(nth) + " route " +
                                     std::to_string(route) + ", " + std::to_string(size) + " bytes");
                        EXPECT_TRUE(ok) << error;
                        EXPECT_TRUE(now == big_moved);
                        if (!fired)
                            break;
                    }
    }
}

// The long stretches of the file read are copied within the kernel: a copy
// that fails is reported and the file keeps its bytes; one interrupted is
// made again; a file the copy cannot go to is written the usual way. One
// refused once part of a stretch went is not written again from its start:
// it fails as any failed copy does.
TEST_F(Faults, LongStretchesCopiedWithinTheKernel)
{
    std::string big = long_named(model), big_moved = long_named(moved);
    for (Route route : {BY_RENAME, IN_PLACE})
        for (int kind : {EIO, EINTR, EINVAL, PART_THEN_REFUSED})
            for (int nth = 1; nth < 6; nth++) {
                std::string error, now;
                bool fired = false;
                bool ok = save_moved(big, route, "sendfile", nth, kind, fired, error, now);
                SCOPED_TRACE("error " + std::to_string(kind) + " call " + std::to_string(nth) +
                             " route " + std::to_string(route));
                EXPECT_TRUE(fired || nth > 1);
                if ((kind == EIO || kind == PART_THEN_REFUSED) && fired) {
                    EXPECT_FALSE(ok);
                    EXPECT_EQ(error, path + ": cannot write: " +
                                         std::strerror(kind == EIO ? EIO : EINVAL));
                    EXPECT_TRUE(now == big);
                } else {
                    EXPECT_TRUE(ok) << error;
                    EXPECT_TRUE(now == big_moved);
                }
                if (!fired)
                    break;
            }
}

// Locks are advisory: a file system that has none (or no room for one more)
// is read and saved without them, mapped or in place. A save in place whose
// lock would deadlock with another program's is not made: the file keeps
// its bytes (a read goes on, as it would without locks).
TEST_F(Faults, AFileThatCannotBeLockedIsReadAndSavedUnlessItWouldDeadlock)
{
    std::string big = long_named(model), big_moved = long_named(moved);
    for (int kind : {ENOLCK, EDEADLK})
        for (Route route : {BY_RENAME, IN_PLACE}) {
            SCOPED_TRACE(std::string(std::strerror(kind)) + " route " + std::to_string(route));
            put(path, big);
            std::string link_name = dir + "/link.ac";
            if (route == IN_PLACE)
                ASSERT_EQ(link(path.c_str(), link_name.c_str()), 0);
            Loaded l;
            arm("fcntl", 1, kind);
            ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP))
                << l.error;
            EXPECT_TRUE(disarm());
            l.model.objects[1]->vertices[1].z = 1.5f;
            std::string error;
            arm("fcntl", 1, kind);
            bool refused = kind == EDEADLK && route == IN_PLACE;
            EXPECT_EQ(acfile::write_ac_file(path, l.model, l.source, error), !refused) << error;
            EXPECT_EQ(disarm(), route == IN_PLACE);
            EXPECT_EQ(error, refused ? path + ": cannot write: " + std::strerror(kind) : "");
            EXPECT_TRUE(contents(path) == (refused ? big : big_moved));
            unlink(link_name.c_str());
        }
}

// Another program that changes the model file while it is read, or while the
// model is written from it: nothing is written, the file is as that program
// left it, and nothing is left beside it. A mapped page it cut off ends the
// process with the same message.
TEST_F(Faults, AFileAnotherProgramChangesIsNeverWrittenOver)
{
    const std::string big = long_named(model), other = "AC3Db\nOBJECT poly\nkids 0\n";
    const std::string same_size = [&] {
        std::string text = big;
        text[text.rfind("1 1 0")] = '2';
        return text;
    }();
    const std::string broken = [&] {
        std::string text = big;
        text[text.rfind("1 1 0") + 2] = 'x';
        return text;
    }();
    const struct {
        acfile::ReadMode mode;
        const char *call;
        int nth;
        const std::string &becomes;
    } reads[] = {{acfile::READ_COPY, "read", 1, other},
                 {acfile::READ_MAP, "mmap", 2, same_size},
                 {acfile::READ_MAP, "mmap", 2, broken}}; /* it says changed, not broken */
    for (const auto &c : reads) {
        put(path, big);
        other_program = [&] { put(path, c.becomes); };
        Loaded l;
        arm(c.call, c.nth, OTHER_PROGRAM);
        EXPECT_FALSE(acfile::read_ac_file(path, l.model, l.source, l.error, c.mode));
        EXPECT_TRUE(disarm()) << c.call;
        EXPECT_EQ(l.error, acfile::changed_message(path));
    }
    for (Route route : {BY_RENAME, IN_PLACE})
        for (const char *call : {"writev", "sendfile"})
            for (const std::string *becomes : {&other, &same_size}) {
                SCOPED_TRACE(std::string(call) + " route " + std::to_string(route));
                other_program = [&] { put(path, *becomes); };
                std::string error, now;
                bool fired = false;
                EXPECT_FALSE(save_moved(big, route, call, 1, OTHER_PROGRAM, fired, error, now));
                EXPECT_TRUE(fired);
                EXPECT_EQ(error, acfile::changed_message(path));
                EXPECT_TRUE(now == *becomes);
            }
    // Saved in place (the file has a second name), while another program
    // ignoring the lock writes the file during the copy over it: the file
    // is no version, the save says so, and the new model is kept beside it.
    // The read-back compares every byte, the first and those past its
    // first piece (64 KiB) too.
    std::string huge = big; /* copied over in several pieces */
    huge.replace(huge.find(std::string(5000, 'n')), 5000, std::string(300000, 'n'));
    std::string huge_moved = long_named(moved, 300000);
    auto changed_at = [](std::string text, size_t at) {
        text[at] = text[at] == '1' ? '2' : '1';
        return text;
    };
    const std::string first_changed = changed_at(huge_moved, 0),
                      last_changed = changed_at(huge_moved, huge_moved.rfind("1 1 0"));
    const struct {
        const std::string &text;
        const char *call;
        int nth;
        std::vector<const std::string *> becomes;
    } copies[] = {{big, "fsync", 1, {&other, &same_size}},
                  {huge, "pwrite", 2, {&other, &same_size}},
                  {huge, "fsync", 1, {&first_changed, &last_changed}}};
    for (const auto &c : copies)
        for (const std::string *becomes : c.becomes) {
            SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.nth));
            other_program = [&] { put(path, *becomes); };
            std::string error, now;
            bool fired = false;
            put(path + ".new", "taken");
            EXPECT_FALSE(save_moved(c.text, IN_PLACE, c.call, c.nth, OTHER_PROGRAM, fired, error,
                                    now, {"model.ac.new", "model.ac.new2"}));
            EXPECT_TRUE(fired);
            EXPECT_EQ(error, path + ": cannot write: another program wrote to the file while it "
                                    "was being written in place, so it may hold neither model; "
                                    "the new model is in " + path + ".new2");
            EXPECT_EQ(contents(path + ".new"), "taken");
            Loaded kept;
            EXPECT_TRUE(acfile::read_ac_file(path + ".new2", kept.model, kept.source, kept.error))
                << kept.error;
            EXPECT_EQ(kept.model.objects[1]->vertices[1].z, 1.5f);
            struct stat st;
            ASSERT_EQ(stat((path + ".new2").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u) << "the kept model is its owner's alone";
            unlink((path + ".new").c_str());
            unlink((path + ".new2").c_str());
        }
    // The names tried beside the file are NAME.new and NAME.new2 to
    // NAME.new99; with all of them taken, $TMPDIR gets NAME.new.
    const std::string tmp = dir + "/tmp";
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    setenv("TMPDIR", tmp.c_str(), 1);
    for (int taken : {98, 99}) {
        SCOPED_TRACE(std::to_string(taken) + " names taken");
        std::vector<std::string> also = {"tmp"};
        for (int n = 1; n <= taken; n++) {
            also.push_back("model.ac.new" + (n > 1 ? std::to_string(n) : std::string()));
            put(dir + "/" + also.back(), "taken");
        }
        const std::string kept = taken == 98 ? path + ".new99" : tmp + "/model.ac.new";
        if (taken == 98)
            also.push_back("model.ac.new99");
        std::sort(also.begin(), also.end());
        other_program = [&] { put(path, other); };
        std::string error, now;
        bool fired = false;
        EXPECT_FALSE(save_moved(big, IN_PLACE, "fsync", 1, OTHER_PROGRAM, fired, error, now, also));
        EXPECT_EQ(error, path + ": cannot write: another program wrote to the file while it "
                                "was being written in place, so it may hold neither model; "
                                "the new model is in " + kept);
        EXPECT_EQ(unlink(kept.c_str()), 0);
        for (const std::string &name : also)
            if (name != "tmp")
                unlink((dir + "/" + name).c_str());
    }
    unsetenv("TMPDIR");
    rmdir(tmp.c_str());
    // Written to a stream as it goes, what went out is no model to keep, and
    // the message says how much went.
    put(path, big);
    Loaded l;
    ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP)) << l.error;
    int out = ::open((dir + "/out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    std::string error;
    other_program = [&] { EXPECT_EQ(truncate(path.c_str(), 100), 0); };
    arm("sendfile", 1, OTHER_PROGRAM);
    EXPECT_FALSE(acfile::write_ac_stream(out, "standard output", l.model, l.source, error));
    EXPECT_TRUE(disarm());
    ::close(out);
    EXPECT_EQ(error, path + ": changed by another program while corrugo-host ran; standard "
                            "output: 100 bytes were written before this was noticed; the model "
                            "written is incomplete");
    // The same from pages written from (a file appended to takes no copy
    // within the kernel), and when such a page can no longer be read at all.
    put(path, in_two_parts(false));
    ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP)) << l.error;
    l.model.objects.back()->vertices.back().z += 0.5f;
    out = ::open((dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    arm("writev", 1, OTHER_PROGRAM);
    EXPECT_FALSE(acfile::write_ac_stream(out, "standard output", l.model, l.source, error));
    EXPECT_TRUE(disarm());
    ::close(out);
    EXPECT_EQ(error, path + ": changed by another program while corrugo-host ran; standard "
                            "output: 4096 bytes were written before this was noticed; the model "
                            "written is incomplete");
    put(path, big);
    EXPECT_EXIT(
        {
            Loaded l;
            acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP);
            static volatile size_t written = 1024;
            acfile::watch_stream("standard output", &written);
            if (truncate(path.c_str(), 100) == 0)
                std::printf("%d", l.source.bytes()[big.size() - 1]);
            std::exit(0);
        },
        ::testing::ExitedWithCode(3),
        "^corrugo-host: " + path + ": changed by another program while corrugo-host ran; standard output: 1024 "
        "bytes were written before this was noticed; the model written is incomplete\n$");
    // and a file read that cannot be looked at again says why
    for (int nth : {1, 2}) {
        put(path, big);
        ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP));
        out = ::open((dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        arm("fstat", nth, EIO);
        EXPECT_FALSE(acfile::write_ac_stream(out, "standard output", l.model, l.source, error));
        EXPECT_TRUE(disarm()) << nth;
        ::close(out);
        EXPECT_EQ(error, path + ": cannot read: Input/output error") << nth;
    }
    put(path, big);
    other_program = [&] { EXPECT_EQ(truncate(path.c_str(), 100), 0); };
    EXPECT_EXIT(
        {
            Loaded l;
            arm("mmap", 2, OTHER_PROGRAM);
            acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP);
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^corrugo-host: " + path + ": changed by another program while corrugo-host ran; nothing was written\n$");
    // A file mapped after another that is gone again is still watched over.
    const std::string first = dir + "/first.ac";
    put(first, big);
    put(path, big);
    EXPECT_EXIT(
        {
            Loaded gone;
            Loaded l;
            acfile::read_ac_file(first, gone.model, gone.source, gone.error, acfile::READ_MAP);
            acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP);
            gone = Loaded();
            if (truncate(path.c_str(), 100) == 0)
                std::printf("%d", l.source.bytes()[big.size() - 1]);
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^corrugo-host: " + path + ": changed by another program");
    // A SIGBUS that is no fault of a mapped page ends the process as it would.
    EXPECT_EXIT(
        {
            Loaded l;
            acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP);
            raise(SIGBUS);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGBUS), "");
    // Cut off while a save's temporary file has a name (without /proc): the
    // same message, and that file is removed.
    put(path, big);
    const std::vector<std::string> before = names();
    EXPECT_EXIT(
        {
            no_proc = true;
            Loaded l;
            acfile::read_ac_file(path, l.model, l.source, l.error, acfile::READ_MAP);
            other_program = [&] {
                if (truncate(path.c_str(), 100) == 0)
                    std::printf("%d", l.source.bytes()[big.size() - 1]);
            };
            std::string error;
            arm("fsync", 1, OTHER_PROGRAM);
            acfile::write_ac_file(path, l.model, l.source, error);
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^corrugo-host: " + path + ": changed by another program while corrugo-host ran; nothing was written\n$");
    EXPECT_EQ(names(), before);
}

// A file system where an extended attribute of the file cannot be given to a
// new file: the file is written in place, which keeps them all.
TEST_F(Faults, AnAttributeThatCannotBeCopiedSendsTheSaveInPlace)
{
    put(path, model);
    if (setxattr(path.c_str(), "user.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no extended attributes on this file system";
    struct stat before, after;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    Loaded l;
    ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error)) << l.error;
    l.model.objects[1]->vertices[1].z = 1.5f;
    std::string error;
    arm("fsetxattr", 1, EPERM);
    EXPECT_TRUE(acfile::write_ac_file(path, l.model, l.source, error)) << error;
    EXPECT_TRUE(disarm());
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(contents(path), moved);
    char note[8] = {};
    EXPECT_EQ(getxattr(path.c_str(), "user.note", note, sizeof note), 4);
    EXPECT_STREQ(note, "kept");
    EXPECT_EQ(names(), std::vector<std::string>{"model.ac"});
}

// Without /proc (a chroot, a container), the temporary file of a save has a
// name from the start, since an unnamed one could not be given one.
TEST_F(Faults, WithoutProcTheTemporaryFileIsNamed)
{
    no_proc = true;
    std::string error, now;
    bool fired = false;
    bool ok = save_moved(model, BY_RENAME, "open", 1000, EIO, fired, error, now);
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(now, moved);
    // A new name takes the mode any new file takes: 0666 less the umask.
    Loaded l;
    ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error));
    const std::string fresh = dir + "/fresh.ac";
    const mode_t umask_was = umask(022);
    EXPECT_TRUE(acfile::write_ac_file(fresh, l.model, l.source, error)) << error;
    umask(umask_was);
    no_proc = false;
    struct stat st;
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    unlink(fresh.c_str());
}

// A link that cannot be read: the save through it is refused.
TEST_F(Faults, ALinkThatCannotBeReadIsNotSavedThrough)
{
    put(path, model);
    ASSERT_EQ(symlink("model.ac", (dir + "/link.ac").c_str()), 0);
    Loaded l;
    ASSERT_TRUE(acfile::read_ac_file(path, l.model, l.source, l.error)) << l.error;
    l.model.objects[1]->vertices[1].z = 1.5f;
    std::string error;
    arm("readlink", 1, EIO);
    EXPECT_FALSE(acfile::write_ac_file(dir + "/link.ac", l.model, l.source, error));
    EXPECT_TRUE(disarm());
    EXPECT_EQ(error, dir + "/link.ac: cannot write: " + std::strerror(EIO));
    EXPECT_EQ(contents(path), model);
}

// A save with a named temporary file, in a child process: "between" runs
// while the new content is written. The child's exit status, or its signal.
static int save_in_child(const std::string &path, const std::function<void()> &before,
                         const std::function<void()> &between)
{
    pid_t child = fork();
    if (child == 0) {
        before();
        std::string error;
        bool ok = acfile::save_file(
            path,
            [&](int fd) {
                between();
                return ::write(fd, "AC3Db\n", 6) == 6 ? 0 : errno;
            },
            error, false);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 1000 + WTERMSIG(status) : WEXITSTATUS(status);
}

// A signal that ends the program during a save removes the named temporary
// file, also after an earlier save in a folder of a longer name; and a signal
// the program was started to ignore stays ignored.
TEST_F(Faults, SignalsDuringASaveLeaveNoTemporaryFileAndIgnoredOnesStayIgnored)
{
    std::string longer = dir + "/a-folder-with-a-rather-longer-name-than-the-other";
    ASSERT_EQ(mkdir(longer.c_str(), 0755), 0);
    int status = save_in_child(
        path,
        [&] {
            std::string error;
            acfile::save_file(longer + "/first-model-saved.ac",
                           [](int fd) { return ::write(fd, "x", 1) == 1 ? 0 : errno; }, error,
                           false);
        },
        [] { raise(SIGTERM); });
    EXPECT_EQ(status, 1000 + SIGTERM);
    EXPECT_EQ(names(), (std::vector<std::string>{"a-folder-with-a-rather-longer-name-than-the-other"}));

    status = save_in_child(
        path, [] { signal(SIGHUP, SIG_IGN); }, [] { raise(SIGHUP); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents(path), "AC3Db\n");
}

// The same calls interrupted by a signal: those made again give the same
// file as an uninterrupted save.
TEST_F(Faults, ASaveInterruptedBySignalsWritesTheWholeFile)
{
    for (Route route : {BY_RENAME, IN_PLACE})
        for (const char *call : {"writev", "pwrite", "pread"})
            for (int nth = 1; nth < 10; nth++) {
                std::string error, now;
                bool fired = false;
                bool ok = save_moved(model, route, call, nth, EINTR, fired, error, now);
                SCOPED_TRACE(std::string(call) + " call " + std::to_string(nth));
                EXPECT_TRUE(ok) << error;
                EXPECT_EQ(now, moved);
                if (!fired)
                    break;
            }
}

// Each call of a read failed in turn: the model, or a message that says why;
// interrupted reads are made again, and short ones finished. A file that
// cannot be mapped is read.
TEST_F(Faults, AReadThatFailsSaysWhyAndAnInterruptedOneGoesOn)
{
    put(path, model);
    std::set<std::string> reached;
    for (acfile::ReadMode mode : {acfile::READ_COPY, acfile::READ_MAP}) {
        for (const char *call : {"open", "fstat", "read", "mmap", "close"}) {
            for (int error : {EIO, EINTR, SHORT, SHORT_THEN_EIO}) {
                if (error < 0 && std::strcmp(call, "read") != 0)
                    continue;
                for (int nth = 1; nth < 10; nth++) {
                    Loaded l;
                    arm(call, nth, error);
                    l.ok = acfile::read_ac_file(path, l.model, l.source, l.error, mode);
                    bool fired = disarm();
                    if (fired)
                        reached.insert(call);
                    SCOPED_TRACE(std::string(call) + " call " + std::to_string(nth) + " " +
                                 std::to_string(error));
                    // (a regular file's open or fstat is never interrupted,
                    // so nothing makes those again)
                    bool may_fail = !std::strcmp(call, "open") || !std::strcmp(call, "fstat") ||
                                    ((error == EIO || error == SHORT_THEN_EIO) && !std::strcmp(call, "read"));
                    if (!l.ok) {
                        EXPECT_TRUE(may_fail) << l.error;
                        EXPECT_EQ(l.error, path + ": cannot " +
                                               (std::strcmp(call, "open") ? "read: " : "open: ") +
                                               std::strerror(error < 0 ? EIO : error));
                    } else {
                        EXPECT_EQ(save(l), model);
                        EXPECT_EQ(l.model.objects[1]->vertices[2].z, 1.0f);
                    }
                    if (!fired)
                        break;
                }
            }
        }
    }
    EXPECT_EQ(reached, (std::set<std::string>{"open", "fstat", "read", "mmap", "close"}))
        << "a call no read reached";
}

// Standard input that a signal interrupts, or that fails.
TEST_F(Faults, AStreamThatIsInterruptedGoesOnAndOneThatFailsSaysWhy)
{
    for (int error : {EINTR, EIO}) {
        int pipe_ends[2];
        ASSERT_EQ(pipe(pipe_ends), 0);
        ASSERT_EQ(::write(pipe_ends[1], model.data(), model.size()), ssize_t(model.size()));
        ::close(pipe_ends[1]);
        int saved = dup(STDIN_FILENO);
        dup2(pipe_ends[0], STDIN_FILENO);
        ::close(pipe_ends[0]);
        Loaded l;
        arm("read", 1, error);
        l.ok = acfile::read_ac_file("-", l.model, l.source, l.error);
        EXPECT_TRUE(disarm());
        dup2(saved, STDIN_FILENO);
        ::close(saved);
        if (error == EINTR) {
            ASSERT_TRUE(l.ok) << l.error;
            EXPECT_EQ(save(l), model);
        } else {
            EXPECT_FALSE(l.ok);
            EXPECT_EQ(l.error, std::string("standard input: cannot read: ") + std::strerror(EIO));
        }
    }
}
