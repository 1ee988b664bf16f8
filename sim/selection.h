// The substitute host's selection rules: what selecting everything selects in
// each mode, and how naming objects (corrugo-host's --in) narrows it.
#ifndef CORRUGO_SIM_SELECTION_H
#define CORRUGO_SIM_SELECTION_H

#include "acfile/model.h"

#include <string>
#include <vector>

namespace sim {

// What the host has selected in a model: in its mode (HostSelectMode, in
// host/host.h), the objects, the surfaces or the vertices.
struct Selection {
    int mode = SELECT_OBJECTS;
    std::vector<acfile::Object *> objects;
    std::vector<acfile::Surface *> surfaces;
    std::vector<acfile::Vertex *> vertices;
};

// The modes' names, as corrugo-host's --select, its completion and the viewer
// say them: the one table of them.
struct SelectModeName {
    const char *name;
    int mode;
};
// The table, ended by a null name. (A function rather than a global, so that
// a program that loads this library twice, under another name too, does not
// hold two definitions of one table.)
const SelectModeName *select_mode_names();

// The mode named "name", or 0 for none; the name of "mode" (objects for any
// value the host counts as objects).
int select_mode_named(const std::string &name);
const char *select_mode_name(int mode);

// Sets "selection" to everything of "mode" in "model", in file order, limited
// to the objects named in "names" when it is not empty:
// - objects: the world's children, or every object whose name is given;
// - surfaces and vertices: those of every object in scope, objects depth-first,
//   the scope being the named objects and their descendants.
void select_all(acfile::Model &model, Selection &selection, int mode,
                const std::vector<std::string> &names = {});
void select_none(Selection &selection);

// Whether every name of "names" names an object of "model" (its world aside),
// as naming objects to select requires; else "error" says which does not:
// `no object named "NAME"`.
bool check_names(const acfile::Model &model, const std::vector<std::string> &names, std::string &error);

} // namespace sim

#endif
