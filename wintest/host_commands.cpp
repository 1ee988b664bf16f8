// tcl_command and ac_add_command_full for a host without Tcl. The only Tcl
// command the plug-in runs besides sourcing its script is the host's own
// "ac3d remake_subdivisions", which is counted as the Tcl host counts it.
#include "wintest/host_commands.h"

#include "sim/host_state.h"

#include <cstdarg>
#include <map>

namespace wintest {

static std::vector<std::string> texts, formats;
static std::map<std::string, HostCommandHandler> handlers;

const std::vector<std::string> &tcl_texts()
{
    return texts;
}

const std::vector<std::string> &tcl_formats()
{
    return formats;
}

bool call_command(const std::vector<std::string> &words)
{
    if (words.empty())
        return false;
    auto found = handlers.find(words[0]);
    if (found == handlers.end())
        return false;
    // The handler gets writable texts, as from the interpreter.
    std::vector<std::string> copies(words);
    std::vector<char *> vector;
    for (std::string &word : copies)
        vector.push_back(&word[0]);
    vector.push_back(nullptr);
    found->second((int)words.size(), vector.data());
    return true;
}

} // namespace wintest

extern "C" {

int tcl_command(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = sim::format_text(format, args);
    va_end(args);
    if (text == "ac3d remake_subdivisions")
        sim::host().seen.subdivision_rebuilds++;
    wintest::texts.push_back(text);
    wintest::formats.push_back(format);
    return 0;
}

void ac_add_command_full(const char *name, HostCommandHandler handler, int count,
                         const char *argument_form, const char *help, const char *description)
{
    sim::host().commands.push_back({name, argument_form, help, description, count});
    wintest::handlers[name] = handler;
}

} // extern "C"
