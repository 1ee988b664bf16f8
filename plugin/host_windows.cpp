/*
 * The host functions on Windows: found by name in the program that loaded the
 * plug-in.
 *
 * A Windows DLL cannot leave symbols for its loading program to fill in, and
 * naming the modeller's executable in our import table would tie the plug-in
 * to one file name. So each host function of host/host.h is defined here as a
 * thin forwarder to a pointer that resolve_host_functions() looks up with
 * GetProcAddress in the process's main module. The rest of the plug-in calls
 * the host exactly as it does on other systems.
 *
 * The forwarders are only reached after a successful resolution: until then
 * the plug-in has registered nothing that could call them.
 */
#include "plugin/plugin.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* {====== The table of host functions ====== */

/* Every host function the plug-in calls, by the name the host exports. */
#define HOST_FUNCTIONS(X)                                                        \
    X(tcl_command) X(ac_unbackslash_string) X(ac_add_tools_menu_item)           \
    X(ac_add_command_full) X(windows_message_dialog) X(debugf)                  \
    X(ac_get_select_mode) X(ac_selection_get_objects)                          \
    X(ac_selection_get_surfaces) X(ac_selection_get_vertices)                  \
    X(ac_surfacelist_get_vertices) X(ac_object_get_vertexlist)                 \
    X(ac_object_get_childrenlist) X(object_of_vertex) X(ac_object_is_subdivided) \
    X(list_append_list_unique) X(list_free) X(add_undoable_vertex_positions)    \
    X(find_bounding_box) X(redraw_all) X(display_status)

#define AS_INDEX(name) INDEX_##name,
#define AS_NAME(name) #name,

enum HostFunctionIndex { HOST_FUNCTIONS(AS_INDEX) HOST_FUNCTION_COUNT };

static const char *const host_function_names[HOST_FUNCTION_COUNT] = {HOST_FUNCTIONS(AS_NAME)};

/* Stored with the generic function pointer type; each forwarder converts its
   entry back to its own type, which is the host function's. */
typedef void (*AnyFunction)(void);
static AnyFunction host_functions[HOST_FUNCTION_COUNT];

/* The host's own function "name", typed as our declaration of it. */
#define HOST(name) ((decltype(&name))host_functions[INDEX_##name])

/*
 * The only channel left when the host lacks a function: the system debugger
 * output, which names what is missing.
 */
static void report_missing(const char *name)
{
    char text[160];
    snprintf(text, sizeof text,
             "Corrugo: the host program exports no function \"%s\"; the plug-in stays inactive\n",
             name);
    OutputDebugStringA(text);
}

bool resolve_host_functions(void)
{
    HMODULE program = GetModuleHandleA(NULL);
    AnyFunction found[HOST_FUNCTION_COUNT];
    for (int i = 0; i < HOST_FUNCTION_COUNT; i++) {
        found[i] = program ? (AnyFunction)GetProcAddress(program, host_function_names[i]) : NULL;
        if (!found[i]) {
            report_missing(host_function_names[i]);
            return false; /* all or nothing: the table stays as it was */
        }
    }
    memcpy(host_functions, found, sizeof found);
    return true;
}

/* }====== */

/* {====== Formatted texts ====== */

enum { SMALL_TEXT = 1024 };

/*
 * "format" with "args" as one text: in "small" when it fits, otherwise in a
 * new block that the caller frees. When memory runs out the text is the part
 * that fitted in "small"; a format the C library rejects gives an empty text.
 */
static char *format_text(char *small, const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(small, SMALL_TEXT, format, copy);
    va_end(copy);
    if (length < 0) {
        small[0] = '\0';
        return small;
    }
    if (length < SMALL_TEXT)
        return small;
    char *large = (char *)malloc((size_t)length + 1);
    if (!large)
        return small; /* already cut and terminated by vsnprintf */
    vsnprintf(large, (size_t)length + 1, format, args);
    return large;
}

static void free_text(char *text, char *small)
{
    if (text != small)
        free(text);
}

/* }====== */

/* {====== Forwarders ====== */

/* The variadic functions receive the finished text, so the host's own
   formatting never sees the plug-in's values. */

int tcl_command(const char *format, ...)
{
    char small[SMALL_TEXT];
    va_list args;
    va_start(args, format);
    char *text = format_text(small, format, args);
    va_end(args);
    int result = HOST(tcl_command)("%s", text);
    free_text(text, small);
    return result;
}

void windows_message_dialog(const char *format, ...)
{
    char small[SMALL_TEXT];
    va_list args;
    va_start(args, format);
    char *text = format_text(small, format, args);
    va_end(args);
    HOST(windows_message_dialog)("%s", text);
    free_text(text, small);
}

void debugf(const char *format, ...)
{
    char small[SMALL_TEXT];
    va_list args;
    va_start(args, format);
    char *text = format_text(small, format, args);
    va_end(args);
    HOST(debugf)("%s", text);
    free_text(text, small);
}

void ac_unbackslash_string(char *text)
{
    HOST(ac_unbackslash_string)(text);
}

void ac_add_tools_menu_item(const char *label, const char *command, const char *help)
{
    HOST(ac_add_tools_menu_item)(label, command, help);
}

void ac_add_command_full(const char *name, HostCommandHandler handler, int count,
                         const char *argument_form, const char *help, const char *description)
{
    HOST(ac_add_command_full)(name, handler, count, argument_form, help, description);
}

int ac_get_select_mode(void)
{
    return HOST(ac_get_select_mode)();
}

HostList *ac_selection_get_objects(void)
{
    return HOST(ac_selection_get_objects)();
}

HostList *ac_selection_get_surfaces(void)
{
    return HOST(ac_selection_get_surfaces)();
}

HostList *ac_selection_get_vertices(void)
{
    return HOST(ac_selection_get_vertices)();
}

HostList *ac_surfacelist_get_vertices(HostList *surfaces)
{
    return HOST(ac_surfacelist_get_vertices)(surfaces);
}

HostList *ac_object_get_vertexlist(HostObject *object)
{
    return HOST(ac_object_get_vertexlist)(object);
}

HostList *ac_object_get_childrenlist(HostObject *object)
{
    return HOST(ac_object_get_childrenlist)(object);
}

HostObject *object_of_vertex(HostVertex *vertex)
{
    return HOST(object_of_vertex)(vertex);
}

int ac_object_is_subdivided(HostObject *object)
{
    return HOST(ac_object_is_subdivided)(object);
}

void list_append_list_unique(HostList **head, HostList *list)
{
    HOST(list_append_list_unique)(head, list);
}

void list_free(HostList **head)
{
    HOST(list_free)(head);
}

void add_undoable_vertex_positions(const char *label, HostList *vertices)
{
    HOST(add_undoable_vertex_positions)(label, vertices);
}

void find_bounding_box(void)
{
    HOST(find_bounding_box)();
}

void redraw_all(void)
{
    HOST(redraw_all)();
}

void display_status(void)
{
    HOST(display_status)();
}

/* }====== */
