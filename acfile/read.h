// What reading a file needs of reading its text.
#ifndef CORRUGO_ACFILE_READ_H
#define CORRUGO_ACFILE_READ_H

#include "acfile/acfile.h"
#include "acfile/lines.h"

#include <string>

namespace sim {

// Whether the text from "p" starts with the AC3D header line, after an
// optional UTF-8 byte-order mark; "line" is set to that first line.
bool has_header(const char *p, const char *end, Line &line);

// Reads the bytes "s" holds into "model" and "source", which are replaced
// only on success.
bool read_source(AcSource &s, const std::string &file, Model &model, AcSource &source,
                 std::string &error);

} // namespace sim

#endif
