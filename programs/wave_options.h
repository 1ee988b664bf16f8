// corrugo-host's named wave options: "--along x --sine y --cycles 5
// --amplitude 0.15" builds the plug-in's command "qorvel_go x y n 5 0.15 0.15
// 0 0 0 0 0 0". The texts go to the command unchanged, so that its own checks
// and messages apply; only which options go together is checked here.
#ifndef CORRUGO_PROGRAMS_WAVE_OPTIONS_H
#define CORRUGO_PROGRAMS_WAVE_OPTIONS_H

#include <string>

namespace programs {

struct WaveOptions {
    enum Slot {
        ALONG, SINE, COSINE, CYCLES, PER_UNIT, AMPLITUDE, SINE_AMPLITUDE, COSINE_AMPLITUDE,
        DECAY, SINE_DECAY, COSINE_DECAY, OFFSET, SINE_OFFSET, COSINE_OFFSET, SLOTS
    };
    std::string value[SLOTS];
    bool given[SLOTS] = {};
    bool add = false; // --add, which takes no value
    bool any = false; // some wave option was given
};

// The command the options build, as a Tcl command line, or false with
// "error" saying which option is missing or does not go with another.
bool wave_command(const WaveOptions &options, std::string &command, std::string &error);

} // namespace programs

#endif
