#!/usr/bin/env bash
# Checks the plug-in module's dynamic symbols: it defines only its four entry
# points, leaves every host function to the program that loads it, and needs
# no library beyond the C and C++ runtime and libm.
set -euo pipefail
module=$1
status=0

defined=$(nm -D --defined-only "$module" | awk '{print $3}' | grep -v '^_' | sort)
expected=$(printf '%s\n' AC3DPluginAbout AC3DPluginExit AC3DPluginInfo AC3DPluginInit)
if [ "$defined" != "$expected" ]; then
    echo "defined symbols differ from the four entry points:"; echo "$defined"; status=1
fi

undefined=$(nm -D --undefined-only "$module" | awk '{print $2}')
for f in tcl_command ac_unbackslash_string ac_add_tools_menu_item ac_add_command_full \
         windows_message_dialog debugf ac_get_select_mode ac_selection_get_objects \
         ac_selection_get_surfaces ac_selection_get_vertices ac_surfacelist_get_vertices \
         ac_object_get_vertexlist ac_object_get_childrenlist list_append_list_unique list_free \
         add_undoable_vertex_positions object_of_vertex ac_object_is_subdivided \
         find_bounding_box redraw_all display_status; do
    grep -qx "$f" <<<"$undefined" || { echo "host function $f is not left undefined"; status=1; }
done

needed=$(objdump -p "$module" | awk '/NEEDED/ {print $2}' | sort | tr '\n' ' ')
for lib in $needed; do
    case $lib in
        libc.so.*|libm.so.*|libstdc++.so.*|libgcc_s.so.*|ld-linux*) ;;
        *) echo "links $lib"; status=1 ;;
    esac
done

[ $status -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
