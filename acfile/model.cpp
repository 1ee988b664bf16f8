// The model an AC3D file is read into.
#include "acfile/model.h"

namespace acfile {

Model::Model()
{
    objects.push_back(std::make_unique<Object>());
    world = objects.back().get();
    world->name = "world";
}

Object *Model::add_object(Object *parent, std::string name)
{
    if (!parent)
        parent = world;
    objects.push_back(std::make_unique<Object>());
    Object *object = objects.back().get();
    object->name = std::move(name);
    object->parent = parent;
    parent->children.push_back(object);
    return object;
}

size_t count_vertices(const Model &model)
{
    size_t n = 0;
    for (const auto &object : model.objects)
        n += object->vertices.size();
    return n;
}

} // namespace acfile
