/*
 * Gathering the vertices the wave moves, by the host's selection mode, and
 * recording their positions as one undo step before anything changes.
 */
#include "wave/wave.h"

#include <stddef.h>

void gather_object_vertices(HostObject *object, HostList **list)
{
    list_append_list_unique(list, ac_object_get_vertexlist(object));
    for (HostList *child = ac_object_get_childrenlist(object); child; child = child->next)
        gather_object_vertices((HostObject *)child->data, list);
}

HostList *gather_wave_vertices(void)
{
    HostList *vertices = NULL;
    int mode = ac_get_select_mode();
    if (mode == 2) { /* surfaces */
        HostList *surfaces = ac_selection_get_surfaces();
        vertices = ac_surfacelist_get_vertices(surfaces);
        list_free(&surfaces);
    } else if (mode == 3) { /* vertices */
        vertices = ac_selection_get_vertices();
    } else { /* objects */
        HostList *objects = ac_selection_get_objects();
        for (HostList *node = objects; node; node = node->next)
            gather_object_vertices((HostObject *)node->data, &vertices);
        list_free(&objects);
    }
    if (!vertices) {
        windows_message_dialog("Corrugo : no vertices selected");
        return NULL;
    }
    add_undoable_vertex_positions("Corrugo", vertices);
    return vertices;
}
