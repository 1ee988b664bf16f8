// The substitute host's Tcl side: its interpreter, the host's own command
// "ac3d", the commands plug-ins register, and loading a plug-in by file.
#include "sim/host_state.h"

#include <tcl.h>

#include <dlfcn.h>

namespace sim {

// {====== The host's Tcl command "ac3d" ======

static int ac3d_command(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    static const char *const subcommands[] = {"remake_subdivisions", "undo", nullptr};
    enum { REMAKE_SUBDIVISIONS, UNDO };
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "subcommand");
        return TCL_ERROR;
    }
    int index;
    if (Tcl_GetIndexFromObj(interp, objv[1], subcommands, "subcommand", 0, &index) != TCL_OK)
        return TCL_ERROR;
    if (index == REMAKE_SUBDIVISIONS) {
        host().seen.subdivision_rebuilds++;
        host().seen.refreshes.push_back("remake_subdivisions");
    } else
        undo();
    return TCL_OK;
}

Tcl_Interp *interp()
{
    Host &h = host();
    if (!h.interp) {
        Tcl_FindExecutable(nullptr);
        h.interp = Tcl_CreateInterp();
        if (Tcl_Init(h.interp) != TCL_OK && h.debug_sink)
            h.debug_sink(std::string("Tcl_Init: ") + Tcl_GetStringResult(h.interp) + "\n");
        Tcl_CreateObjCommand(h.interp, "ac3d", ac3d_command, nullptr, nullptr);
    }
    return h.interp;
}

// }======


// {====== Loading a plug-in ======

bool load_plugin(const std::string &path, Plugin &plugin, std::string &error)
{
    // dlopen searches the library path for a name without a slash.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = dlerror();
        return false;
    }
    Plugin p;
    p.handle = handle;
    p.init = (int32_t(*)(HostPluginInit *))dlsym(handle, "AC3DPluginInit");
    p.exit = (int32_t(*)(void))dlsym(handle, "AC3DPluginExit");
    p.about = (const char *(*)(void))dlsym(handle, "AC3DPluginAbout");
    p.info = (const char *(*)(void))dlsym(handle, "AC3DPluginInfo");
    if (!p.init || !p.exit || !p.about || !p.info) {
        error = path + ": not a plug-in: an entry point AC3DPlugin... is missing";
        dlclose(handle);
        return false;
    }
    size_t slash = file.rfind('/');
    p.directory = slash == 0 ? "/" : file.substr(0, slash);
    interp(); // the script is sourced into it
    HostPluginInit record = {0, p.directory.c_str()};
    p.init(&record);
    plugin = std::move(p);
    return true;
}

// }======


} // namespace sim

using sim::host;

extern "C" {

int tcl_command(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = sim::format_text(format, args);
    va_end(args);
    Tcl_Interp *in = sim::interp();
    int code = Tcl_EvalEx(in, text.c_str(), (int)text.size(), TCL_EVAL_GLOBAL);
    if (code != TCL_OK && host().debug_sink)
        host().debug_sink(text + ": " + Tcl_GetStringResult(in) + "\n");
    return code;
}


// Hands every word of the command, its name included, to the handler; the
// handler checks the count itself.
static int call_handler(ClientData data, Tcl_Interp *, int argc, const char *argv[])
{
    HostCommandHandler handler = (HostCommandHandler)data;
    handler(argc, const_cast<char **>(argv));
    return TCL_OK;
}

void ac_add_command_full(const char *name, HostCommandHandler handler, int count,
                         const char *argument_form, const char *help, const char *description)
{
    host().commands.push_back({name, argument_form, help, description, count});
    Tcl_CreateCommand(sim::interp(), name, call_handler, (ClientData)handler, nullptr);
}


} // extern "C"
