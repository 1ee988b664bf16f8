// A file mapped into memory, for reading a large file without copying it.
#ifndef CORRUGO_ACFILE_MAPPED_FILE_H
#define CORRUGO_ACFILE_MAPPED_FILE_H

#include <cstddef>
#include <string>

namespace acfile {

// A file mapped into memory, read-only, with a zero byte after its end (as a
// std::string has); unmapped when destroyed.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(MappedFile &&other) noexcept;
    MappedFile &operator=(MappedFile &&other) noexcept;
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    ~MappedFile();

    // Maps the first "size" bytes of the open file "fd" (size above 0) and
    // takes over "fd" (so that a lock held through it lasts as long as the
    // mapping); false with errno set on failure, leaving both unchanged. A
    // page that cannot be read once mapped (the file was cut short since, or
    // the disk fails) ends the process with status 2 and the message
    // changed_message("name") (stamp.h), after removing the temporary file of
    // a save under way: the process could not go on reading it.
    bool map(int fd, size_t size, const std::string &name);
    const char *data() const { return static_cast<const char *>(base_); }
    size_t size() const { return size_; }
    // The whole mapping: longer than the file, so that the byte after it
    // reads as zero.
    size_t length() const { return length_; }
    // Gives back the memory of the whole pages from "from" to "to" (in the
    // file): they read the same as before, from the file again, when next
    // read. Returns where the pages given back end.
    const char *release(const char *from, const char *to) const;
    // The file, open for reading, so that its bytes can be copied into
    // another file without passing through this process's memory.
    int file() const { return file_; }

private:
    void *base_ = nullptr;
    size_t size_ = 0;
    size_t length_ = 0; // of the whole mapping
    int file_ = -1;
};

// A stream the model goes out to as it is written (standard output), which
// cannot be taken back: a page that cannot be read then says how much went
// out. "name" names it in the message (a constant text); "written" counts
// its bytes and is kept up to date by the writer. Null: none under way.
void watch_stream(const char *name, const volatile size_t *written);

} // namespace acfile

#endif
