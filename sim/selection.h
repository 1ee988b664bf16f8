// The substitute host's selection rules: what selecting everything selects in
// each mode, and how naming objects (corrugo-host's --in) narrows it.
#ifndef CORRUGO_SIM_SELECTION_H
#define CORRUGO_SIM_SELECTION_H

#include "acfile/model.h"

#include <string>
#include <vector>

namespace sim {

// Sets the selection to everything of "mode" (1 objects, 2 surfaces, 3
// vertices) in file order, limited to the objects named in "names" when it is
// not empty:
// - objects: the world's children, or every object whose name is given;
// - surfaces and vertices: those of every object in scope, objects depth-first,
//   the scope being the named objects and their descendants.
void select_all(Model &model, int mode, const std::vector<std::string> &names = {});
void select_none(Model &model);

} // namespace sim

#endif
