// The model an AC3D file is read into: objects in a tree under a world object,
// their vertices and surfaces.
//
// Vertices are stored in world coordinates, which is what a plug-in sees and
// changes. Storage never moves once an object is built: the host hands out
// pointers to vertices, surfaces and objects.
#ifndef CORRUGO_ACFILE_MODEL_H
#define CORRUGO_ACFILE_MODEL_H

#include "host/host.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace acfile {

struct Object;

// A vertex record: the position first, as the host interface requires, then
// the owning object (so object_of_vertex costs nothing).
struct Vertex {
    float x, y, z;
    Object *owner;
};
static_assert(offsetof(Vertex, x) == offsetof(HostVertex, x) &&
                  offsetof(Vertex, y) == offsetof(HostVertex, y) &&
                  offsetof(Vertex, z) == offsetof(HostVertex, z),
              "a vertex must start with a host vertex record");

// A surface: a run of vertex indices in its object's `refs`.
struct Surface {
    Object *owner;
    uint32_t first_ref;
    uint32_t ref_count;
};

struct Object {
    std::string name; // without quotes; empty when the object has none
    Object *parent = nullptr;
    bool subdivided = false;
    std::vector<Vertex> vertices;
    std::vector<uint32_t> refs; // the vertex indices of all surfaces, in order
    std::vector<Surface> surfaces;
    std::vector<Object *> children; // owned by the model
};

struct Model {
    std::vector<std::unique_ptr<Object>> objects; // every object, world first
    Object *world = nullptr;

    Model();
    Model(Model &&) = default;
    Model &operator=(Model &&) = default;

    // A new object under "parent" (the world when null).
    Object *add_object(Object *parent, std::string name);
};

// Calls "visit" on "object" and its descendants, depth-first, parents first.
// Iterative, so that however deep a file nests its objects the stack holds.
template <class F> void walk_objects(Object *object, F &&visit)
{
    std::vector<Object *> pending = {object};
    while (!pending.empty()) {
        Object *o = pending.back();
        pending.pop_back();
        visit(o);
        pending.insert(pending.end(), o->children.rbegin(), o->children.rend());
    }
}

size_t count_vertices(const Model &model);

} // namespace acfile

#endif
