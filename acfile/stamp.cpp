// Noticing that another program changed a file while this one used it.
#include "acfile/stamp.h"

#include "acfile/acfile.h"
#include "acfile/save_file.h"

#include <cerrno>

#include <unistd.h>

namespace acfile {

FileStamp stamp_of(const struct stat &st)
{
    FileStamp stamp;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    stamp.changed = st.st_ctim;
    return stamp;
}

static bool same_time(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_stamp(const FileStamp &a, const FileStamp &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           same_time(a.modified, b.modified) && same_time(a.changed, b.changed);
}

std::string changed_message(const std::string &name, const std::string &stream, size_t written)
{
    std::string message = name + CHANGED_WHILE_RUNNING;
    if (written == 0)
        return message + NOTHING_WRITTEN;
    return message + stream + ": " + std::to_string(written) + WRITTEN_INCOMPLETE;
}

std::string source_name(const AcSource &source)
{
    return source.file.empty() ? "standard input" : source.file;
}

int check_source(const AcSource &source, const std::string *target, int fd)
{
    if (!source.stamped)
        return SOURCE_UNCHANGED; /* a stream, or a text: nothing to compare */
    struct stat st;
    if (fd < 0 && source.mapped.data())
        fd = source.mapped.file();
    if (fd >= 0) {
        if (fstat(fd, &st) != 0)
            return errno;
        if (!same_stamp(stamp_of(st), source.stamp))
            return SOURCE_CHANGED;
    }
    if (target && !source.file.empty() && same_file(*target, source.file)) {
        if (stat(source.file.c_str(), &st) != 0)
            return errno == ENOENT ? SOURCE_CHANGED : errno; /* moved away */
        if (!same_stamp(stamp_of(st), source.named))
            return SOURCE_CHANGED;
    }
    return SOURCE_UNCHANGED;
}

void place_source(AcSource &source, const std::string &path)
{
    if (!source.stamped || !source.file.empty())
        return; /* a stream, or named already */
    source.file = path;
    source.named = source.stamp; /* what the place held when read */
}

void restamp_source(AcSource &source, const std::string &path)
{
    struct stat st, read;
    if (!source.stamped || stat(path.c_str(), &st) != 0)
        return; /* nothing to compare with later */
    source.file = path;
    source.named = stamp_of(st);
    // A save by rename over the file mapped changed only its times (it lost
    // a name), not its bytes: what is written next may still be copied from
    // it. Saved in place, its bytes are no longer those read, and the stamp
    // kept refuses any later write from them.
    int fd = source.mapped.data() ? source.mapped.file() : -1;
    if (fd >= 0 && fstat(fd, &read) == 0 &&
        !(read.st_dev == st.st_dev && read.st_ino == st.st_ino))
        source.stamp = stamp_of(read);
}

} // namespace acfile
