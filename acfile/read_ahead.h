// Reading a large text on two threads: the second reads ahead from an OBJECT
// line in the second half of the text while the first reads from the start.
// read_ahead.cpp says how, and the rules its code keeps.
#ifndef CORRUGO_ACFILE_READ_AHEAD_H
#define CORRUGO_ACFILE_READ_AHEAD_H

#include "acfile/reader.h"

#include <cstddef>
#include <memory>
#include <string>

namespace acfile {

struct ReadAhead;

// Ends a reading ahead: tells the second thread to stop, waits for it, frees
// what it read and did not hand over.
struct ReadAheadEnd {
    void operator()(ReadAhead *ahead) const;
};
using ReadAheadPtr = std::unique_ptr<ReadAhead, ReadAheadEnd>;

// Texts shorter than this are read on one thread: a second would save less
// than it costs to start.
const size_t AHEAD_MINIMUM = size_t(1) << 20;

// The line where a second thread starts reading ahead in "text": the first
// OBJECT line from its middle on, or null.
const char *ahead_start(const char *text, const char *end);

// Starts a second thread reading the objects of the text "begin" to "end"
// from its OBJECT line "start" on ("file" names it in messages, "mapped" is
// its mapped file or null). Null when no thread can be had: the first then
// reads it all.
ReadAheadPtr start_read_ahead(const std::string &file, const char *begin, const char *start,
                              const char *end, const MappedFile *mapped);

// The line the second thread started on.
const char *ahead_start_line(const ReadAhead &ahead);

// Called by the first thread at the line "at" (with "lines" lines before it),
// at or past the line the second started on: when "at" is that line, at the
// start of an object of the tree "t", waits for the second thread and takes
// over what it read, so that "r" goes on where it stopped (or fails as one
// thread would have); otherwise lets it go, and "r" reads on by itself.
void take_over(Reader &r, TreeState &t, ReadAhead &ahead, const char *at, size_t lines);

} // namespace acfile

#endif
