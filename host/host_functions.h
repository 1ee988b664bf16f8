/*
 * The host functions as the plug-in reaches them: one pointer per function,
 * each of that function's own type, filled once at initialisation.
 *
 * The plug-in calls the host only through these pointers
 * (host.debugf("%g", x)), so every call, the variadic ones included, hands
 * the host exactly the format and the values the plug-in wrote; the host
 * formats them with its own C runtime. Where the pointers come from is
 * decided in one place, plugin/host_functions.cpp: the functions the loading
 * program leaves to the dynamic linker, or the ones found by name in it.
 */
#ifndef CORRUGO_HOST_FUNCTIONS_H
#define CORRUGO_HOST_FUNCTIONS_H

#include "host/host.h"

#include <stdint.h>

/* Every host function the plug-in calls, by the name the host exports. */
#define HOST_FUNCTIONS(X)                                                          \
    X(tcl_command) X(ac_unbackslash_string) X(ac_add_tools_menu_item)             \
    X(ac_add_command_full) X(windows_message_dialog) X(debugf)                    \
    X(ac_get_select_mode) X(ac_selection_get_objects)                            \
    X(ac_selection_get_surfaces) X(ac_selection_get_vertices)                    \
    X(ac_surfacelist_get_vertices) X(ac_object_get_vertexlist)                   \
    X(ac_object_get_childrenlist) X(object_of_vertex) X(ac_object_is_subdivided) \
    X(list_append_list_unique) X(list_free) X(add_undoable_vertex_positions)      \
    X(find_bounding_box) X(redraw_all) X(display_status)

#define HOST_FUNCTION_POINTER(name) decltype(&::name) name;

struct HostFunctions {
    HOST_FUNCTIONS(HOST_FUNCTION_POINTER)
};

#undef HOST_FUNCTION_POINTER

/* The host's functions. Null until resolve_host_functions() succeeds where
   they are found by name; until then the plug-in registers nothing that
   could call them. */
extern HostFunctions host;

/* Fills "host" from the program that loaded the plug-in, all or nothing.
   False when a function is missing, after telling the user which. */
bool resolve_host_functions(void);

/* The millisecond tick count used as a random seed. */
uint32_t tick_count(void);

#ifndef _WIN32
/* The plug-in's own count, for a loading program without GetTickCount: the
   monotonic clock in milliseconds, truncated to 32 bits as GetTickCount's. */
uint32_t monotonic_tick_count(void);
#endif

#endif
