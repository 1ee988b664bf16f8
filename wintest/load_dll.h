// Loading the plug-in DLL as the modeller does: by file, its entry points
// found by name. Kept apart from the host's own code, which declares
// GetTickCount in its own way and so cannot see <windows.h>.
#ifndef CORRUGO_WINTEST_LOAD_DLL_H
#define CORRUGO_WINTEST_LOAD_DLL_H

#include "host/host.h"

#include <string>
#include <vector>

namespace wintest {

struct PluginDll {
    void *module = nullptr;
    int32_t (*init)(HostPluginInit *) = nullptr;
    int32_t (*exit)(void) = nullptr;
    const char *(*about)(void) = nullptr;
    const char *(*info)(void) = nullptr;
};

// The folder of this program, as Windows names it (with backslashes).
std::string program_directory();

// Loads the DLL at "path" and finds its four entry points; false with "error"
// set when the file or an entry point is missing.
bool load_plugin_dll(const std::string &path, PluginDll &dll, std::string &error);
void unload_plugin_dll(PluginDll &dll);

// Whether this program exports a function called "name".
bool program_exports(const char *name);

// {====== What the plug-in shows outside the host ======

struct MessageBoxCall {
    std::string text, caption;
    unsigned type;
};

// Redirects two of the plug-in's imports from KERNEL32, so that what it
// would tell the user without the host arrives here instead: GetProcAddress
// hands out a stand-in for USER32's MessageBoxA (no window opens) and passes
// every other name on, and OutputDebugStringA is recorded. False when the
// plug-in does not import both.
bool watch_system_output(PluginDll &dll);

const std::vector<MessageBoxCall> &message_boxes();
const std::vector<std::string> &debugger_texts();

// }======

} // namespace wintest

#endif
