/*
 * Entry points and registration: the host loads the module, then calls these
 * by name. Initialisation sources the dialog script from the plug-in's folder,
 * adds the Tools menu entry and registers the wave command, once per process.
 */
#include "plugin/plugin.h"
#include "wave/wave.h"

#include <stdlib.h>
#include <string.h>

static bool plugin_first_time = true;

/* The plug-in's folder, as a Tcl-safe text; kept for the life of the process.
   Volatile, so that the compiler keeps the variable (it is never read back)
   and leak checkers find the copy still reachable at exit. */
static char *volatile plugin_directory = NULL;

/* Loads the dialog script from "directory"; a missing folder text skips it. */
static void source_dialog_script(const char *directory)
{
    if (!directory)
        return;
    char *copy = strdup(directory); /* the host's own text stays as it is */
    if (!copy)
        return; /* out of memory: the menu item comes all the same */
    host.ac_unbackslash_string(copy);
    plugin_directory = tcl_quote(copy);
    free(copy);
    if (plugin_directory)
        host.tcl_command("source \"%s/corrugo.tcl\"", plugin_directory);
}

CORRUGO_EXPORT int32_t AC3DPluginInit(HostPluginInit *init)
{
    if (!plugin_first_time)
        return 0;
    if (!resolve_host_functions()) {
        plugin_first_time = false; /* the user has been told, once */
        return 0; /* and nothing can be registered */
    }
    source_dialog_script(init ? init->plugin_dir : NULL);
    host.ac_add_tools_menu_item("Corrugo...", "qorvel_dialog",
                                "Apply an axis-aligned waveform to the selected vertices");
    /* The help text is the one the host expects to find, word for word, as it
       stands: it is no note of work left to do, and must not change. */
    host.ac_add_command_full("qorvel_go", apply_wave_command, 12, "argv", "TODO: Show params here",
                             "Corrugo utility");
    /* The dialog's drawing: the same words, nothing changed (wave/preview.cpp). */
    host.ac_add_command_full("qorvel_preview", preview_wave_command, 12, "argv",
                             "the twelve words of qorvel_go",
                             "Corrugo preview: the selected vertices before and after the wave");
    plugin_first_time = false;
    return 0;
}

CORRUGO_EXPORT int32_t AC3DPluginExit(void)
{
    return 0;
}

CORRUGO_EXPORT const char *AC3DPluginAbout(void)
{
    return "Corrugo - version 1.00 - the Corrugo developers";
}

CORRUGO_EXPORT const char *AC3DPluginInfo(void)
{
    return "Corrugo utility - Applies an axis-aligned waveform to selected vertices";
}
