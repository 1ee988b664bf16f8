// Files mapped into memory, read-only, with a zero byte after their end.
#include "acfile/mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sim {

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
    if (base_)
        munmap(base_, length_);
    if (file_ >= 0)
        close(file_);
}

// The file goes over the start of a zeroed reservation at least one byte
// longer, so that the byte after its end reads as zero even when the file
// fills its last page (the rest of a page the file ends in reads as zero too).
// Its pages are mapped as they are read, so that those the reading has passed
// can be given back (release).
bool MappedFile::map(int fd, size_t size)
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
    MappedFile mapped;
    mapped.file_ = fcntl(fd, F_DUPFD_CLOEXEC, 0); /* -1 will do: see file() */
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

void MappedFile::map_pages(const char *from, const char *to) const
{
    const char *base = data();
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t first = size_t(from - base) / page * page;
    size_t last = std::min(size_t(to - base), size_);
    /* a read per page maps it, and the pages around it with it (which
       MADV_POPULATE_READ, measured, does at half the speed) */
    for (size_t at = first; at < last; at += page)
        static_cast<const volatile char *>(base)[at];
}

} // namespace sim
