// Noticing that another program changed a file while this one used it: what
// the file was when it was read (its identity, size and times), compared with
// what it is when the model is written back.
#ifndef CORRUGO_ACFILE_STAMP_H
#define CORRUGO_ACFILE_STAMP_H

#include <cstddef>
#include <string>

#include <sys/stat.h>

namespace acfile {

struct AcSource;

// A file's device, inode, size and times of change, to the nanosecond. A
// program that writes the file changes its change time (ctime), which no
// program can set back; one that replaces it changes its inode.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {}, changed = {};
};

FileStamp stamp_of(const struct stat &st);
bool same_stamp(const FileStamp &a, const FileStamp &b);

// "NAME: changed by another program while corrugo-host ran; nothing was
// written": the one message for a file read that changed before its model
// was written. When "written" bytes of it had gone to the stream "stream"
// (standard output), which cannot be taken back, it says so instead: "...;
// standard output: 4096 bytes were written before this was noticed; the
// model written is incomplete".
// Its parts, for a signal handler, which cannot build a text: the name, then
// CHANGED_WHILE_RUNNING, then NOTHING_WRITTEN or the stream, ": ", the count
// and WRITTEN_INCOMPLETE.
// (Each file has its own copy: a program may hold the format twice, in
// itself and in a library it loads.)
static const char CHANGED_WHILE_RUNNING[] = ": changed by another program while corrugo-host ran; ";
static const char NOTHING_WRITTEN[] = "nothing was written";
static const char WRITTEN_INCOMPLETE[] =
    " bytes were written before this was noticed; the model written is incomplete";
std::string changed_message(const std::string &name, const std::string &stream = "",
                            size_t written = 0);

// The name of the file "source" was read from, for messages: its path, or
// "standard input".
std::string source_name(const AcSource &source);

// Whether the file "source" was read from is still as it was read: the open
// file "fd", or the mapped file's (what is written is then copied from it),
// and the file its name now gives when "target" (a path to be written, or
// null) is that same place (a save would replace another program's change).
// SOURCE_UNCHANGED, SOURCE_CHANGED, or the errno of a check that failed.
const int SOURCE_UNCHANGED = 0, SOURCE_CHANGED = -1;
int check_source(const AcSource &source, const std::string *target, int fd = -1);

// Takes "path" as the place of the file "source" was read from through a
// descriptor (standard input redirected from that file): a save there is
// checked as a save back to a named model is. Nothing for a named model.
void place_source(AcSource &source, const std::string &path);

// Takes "path" as the place "source" was last saved to, and what is there now
// as what later checks of that place compare with.
void restamp_source(AcSource &source, const std::string &path);

} // namespace acfile

#endif
