// Placing an object's vertices in the world: each transformed by the rot and
// loc of its object and those above it (frame.h), and recorded in the source
// as the world positions the writer compares with.
#include "acfile/frame.h"
#include "acfile/reader.h"

#include <algorithm>

namespace acfile {

static bool is_identity(const double rot[9])
{
    static const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    return std::equal(rot, rot + 9, identity);
}
// The line of vertex "index" of the object "o" (for messages: it is found
// again by counting).
static Line vertex_line(const Reader &r, const ObjectState &o, size_t index)
{
    size_t number = o.numvert_line;
    const char *p = r.text + o.vertex_text;
    for (size_t i = 0;; i++) {
        p = skip_blank_lines(p, r.end, number);
        const char *e = line_end(p, r.end);
        number++;
        if (i == index)
            return {p, e, number};
        p = e < r.end ? e + 1 : e;
    }
}

// After check_refs: places the object's vertices in the world and records
// them. Returns the object's frame.
int32_t place_object(Reader &r, ObjectState &o)
{
    Object *object = o.object;
    int32_t frame = o.parent_frame;
    bool has_own = (o.has_rot && !is_identity(o.rot)) ||
                   (o.has_loc && (o.loc[0] != 0 || o.loc[1] != 0 || o.loc[2] != 0));
    if (has_own)
        frame = add_frame(r.source, o.parent_frame, o.rot, o.loc);
    if (object->vertices.empty())
        return frame;
    AcSource &s = r.source;
    s.objects.push_back({o.model_index, frame, o.vertex_text, s.positions.size(),
                         object->vertices.size()});
    if (s.positions.capacity() < s.positions.size() + object->vertices.size())
        s.positions.reserve(std::max(s.positions.size() + object->vertices.size(),
                                     2 * s.positions.capacity()));
    for (Vertex &v : object->vertices) {
        if (frame >= 0) {
            float local[3] = {v.x, v.y, v.z}, world[3];
            if (!to_world_within_range(s.frames[frame], local, world)) {
                Line line = vertex_line(r, o, size_t(&v - object->vertices.data()));
                fail(r, line.number,
                     "3 numbers for a vertex within a float's range once the rot and loc "
                     "of its object and those above it place it",
                     quote(line));
            }
            v.x = world[0], v.y = world[1], v.z = world[2];
        }
        s.positions.push_back({v.x, v.y, v.z});
    }
    return frame;
}

} // namespace acfile
