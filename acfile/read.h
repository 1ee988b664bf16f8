// What reading a file needs of reading its text.
#ifndef CORRUGO_ACFILE_READ_H
#define CORRUGO_ACFILE_READ_H

#include "acfile/acfile.h"
#include "acfile/lines.h"

#include <string>

namespace acfile {

// Whether the text from "p" starts with the AC3D header line, after an
// optional UTF-8 byte-order mark; "line" is set to that first line.
bool has_header(const char *p, const char *end, Line &line);

// Reads the bytes "s" holds into "model" and "source", which are replaced
// only on success; a large text on two threads when "threads" is 2 or more.
bool read_source(AcSource &s, const std::string &file, Model &model, AcSource &source,
                 std::string &error, int threads);

// Reads as read_source does on two threads, the second reading ahead from
// the line that starts at offset "split" of the text, whatever the text's
// size, and whatever that line holds: for tests, which compare what comes of
// it with a reading on one thread.
bool read_source_split(AcSource &s, const std::string &file, Model &model, AcSource &source,
                       std::string &error, size_t split);

} // namespace acfile

#endif
