// The viewer (not built yet).
#include "sim/viewer.h"

#include <cstdio>

namespace sim {

int run_viewer(const ViewerOptions &)
{
    std::fprintf(stderr, "corrugo-host: the viewer is not built yet\n");
    return 2;
}

} // namespace sim
