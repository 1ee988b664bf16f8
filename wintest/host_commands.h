// The command side of a host without Tcl: what tcl_command is asked to run
// and which commands a plug-in registers are recorded, and a registered
// handler is called with a word vector as the modeller's interpreter calls
// it. Used with the substitute host's model functions (sim/host.cpp).
#ifndef CORRUGO_WINTEST_HOST_COMMANDS_H
#define CORRUGO_WINTEST_HOST_COMMANDS_H

#include <string>
#include <vector>

namespace wintest {

// Every text tcl_command was given, formatted, oldest first; and the format
// each call passed, as the caller wrote it.
const std::vector<std::string> &tcl_texts();
const std::vector<std::string> &tcl_formats();

// Calls the handler registered under words[0] with every word, the command
// name included; false when no command of that name is registered.
bool call_command(const std::vector<std::string> &words);

} // namespace wintest

#endif
