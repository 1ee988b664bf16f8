// --report: the vertices moved and the bounding boxes.
#include "programs/report.h"

#include <cstring>

namespace programs {

Snapshot snapshot(const acfile::Model &model)
{
    Snapshot s;
    for (const auto &object : model.objects)
        for (const acfile::Vertex &v : object->vertices)
            s.positions.insert(s.positions.end(), {v.x, v.y, v.z});
    s.box = sim::bounding_box(model);
    return s;
}

static void print_box(FILE *out, const char *label, const sim::Box &box)
{
    if (box.empty)
        std::fprintf(out, "%s: empty\n", label);
    else
        std::fprintf(out, "%s: (%g, %g, %g) to (%g, %g, %g)\n", label, box.min[0], box.min[1],
                     box.min[2], box.max[0], box.max[1], box.max[2]);
}

void report(FILE *out, const Snapshot &before, const Snapshot &after)
{
    size_t moved = 0;
    for (size_t i = 0; i + 2 < before.positions.size(); i += 3)
        moved += std::memcmp(&before.positions[i], &after.positions[i], 3 * sizeof(float)) != 0;
    std::fprintf(out, "vertices: %zu, moved: %zu\n", before.positions.size() / 3, moved);
    print_box(out, "bounding box before", before.box);
    print_box(out, "bounding box after ", after.box);
}

} // namespace programs
