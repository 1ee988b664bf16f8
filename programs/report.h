// --report: how many vertices a run moved, and the bounding box before and
// after, from snapshots of the model taken around the commands.
#ifndef CORRUGO_PROGRAMS_REPORT_H
#define CORRUGO_PROGRAMS_REPORT_H

#include "acfile/model.h"
#include "sim/host.h"

#include <cstdio>
#include <vector>

namespace programs {

struct Snapshot {
    std::vector<float> positions;
    sim::Box box;
};

// Every vertex position, and the bounding box as the host finds it.
Snapshot snapshot(const acfile::Model &model);

// Prints to "out" the vertices, how many moved between the snapshots (a
// vertex whose bits changed), and both bounding boxes.
void report(FILE *out, const Snapshot &before, const Snapshot &after);

} // namespace programs

#endif
