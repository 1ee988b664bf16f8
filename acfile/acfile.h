// AC3D text model files (".ac"): reading them into a Model (model.h), and
// writing the model back without loss. Nothing here needs the substitute
// host: a program that only reads and writes files links this alone.
//
// Writing gives back the bytes that were read, except the lines of vertices
// whose world position changed since; those are written again in their
// object's own frame. So a file always keeps what this reader does not
// interpret (materials, textures, data, unknown tokens, spacing, line ends).
//
// Decisions about what the format leaves open:
// - The header is "AC3D" and one letter or digit ("AC3Db", "AC3Dc"), alone on
//   the first line, after an optional UTF-8 byte-order mark.
// - Lines end at "\n"; "\r" counts as a space, so CRLF files read the same.
//   Blank lines are allowed anywhere between statements and are kept.
// - A name is the text between the first and the last double quote of its
//   line, taken as it is (no backslash escapes), or the rest of the line when
//   it is not quoted.
// - Vertex lines may hold more fields after the three numbers (some writers
//   add normals); they are kept, not read. Coordinates may be NaN or infinite
//   ("nan", "inf"): they are kept as data. A finite number too large for a
//   float is an error; one too small becomes a subnormal or zero.
// - rot and loc must be finite. Vertices are stored in world coordinates:
//   p_world = M_parent(R p + loc), R's columns being rot's numbers 0-2, 3-5
//   and 6-8. The transform is composed per object in double; objects with no
//   rot or loc up their tree (or an identity rot and a zero loc) keep the
//   file's floats exactly.
// - A negative count is an error. A count (numvert, numsurf, refs, kids)
//   larger than the rest of the file could hold at the items' smallest
//   ("0 0 0" per vertex line) reserves no more than that, and the reading fails
//   where the lines run out or stop fitting the block; a data count past the
//   end of the file fails at once.
// - "OBJECT world" as the first root object is the model's world. It must then
//   be the only root: anything after it is an error (it would mean a kids
//   count that is too small). Without it, every root object becomes a child of
//   the model's own world, which is not written back.
#ifndef CORRUGO_ACFILE_ACFILE_H
#define CORRUGO_ACFILE_ACFILE_H

#include "acfile/mapped_file.h"
#include "acfile/model.h"
#include "acfile/stamp.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace acfile {

// What the writer needs, besides the model, to give the file back byte for
// byte: the file's bytes and, for every object with vertices, where its vertex
// lines are, its object-to-world transform and its world positions as read.
struct AcSource {
    // An object-to-world transform: world = m * local + t.
    struct Frame {
        double m[3][3];
        double t[3];
        double inverse[3][3]; // of m, when "invertible"
        bool linear;          // m is not the identity
        bool invertible;
    };
    struct ObjectRecord {
        uint32_t model_index; // the object in Model::objects
        int32_t frame;        // its transform in "frames"; -1 for none
        size_t vertex_text;   // offset of the text after its numvert line
        size_t first_vertex;  // its first vertex in "positions"
        size_t vertex_count;
    };
    struct Position {
        float x, y, z;
    };

    std::string text;                  // the file's bytes, unless mapped
    MappedFile mapped;                 // the file itself, when read with READ_MAP
    std::vector<ObjectRecord> objects; // objects with vertices, in file order
    std::vector<Frame> frames;
    std::vector<Position> positions; // world positions as read
    // The regular file read, for noticing that another program changed it
    // before the model is written (stamp.h): its path as given (or as last
    // saved to; empty for standard input redirected from a file, whose place
    // is not known), what the file read was when read, and what the path
    // named when read or last saved. Not "stamped" for a pipe, a device or a
    // text.
    std::string file;
    bool stamped = false;
    FileStamp stamp, named;

    std::string_view bytes() const
    {
        return mapped.data() ? std::string_view(mapped.data(), mapped.size())
                             : std::string_view(text);
    }
};

// How read_ac_file holds the file's bytes. READ_COPY reads them into memory.
// READ_MAP maps the file instead, which spares copying it: for a run that
// reads, changes and writes a model and ends. What is written is then copied
// from the file, so another program's change to it before the writing ends is
// refused rather than written ("changed by another program", stamp.h): the
// reading holds a shared lock on the file that cooperating programs respect
// (a save in place waits for it), checks the file's stamp when it ends and
// again when writing ends, and a mapped page that can no longer be read (the
// file cut short) ends the process with that message and status 2.
enum ReadMode { READ_COPY, READ_MAP };

// Reads "text" (the whole file's bytes) into "model" and "source", which are
// replaced only on success; "file" names the file in messages, which look like
// `model.ac:12: expected 3 numbers for a vertex, found "1.0 abc 2.0"`.
// "threads" above 1 lets a large text be read on two threads; what comes of
// it, model, source or message, is the same.
bool read_ac(std::string text, const std::string &file, Model &model, AcSource &source,
             std::string &error, int threads = 1);
// "path" - reads standard input, named "standard input" in messages; when
// that is a regular file, it is read, locked and watched as a named one is.
// A file that is no regular file (a pipe, a device) is read as a stream: only
// as far as its first line when that is no AC3D header, and at most 1 GiB.
bool read_ac_file(const std::string &path, Model &model, AcSource &source, std::string &error,
                  ReadMode mode = READ_COPY, int threads = 1);

// Writes the model read with "source" back to "out": the source's bytes, with
// the lines of vertices whose world position bits changed written again in
// their object's frame, in the shortest form that reads back the same float.
// The model must have the objects and vertex counts it was read with; vertices
// beyond them, and moved vertices of an object whose transform cannot be
// inverted, are left as read (write_ac_file refuses those cases instead).
// "threads" above 1 lets the moved lines be written on two threads; what
// comes of it is the same.
void write_ac(const Model &model, const AcSource &source, std::string &out, int threads = 1);

// Writes as write_ac does to the open descriptor "fd" (standard output, say),
// as it goes: not atomic. "name" names it in the error, which says why.
bool write_ac_stream(int fd, const std::string &name, const Model &model, const AcSource &source,
                     std::string &error, int threads = 1);

// Writes as write_ac does to the file "path" names, replacing it whole or not
// at all, as save_file (save_file.h) does: links, owner, group, mode and
// extended attributes kept. Refused with changed_message (stamp.h) when the
// file read changed since (it is copied from), or when "path" is the place it
// was read from or last saved to and another program changed what is there
// since; after a save, "path" is that place.
bool write_ac_file(const std::string &path, const Model &model, AcSource &source,
                   std::string &error, int threads = 1);

} // namespace acfile

#endif
