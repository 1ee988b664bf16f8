/*
 * Where the host functions and the tick count come from: the one place that
 * differs between systems.
 *
 * On Windows a DLL cannot leave symbols for its loading program to fill in,
 * and naming the modeller's executable in our import table would tie the
 * plug-in to one file name; so each host function is found by name, with
 * GetProcAddress, in the program that loaded the plug-in. The tick count is
 * the system's.
 *
 * Elsewhere the host functions stay undefined in the module and the dynamic
 * linker binds them to the loading program's when the module is loaded. The
 * tick count is asked of the loading program too, by the name GetTickCount,
 * so that a host (or a test) can pin it.
 */
#include "host/host_functions.h"

#ifdef _WIN32
#include <windows.h>

#include <string.h>

HostFunctions host;

/*
 * Tells the user that the plug-in cannot work in this program: on the
 * system debugger output, then in a message box. USER32 is loaded only for
 * the box, so that the plug-in imports from KERNEL32 and the C runtime alone.
 */
static void report_missing(const char *name)
{
    static const char before[] = "Corrugo cannot run in this program: it exports no host function \"";
    static const char after[] = "\". The plug-in stays inactive.\n";
    char text[sizeof before + 64 + sizeof after];
    strcpy(text, before);
    strncat(text, name, 64);
    strcat(text, after);
    OutputDebugStringA(text);

    text[strlen(text) - 1] = '\0'; /* a box needs no line end */
    HMODULE user32 = LoadLibraryA("user32.dll");
    decltype(&MessageBoxA) box =
        user32 ? (decltype(&MessageBoxA))(void (*)(void))GetProcAddress(user32, "MessageBoxA") : NULL;
    if (box)
        box(NULL, text, "Corrugo", MB_OK | MB_ICONWARNING);
    if (user32)
        FreeLibrary(user32);
}

bool resolve_host_functions(void)
{
    HMODULE program = GetModuleHandleA(NULL);
    HostFunctions found;
#define RESOLVE(name)                                                                  \
    found.name = (decltype(found.name))(void (*)(void))GetProcAddress(program, #name); \
    if (!found.name) {                                                                 \
        report_missing(#name);                                                         \
        return false; /* all or nothing: "host" stays as it was */                     \
    }
    HOST_FUNCTIONS(RESOLVE)
#undef RESOLVE
    host = found;
    return true;
}

uint32_t tick_count(void)
{
    return (uint32_t)GetTickCount();
}

#else
#include <dlfcn.h>
#include <time.h>

#define LINKED(name) &::name,
HostFunctions host = {HOST_FUNCTIONS(LINKED)};
#undef LINKED

bool resolve_host_functions(void)
{
    return true; /* bound when the module was loaded */
}

typedef uint32_t (*TickFunction)(void);

uint32_t monotonic_tick_count(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

uint32_t tick_count(void)
{
    /* Looked up at each call: there are at most two per command. */
    TickFunction host_tick = (TickFunction)dlsym(RTLD_DEFAULT, "GetTickCount");
    return host_tick ? host_tick() : monotonic_tick_count();
}
#endif
