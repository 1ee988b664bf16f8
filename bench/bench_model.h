// Models for the benchmarks, built straight into the substitute host: grids
// of vertices laid out as bench/make_model.py lays out the files.
#ifndef CORRUGO_BENCH_MODEL_H
#define CORRUGO_BENCH_MODEL_H

#include "sim/host.h"
#include "wave/wave.h"

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

// Makes the host's model a group under the world holding "objects" grid
// objects of "per_object" vertices each, with the group selected in object
// mode; debug output is discarded. Returns the grid objects.
std::vector<acfile::Object *> make_grouped_model(size_t objects, size_t per_object);

// Builds every object's host-owned vertex and child lists, as a host that
// keeps them all along would have them before any command runs.
void build_host_lists();

// Fills "params" from the twelve words of a qorvel_go command line.
bool parse_command(const std::string &words, WaveParams *params);

// Every vertex position of "vertices", in list order.
std::vector<float> positions_of(HostList *vertices);
void restore_positions(HostList *vertices, const std::vector<float> &positions);

} // namespace bench

#endif
