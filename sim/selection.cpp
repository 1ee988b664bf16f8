// The substitute host's selection rules.
#include "sim/selection.h"

#include <algorithm>

using namespace acfile;

namespace sim {

static bool named(const Object *object, const std::vector<std::string> &names)
{
    return std::find(names.begin(), names.end(), object->name) != names.end();
}

// The objects whose surfaces or vertices are in scope, depth-first in file
// order; with names, the named objects and their descendants, each once. An
// object is in scope when it or an ancestor is named, so the flag is handed
// down the walk rather than looked up the ancestry of every object.
static std::vector<Object *> objects_in_scope(Model &model, const std::vector<std::string> &names)
{
    std::vector<Object *> scope;
    std::vector<std::pair<Object *, bool>> pending;
    for (auto c = model.world->children.rbegin(); c != model.world->children.rend(); ++c)
        pending.push_back({*c, names.empty()});
    while (!pending.empty()) {
        auto [object, in] = pending.back();
        pending.pop_back();
        in = in || named(object, names);
        if (in)
            scope.push_back(object);
        for (auto c = object->children.rbegin(); c != object->children.rend(); ++c)
            pending.push_back({*c, in});
    }
    return scope;
}

static const SelectModeName SELECT_MODE_NAMES[] = {
    {"objects", SELECT_OBJECTS}, {"surfaces", SELECT_SURFACES}, {"vertices", SELECT_VERTICES},
    {nullptr, 0}};

const SelectModeName *select_mode_names() { return SELECT_MODE_NAMES; }

int select_mode_named(const std::string &name)
{
    for (const SelectModeName *m = SELECT_MODE_NAMES; m->name; m++)
        if (name == m->name)
            return m->mode;
    return 0;
}

const char *select_mode_name(int mode)
{
    for (const SelectModeName *m = SELECT_MODE_NAMES; m->name; m++)
        if (mode == m->mode)
            return m->name;
    return SELECT_MODE_NAMES[0].name; /* the host takes any other value for objects */
}

bool check_names(const Model &model, const std::vector<std::string> &names, std::string &error)
{
    for (const std::string &name : names) {
        auto is_named = [&](const auto &object) { return object.get() != model.world && object->name == name; };
        if (std::none_of(model.objects.begin(), model.objects.end(), is_named)) {
            error = "no object named \"" + name + "\"";
            return false;
        }
    }
    return true;
}

void select_none(Selection &selection)
{
    selection.objects.clear();
    selection.surfaces.clear();
    selection.vertices.clear();
}

void select_all(Model &model, Selection &sel, int mode, const std::vector<std::string> &names)
{
    select_none(sel);
    sel.mode = mode;
    if (mode == SELECT_SURFACES) {
        for (Object *object : objects_in_scope(model, names))
            for (Surface &surface : object->surfaces)
                sel.surfaces.push_back(&surface);
    } else if (mode == SELECT_VERTICES) {
        for (Object *object : objects_in_scope(model, names))
            for (Vertex &vertex : object->vertices)
                sel.vertices.push_back(&vertex);
    } else if (names.empty()) {
        sel.objects = model.world->children;
    } else {
        for (Object *root : model.world->children)
            walk_objects(root, [&](Object *object) {
                if (named(object, names))
                    sel.objects.push_back(object);
            });
    }
}

} // namespace sim
