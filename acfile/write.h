// What tests need of writing, beyond acfile.h.
#ifndef CORRUGO_ACFILE_WRITE_H
#define CORRUGO_ACFILE_WRITE_H

#include "acfile/acfile.h"

#include <string>

namespace acfile {

// Writes as write_ac does, in parts of the vertex lines of objects holding
// about "part_vertices" vertices together (rather than tens of thousands),
// on "threads" threads: for tests, which compare what comes of it with a
// writing on one thread.
void write_ac_in_parts(const Model &model, const AcSource &source, std::string &out,
                       int threads, size_t part_vertices);

} // namespace acfile

#endif
