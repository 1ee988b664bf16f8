// LoadLibrary and GetProcAddress for the test host.
#include "wintest/load_dll.h"

#include <windows.h>

namespace wintest {

// An exported function, converted through the generic function pointer type.
template <class F> static F entry_point(HMODULE module, const char *name)
{
    return (F)(void (*)(void))GetProcAddress(module, name);
}

std::string program_directory()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string file(path, length < MAX_PATH ? length : 0);
    size_t separator = file.find_last_of("\\/");
    return separator == std::string::npos ? std::string(".") : file.substr(0, separator);
}

bool load_plugin_dll(const std::string &path, PluginDll &dll, std::string &error)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        error = path + ": LoadLibrary failed with error " + std::to_string(GetLastError());
        return false;
    }
    PluginDll loaded;
    loaded.module = module;
    loaded.init = entry_point<int32_t (*)(HostPluginInit *)>(module, "AC3DPluginInit");
    loaded.exit = entry_point<int32_t (*)(void)>(module, "AC3DPluginExit");
    loaded.about = entry_point<const char *(*)(void)>(module, "AC3DPluginAbout");
    loaded.info = entry_point<const char *(*)(void)>(module, "AC3DPluginInfo");
    if (!loaded.init || !loaded.exit || !loaded.about || !loaded.info) {
        error = path + ": not a plug-in: an entry point AC3DPlugin... is missing";
        FreeLibrary(module);
        return false;
    }
    dll = loaded;
    return true;
}

void unload_plugin_dll(PluginDll &dll)
{
    if (dll.module)
        FreeLibrary((HMODULE)dll.module);
    dll = PluginDll();
}

bool program_exports(const char *name)
{
    return GetProcAddress(GetModuleHandleA(NULL), name) != NULL;
}

} // namespace wintest
