// The substitute host: the host functions a plug-in calls, over one model and
// one real Tcl interpreter, and what an embedding program (a test, the
// command-line host, the viewer) uses to drive and observe them.
//
// Like the modeller it stands in for, it has one of everything per process
// and runs on one thread.
#ifndef CORRUGO_SIM_HOST_H
#define CORRUGO_SIM_HOST_H

#include "acfile/model.h"
#include "sim/selection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Tcl_Interp;

namespace sim {

// {====== Interpreter, model and sinks ======

// The host's Tcl interpreter, created on first use with the host's own
// command "ac3d".
Tcl_Interp *interp();

// The model the host functions work on.
acfile::Model &model();

// Makes "next" the model; the undo steps of the previous one are dropped and
// nothing is selected, in objects mode.
void replace_model(acfile::Model &&next);

// What is selected in the model: what the selection functions hand out.
Selection &selection();

using TextSink = std::function<void(const std::string &)>;

// Where windows_message_dialog's messages go (default: a line on standard
// error).
void set_message_sink(TextSink sink);

// Where debugf's text goes; an empty sink (the default) discards it without
// formatting anything.
void set_debug_sink(TextSink sink);

// Called after the host counts a redraw_all or a display_status.
void set_refresh_hook(std::function<void()> hook);

// Pins the tick count that GetTickCount reports, or lets the clock run again.
void pin_tick(uint32_t tick);
void unpin_tick();

// }======

// {====== What a plug-in did ======

struct MenuItem {
    std::string label, command, help;
};
const std::vector<MenuItem> &menu_items();

struct Registration {
    std::string name, argument_form, help, description;
    int count;
};
const std::vector<Registration> &registered_commands();

struct Box {
    float min[3], max[3];
    bool empty = true;
};

// The bounding box of every vertex of "model", as the host finds it.
Box bounding_box(const acfile::Model &model);

struct Observations {
    int bounding_boxes = 0;
    int redraws = 0;
    int status_updates = 0;
    int subdivision_rebuilds = 0; // runs of "ac3d remake_subdivisions"
    Box box;                      // as of the last find_bounding_box
    std::string status;           // as of the last display_status
    // The refreshes in the order they came: "find_bounding_box", "redraw_all",
    // "display_status" and "remake_subdivisions".
    std::vector<std::string> refreshes;
    // Requests for objects' host-owned lists: what a walk over objects costs.
    size_t vertex_list_requests = 0;
    size_t children_list_requests = 0;
};
Observations &observations();

// The list nodes the host has handed out and not taken back: those of the
// selection lists a plug-in has not freed yet and those the undo steps keep.
size_t live_list_nodes();

// }======

// {====== Undo ======

size_t undo_depth();
const std::string &undo_label(size_t index); // 0 is the oldest step

// Restores the positions of the newest undo step and drops it; false when
// there is none.
bool undo();

// }======

// {====== Loading a plug-in ======

struct Plugin {
    void *handle = nullptr;
    int32_t (*init)(HostPluginInit *) = nullptr;
    int32_t (*exit)(void) = nullptr;
    const char *(*about)(void) = nullptr;
    const char *(*info)(void) = nullptr;
    std::string directory;
};

// Loads the plug-in file at "path" as the modeller does: by file, its four
// entry points found by name, then initialised with its folder in the
// record. False with "error" set when the file or an entry point is missing.
bool load_plugin(const std::string &path, Plugin &plugin, std::string &error);

// }======

} // namespace sim

// The tick count the plug-in asks its loading program for.
extern "C" uint32_t GetTickCount(void);

#endif
