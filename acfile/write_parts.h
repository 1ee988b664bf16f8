// Making the parts of a text on two threads and handing them on in order:
// the writer's pipeline. write_parts.cpp says how, and its rules.
#ifndef CORRUGO_ACFILE_WRITE_PARTS_H
#define CORRUGO_ACFILE_WRITE_PARTS_H

#include <cstddef>
#include <functional>
#include <vector>

namespace acfile {

// The pieces of one part: short ones gathered in "buffer", long ones where
// they are in the source's bytes, which stay put until the writing ends.
struct Part {
    struct Piece {
        const char *bytes; /* null: in the buffer, from "at" */
        size_t at, size;
    };
    std::vector<char> buffer;
    std::vector<Piece> pieces;
    const char *from = nullptr, *to = nullptr; /* the source's bytes it covers */
};

// Makes each of the "parts" pieces of work with "make" (which fills the
// part it is given, afresh), on "threads" threads (one or two), and hands each to "take"
// in order, on the calling thread; "take" returns false to stop. A part that
// runs out of memory stops the making, and std::bad_alloc is thrown here once
// the second thread has stopped.
void make_in_order(size_t parts, int threads, const std::function<void(size_t, Part &)> &make,
                   const std::function<bool(const Part &)> &take);

} // namespace acfile

#endif
