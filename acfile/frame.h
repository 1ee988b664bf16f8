// An object's frame: the transform from its own coordinates, as its file
// gives them, to the world's, composed from the rot and loc of the object and
// those above it.
#ifndef CORRUGO_ACFILE_FRAME_H
#define CORRUGO_ACFILE_FRAME_H

#include "acfile/acfile.h"

#include <cstdint>

namespace acfile {

// Adds the frame of an object whose own transform is "rot" and "loc", under the
// frame "parent" (-1 for none); returns its index.
int32_t add_frame(AcSource &source, int32_t parent, const double rot[9], const double loc[3]);

// Local to world; without a linear part, coordinates with no translation are
// copied, so that they keep their exact bits (-0 included).
void to_world(const AcSource::Frame &f, const float local[3], float world[3]);

// to_world, and whether the place is within a float's range: no coordinate
// became infinite that was finite before (with a linear part, which mixes the
// axes, all three must have been).
bool to_world_within_range(const AcSource::Frame &f, const float local[3], float world[3]);

// World to local, through the frame's inverse (which must exist when it is
// linear); copies as to_world does.
void to_local(const AcSource::Frame &f, const float world[3], float local[3]);

} // namespace acfile

#endif
