// The viewer: a small Tk main window over the substitute host, so that the
// plug-in and its dialog can be used (and tested) as in the modeller.
#ifndef CORRUGO_PROGRAMS_VIEWER_H
#define CORRUGO_PROGRAMS_VIEWER_H

#include "host/host.h"

#include <string>
#include <vector>

namespace programs {

struct ViewerOptions {
    std::string model;                 // the model to open first; may be empty
    std::string plugin;                // the plug-in file to load
    int mode = SELECT_OBJECTS;         // the first selection mode
    std::vector<std::string> names;    // limits the first selection, as --in does
    std::vector<std::string> commands; // Tcl to run once the window is up
};

// Runs the viewer until its window closes; returns the exit status.
int run_viewer(const ViewerOptions &options);

} // namespace programs

#endif
