// corrugo-host's command line: its options in one table, which drives both
// the parsing and --help, what they fill in, and the program's messages and
// exit statuses.
#ifndef CORRUGO_PROGRAMS_OPTIONS_H
#define CORRUGO_PROGRAMS_OPTIONS_H

#include "programs/viewer.h"
#include "programs/wave_options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace programs {

// The command line: what the viewer takes (the model, the plug-in, the
// selection and the commands), and the rest.
struct Options : ViewerOptions {
    std::vector<std::string> models; /* the viewer's model is the first */
    std::string output;
    bool in_place = false;
    bool tick_given = false;
    uint32_t tick = 0;
    int threads = 0; /* 0: as many as help */
    std::string debug;
    bool undo = false;
    bool report = false;
    bool gui = false;
    WaveOptions wave;
    bool print_command = false;
    bool version = false;
    bool help = false;
};

// The exit statuses: a command that showed a message or raised a Tcl error
// (the model is not written), a mistake in the command line, and a model, a
// plug-in or a stream that could not be read or written.
const int REFUSED = 1, USAGE = 2, FAILED = 3;

// Every message starts with the program's name, as GNU tools' do: "say"
// prints one; usage_error adds where to read more and gives USAGE, failed
// gives FAILED.
void say(const std::string &message);
int usage_error(const std::string &message);
int failed(const std::string &message);

// --help's text.
std::string usage();

// Fills "options" from the command line; returns -1 to go on, 0 to print
// the help or the command and end, else the exit status (having said why).
int parse_options(int argc, char **argv, Options &options);

} // namespace programs

#endif
