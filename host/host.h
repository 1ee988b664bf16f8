/*
 * The modeller's programming interface, as far as Corrugo relies on it.
 *
 * The host executable exports these functions to its plug-ins; the plug-in
 * leaves them undefined and they are resolved from the program that loads
 * it. Only the fields named here are relied on: the host's records may carry
 * more after them.
 */
#ifndef CORRUGO_HOST_H
#define CORRUGO_HOST_H

#include <stdint.h>

#if defined(__GNUC__)
#define HOST_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define HOST_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The host's singly linked list node; the empty list is a null head. */
typedef struct HostList {
    void *data;
    struct HostList *next;
} HostList;

/* A vertex record: the position is its first three fields, read and written
   in place. */
typedef struct HostVertex {
    float x, y, z;
} HostVertex;

/* An object handle, compared for equality only. */
typedef struct HostObject HostObject;

/* The record the host passes to the plug-in's initialisation entry. */
typedef struct HostPluginInit {
    int32_t reserved;       /* not read */
    const char *plugin_dir; /* the folder that holds the plug-in's files */
} HostPluginInit;

/* A Tcl command handler: "count" words in "vector", entry 0 being the
   command's own name. The result carries nothing the host relies on. */
typedef int (*HostCommandHandler)(int count, char *vector[]);

/* {====== Tcl interpreter and menus ====== */
int tcl_command(const char *format, ...) HOST_PRINTF(1, 2);
void ac_unbackslash_string(char *text);
void ac_add_tools_menu_item(const char *label, const char *command, const char *help);
void ac_add_command_full(const char *name, HostCommandHandler handler, int count,
                         const char *argument_form, const char *help,
                         const char *description);
/* }====== */

/* {====== Messages and diagnostics ====== */
void windows_message_dialog(const char *format, ...) HOST_PRINTF(1, 2);
void debugf(const char *format, ...) HOST_PRINTF(1, 2);
/* }====== */

/* {====== Selection and model ====== */
/* The host's selection modes, as ac_get_select_mode returns them: any value
   but SELECT_SURFACES and SELECT_VERTICES counts as objects. */
enum HostSelectMode { SELECT_OBJECTS = 1, SELECT_SURFACES = 2, SELECT_VERTICES = 3 };
int ac_get_select_mode(void);
HostList *ac_selection_get_objects(void);  /* new list, freed by the caller */
HostList *ac_selection_get_surfaces(void); /* new list, freed by the caller */
HostList *ac_selection_get_vertices(void);
HostList *ac_surfacelist_get_vertices(HostList *surfaces);
HostList *ac_object_get_vertexlist(HostObject *object);   /* host-owned */
HostList *ac_object_get_childrenlist(HostObject *object); /* host-owned */
HostObject *object_of_vertex(HostVertex *vertex);
int ac_object_is_subdivided(HostObject *object);
/* }====== */

/* {====== Lists ====== */
void list_append_list_unique(HostList **head, HostList *list);
void list_free(HostList **head);
/* }====== */

/* {====== Undo and refresh ====== */
void add_undoable_vertex_positions(const char *label, HostList *vertices);
void find_bounding_box(void);
void redraw_all(void);
void display_status(void);
/* }====== */

#ifdef __cplusplus
}
#endif

#endif
