// LoadLibrary and GetProcAddress for the test host.
#include "wintest/load_dll.h"

#include <windows.h>

#include <string.h>

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

// {====== What the plug-in shows outside the host ======

static std::vector<MessageBoxCall> boxes;
static std::vector<std::string> debugger;
static decltype(&GetProcAddress) real_get_proc_address;

static int WINAPI stand_in_message_box(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    boxes.push_back({text ? text : "(null)", caption ? caption : "(null)", type});
    return IDOK;
}

static FARPROC WINAPI watched_get_proc_address(HMODULE module, LPCSTR name)
{
    // A name below 0x10000 is an ordinal, not a text.
    if ((ULONG_PTR)name > 0xFFFF && strcmp(name, "MessageBoxA") == 0)
        return (FARPROC)(void (*)(void))stand_in_message_box;
    return real_get_proc_address(module, name);
}

static void WINAPI watched_output_debug_string(LPCSTR text)
{
    debugger.push_back(text ? text : "(null)");
}

// Points the import "function" from "dll" of "module" at "replacement";
// returns what it pointed at, or null when the module has no such import.
static void *replace_import(HMODULE module, const char *dll, const char *function, void *replacement)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.Size == 0)
        return nullptr;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + directory.VirtualAddress);
         d->Name; d++) {
        if (_stricmp((const char *)(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *addresses = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, addresses++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *by_name = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)by_name->Name, function) != 0)
                continue;
            void *former = (void *)addresses->u1.Function;
            DWORD protection;
            if (!VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function,
                                PAGE_READWRITE, &protection))
                return nullptr;
            addresses->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, protection,
                           &protection);
            return former;
        }
    }
    return nullptr;
}

bool watch_system_output(PluginDll &dll)
{
    HMODULE module = (HMODULE)dll.module;
    void *former = replace_import(module, "kernel32.dll", "GetProcAddress",
                                  (void *)watched_get_proc_address);
    if (!former)
        return false;
    real_get_proc_address = (decltype(&GetProcAddress))former;
    return replace_import(module, "kernel32.dll", "OutputDebugStringA",
                          (void *)watched_output_debug_string) != nullptr;
}

const std::vector<MessageBoxCall> &message_boxes()
{
    return boxes;
}

const std::vector<std::string> &debugger_texts()
{
    return debugger;
}

// }======

} // namespace wintest
