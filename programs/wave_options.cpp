// corrugo-host's named wave options and the command they build.
#include "programs/wave_options.h"

#include <tcl.h>

#include <cstring>

namespace programs {

// The value of "own" when given, else that of "shared" when given, else
// "fallback": a wave's own option overrides the one for both waves.
static std::string either(const WaveOptions &o, int own, int shared, const char *fallback)
{
    return o.given[own] ? o.value[own] : o.given[shared] ? o.value[shared] : fallback;
}

bool wave_command(const WaveOptions &o, std::string &command, std::string &error)
{
    typedef WaveOptions W;
    if (!o.given[W::ALONG])
        error = "the wave options need --along AXIS, the axis the wave runs along";
    else if (!o.given[W::SINE] && !o.given[W::COSINE])
        error = "a wave needs --sine AXIS or --cosine AXIS (or both): the axes it moves";
    else if (o.given[W::CYCLES] && o.given[W::PER_UNIT])
        error = "--cycles and --per-unit cannot be given together";
    else if (!o.given[W::CYCLES] && !o.given[W::PER_UNIT])
        error = "a wave needs --cycles N (over the selection) or --per-unit N (per model unit)";
    /* replacing positions by a wave of no amplitude puts every selected
       vertex on one plane: never unasked */
    for (int wave : {W::SINE, W::COSINE}) {
        const int own = wave == W::SINE ? W::SINE_AMPLITUDE : W::COSINE_AMPLITUDE;
        const std::string &axis = o.value[wave];
        if (error.empty() && !o.add && o.given[wave] && !axis.empty() && std::strchr("xyz", axis[0]) && !o.given[own] &&
            !o.given[W::AMPLITUDE])
            error = std::string(wave == W::SINE ? "--sine " : "--cosine ") + axis +
                    " without an amplitude would put every selected vertex on one plane: give "
                    "--amplitude A, or --add to add the wave to the positions";
    }
    if (!error.empty())
        return false;
    const bool per_unit = o.given[W::PER_UNIT];
    const std::string words[13] = {
        "qorvel_go",
        o.value[W::ALONG],
        o.given[W::SINE] ? o.value[W::SINE] : "n",
        o.given[W::COSINE] ? o.value[W::COSINE] : "n",
        o.value[per_unit ? W::PER_UNIT : W::CYCLES],
        either(o, W::SINE_AMPLITUDE, W::AMPLITUDE, "0"),
        either(o, W::COSINE_AMPLITUDE, W::AMPLITUDE, "0"),
        either(o, W::SINE_DECAY, W::DECAY, "0"),
        either(o, W::COSINE_DECAY, W::DECAY, "0"),
        either(o, W::SINE_OFFSET, W::OFFSET, "0"),
        either(o, W::COSINE_OFFSET, W::OFFSET, "0"),
        o.add ? "1" : "0",
        per_unit ? "1" : "0",
    };
    // Quoted as Tcl quotes a list, so that any text reaches the command as
    // one word, and the line can be pasted into a Tcl console.
    const char *argv[13];
    for (int i = 0; i < 13; i++)
        argv[i] = words[i].c_str();
    char *merged = Tcl_Merge(13, argv);
    command = merged;
    Tcl_Free(merged);
    return true;
}

} // namespace programs
