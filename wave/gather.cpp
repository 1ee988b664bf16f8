/*
 * Gathering the vertices the wave moves, by the host's selection mode, and
 * recording their positions as one undo step before anything changes.
 */
#include "wave/wave.h"

#include <stddef.h>
#include <stdlib.h>

/* The plain depth-first walk: parents before children, children in order. */
static void gather_recursively(HostObject *object, HostList **list)
{
    HostList *vertices = host.ac_object_get_vertexlist(object);
    host.list_append_list_unique(list, vertices);
    for (HostList *child = host.ac_object_get_childrenlist(object); child; child = child->next)
        gather_recursively((HostObject *)child->data, list);
}

/*
 * The same walk with a stack of its own, so that however deeply a model nests
 * its objects the host's stack holds. The stack keeps, for each level still
 * to finish, the next sibling to visit; a chain of only children needs none.
 * False when memory for it runs out.
 */
static bool gather_iteratively(HostObject *object, HostList **list)
{
    HostList **pending = NULL;
    size_t depth = 0, capacity = 0;
    host.list_append_list_unique(list, host.ac_object_get_vertexlist(object));
    HostList *next = host.ac_object_get_childrenlist(object);
    for (;;) {
        if (!next) {
            if (depth == 0)
                break;
            next = pending[--depth];
            continue;
        }
        HostObject *child = (HostObject *)next->data;
        host.list_append_list_unique(list, host.ac_object_get_vertexlist(child));
        HostList *children = host.ac_object_get_childrenlist(child);
        if (next->next && children) {
            if (depth == capacity) {
                size_t grown = capacity ? capacity * 2 : 64;
                HostList **bigger = (HostList **)realloc(pending, grown * sizeof *pending);
                if (!bigger) {
                    free(pending);
                    return false;
                }
                pending = bigger;
                capacity = grown;
            }
            pending[depth++] = next->next;
        }
        next = children ? children : next->next;
    }
    free(pending);
    return true;
}

void gather_object_vertices(HostObject *object, HostList **list)
{
    /* Without memory for the walk's stack, walk again by recursion: the
       vertices already gathered are not appended twice, so the order stays. */
    if (!gather_iteratively(object, list))
        gather_recursively(object, list);
}

HostList *gather_selected_vertices(WaveFault fault)
{
    HostList *vertices = NULL;
    int mode = host.ac_get_select_mode();
    if (mode == SELECT_SURFACES) {
        HostList *surfaces = host.ac_selection_get_surfaces();
        vertices = host.ac_surfacelist_get_vertices(surfaces);
        host.list_free(&surfaces);
    } else if (mode == SELECT_VERTICES) {
        vertices = host.ac_selection_get_vertices();
    } else { /* objects */
        HostList *objects = host.ac_selection_get_objects();
        for (HostList *node = objects; node; node = node->next)
            gather_object_vertices((HostObject *)node->data, &vertices);
        host.list_free(&objects);
    }
    if (!vertices) {
        fault("Corrugo : no vertices selected");
        return NULL;
    }
    return vertices;
}

HostList *gather_wave_vertices(void)
{
    HostList *vertices = gather_selected_vertices(host.windows_message_dialog);
    if (vertices)
        host.add_undoable_vertex_positions("Corrugo", vertices);
    return vertices;
}
