// The viewer: a small Tk main window over the substitute host. It shows the
// model in three orthographic views with the selection highlighted, offers
// File, Edit, Select and Tools menus, shows the host's messages in message
// boxes and its status in a status line, so that the plug-in and its dialog
// can be used (and tested) as in the modeller.
//
// The window itself is Tcl (viewer.tcl, built into the program); this
// file starts Tk and the plug-in, and gives the script the commands of the
// ::viewer namespace that reach the model, and the Corrugo dialog the one
// command it asks a host for: the selection's extent along an axis.
#include "programs/viewer.h"

#include "programs/run_files.h"

#include "acfile/acfile.h"
#include "sim/host.h"

#include <tcl.h>
#include <tk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// The window's Tcl script, generated from viewer.tcl.
extern const char corrugo_viewer_script[];

using namespace acfile;
using namespace sim;

namespace programs {

namespace {

// {====== State ======

// The viewer's own state beside the host's: where the model came from and
// what the writer needs to give it back.
struct Viewer {
    std::string file; // empty for the empty model the viewer starts with
    RunFiles files;   // what a model saved may not replace
    AcSource source;
    Plugin plugin;
    bool plugin_ended = false;
};

Viewer &viewer()
{
    static Viewer v;
    return v;
}

// The host refreshes bounds, views and status as after a plug-in's change.
void refresh_all()
{
    find_bounding_box();
    redraw_all();
    display_status();
}

// Runs the command of "words" at the global level, each word as it is.
int eval_words(Tcl_Interp *in, std::vector<Tcl_Obj *> words)
{
    Tcl_Obj *command = Tcl_NewListObj((int)words.size(), words.data());
    Tcl_IncrRefCount(command);
    int code = Tcl_EvalObjEx(in, command, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(command);
    return code;
}

Tcl_Obj *text_object(const std::string &text) { return Tcl_NewStringObj(text.data(), (int)text.size()); }

// Runs a command of the window's script from inside a host function (the
// plug-in's command may be running): the interpreter's result and error
// state are kept, and a failure is reported in the background.
void call_script(const char *proc, const std::string *argument = nullptr)
{
    Tcl_Interp *in = interp();
    Tcl_InterpState saved = Tcl_SaveInterpState(in, TCL_OK);
    std::vector<Tcl_Obj *> words = {Tcl_NewStringObj(proc, -1)};
    if (argument)
        words.push_back(text_object(*argument));
    if (int code = eval_words(in, words); code != TCL_OK)
        Tcl_BackgroundException(in, code);
    Tcl_RestoreInterpState(in, saved);
}

// Fails a command of the viewer with Tcl's message for a wrong number of
// arguments, "form" the arguments it takes.
int wrong_args(Tcl_Interp *in, Tcl_Obj *const objv[], const char *form)
{
    Tcl_WrongNumArgs(in, 1, objv, form);
    return TCL_ERROR;
}

// Fails a command of the viewer with "message".
int fail(Tcl_Interp *in, const std::string &message)
{
    Tcl_SetObjResult(in, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
}

// The plug-in's exit entry, called once, as the modeller calls it on quitting.
void end_plugin(ClientData = nullptr)
{
    Viewer &v = viewer();
    if (v.plugin.exit && !v.plugin_ended) {
        v.plugin_ended = true;
        v.plugin.exit();
    }
}

// }======

// {====== Drawing ======

// An orthographic view: the model axis shown left to right and the one shown
// top to bottom, each with the direction it runs on the screen.
struct View {
    int u, v;
    double su, sv;
};

const char *const VIEW_NAMES[] = {"front", "top", "side", nullptr};
const View VIEWS[] = {
    {0, 1, 1, -1},  // front: x to the right, y up
    {0, 2, 1, 1},   // top: x to the right, z down
    {2, 1, -1, -1}, // side, from the right: z to the left, y up
};

bool finite(const Vertex &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

double coordinate(const Vertex &p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

// The lowest and the highest of the finite values taken.
struct Range {
    double low = 0, high = 0;
    bool any = false;

    void take(double c)
    {
        if (!std::isfinite(c))
            return;
        low = any ? std::min(low, c) : c;
        high = any ? std::max(high, c) : c;
        any = true;
    }
};

// Fits the model's finite vertices, as "view" shows them, into a pane of
// "width" by "height" pixels. Each view has its own scale, so that even a
// long thin model fills every pane.
struct Fit {
    double centre[3] = {0, 0, 0};
    double scale = 1;
    double width, height;

    Fit(const Model &model, const View &view, double width, double height)
        : width(width), height(height)
    {
        Range range[3];
        for (const auto &object : model.objects)
            for (const Vertex &p : object->vertices)
                if (finite(p))
                    for (int k = 0; k < 3; k++)
                        range[k].take(coordinate(p, k));
        if (!range[0].any)
            return;
        double extent[3];
        for (int k = 0; k < 3; k++) {
            centre[k] = range[k].low / 2 + range[k].high / 2; // halved first: no overflow
            extent[k] = range[k].high - range[k].low;
        }
        const double margin = 28; // clear of the view's label
        double s = HUGE_VAL;
        if (extent[view.u] > 0)
            s = std::max(width - 2 * margin, 1.0) / extent[view.u];
        if (extent[view.v] > 0)
            s = std::min(s, std::max(height - 2 * margin, 1.0) / extent[view.v]);
        if (std::isfinite(s) && s > 0)
            scale = s;
    }

    void project(const View &view, const Vertex &p, Tcl_Obj *list) const
    {
        double x = width / 2 + view.su * (coordinate(p, view.u) - centre[view.u]) * scale;
        double y = height / 2 + view.sv * (coordinate(p, view.v) - centre[view.v]) * scale;
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(x));
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(y));
    }
};

// The outline of "surface" as a canvas line: its vertices in order, closed
// when it has more than two; null when it has fewer than two or a vertex is
// not finite. (The reader keeps every vertex index below its object's count.)
Tcl_Obj *outline(const Fit &fit, const View &view, const Surface &surface)
{
    if (surface.ref_count < 2)
        return nullptr;
    const Object *object = surface.owner;
    const uint32_t *refs = &object->refs[surface.first_ref];
    for (uint32_t i = 0; i < surface.ref_count; i++)
        if (!finite(object->vertices[refs[i]]))
            return nullptr;
    Tcl_Obj *line = Tcl_NewListObj(0, nullptr);
    for (uint32_t i = 0; i < surface.ref_count; i++)
        fit.project(view, object->vertices[refs[i]], line);
    if (surface.ref_count > 2)
        fit.project(view, object->vertices[refs[0]], line);
    return line;
}

// The objects whose surfaces show as selected: the selected objects and
// their descendants, as the plug-in gathers them.
std::unordered_set<const Object *> selected_objects(const Selection &s)
{
    std::unordered_set<const Object *> objects;
    if (s.mode != SELECT_SURFACES && s.mode != SELECT_VERTICES)
        for (Object *object : s.objects)
            walk_objects(object, [&](Object *o) { objects.insert(o); });
    return objects;
}

// }======

// {====== Commands of the ::viewer namespace ======

// ::viewer::open path
//	Reads the model file "path" into a fresh model and only then makes it
//	the host's model, everything selected in the current mode. On failure
//	the error names the file and the line, and the current model stays.
int open_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2)
        return wrong_args(in, objv, "path");
    std::string path = Tcl_GetString(objv[1]);
    Model next;
    AcSource source;
    std::string error;
    if (!read_ac_file(path, next, source, error))
        return fail(in, error);
    int mode = selection().mode;
    replace_model(std::move(next));
    viewer().source = std::move(source);
    viewer().file = path;
    select_all(model(), selection(), mode);
    refresh_all();
    return TCL_OK;
}

// ::viewer::save ?path?
//	Writes the model to "path", which becomes the model's file, or to the
//	model's file. The target is replaced whole or not at all.
int save_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    if (objc > 2)
        return wrong_args(in, objv, "?path?");
    Viewer &v = viewer();
    if (v.file.empty()) // without the text of a file there is nothing to write back into
        return fail(in, "no model file to save: open one first");
    std::string path = objc == 2 ? Tcl_GetString(objv[1]) : v.file;
    std::string error;
    if (const RunFile *f = runs_on(v.files, path))
        return fail(in, path + ": cannot write: it is " + run_file_role(f->role));
    if (!write_ac_file(path, model(), v.source, error))
        return fail(in, error);
    v.file = path;
    return TCL_OK;
}

// ::viewer::select objects|surfaces|vertices|all|none
//	Changes the selection mode, which selects nothing in the new mode
//	(choosing the current one changes nothing), or selects everything or
//	nothing in the current mode.
int select_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    /* the modes by their names, then "all" and "none" */
    static const std::vector<const char *> choices = [] {
        std::vector<const char *> names;
        for (const SelectModeName *m = select_mode_names(); m->name; m++)
            names.push_back(m->name);
        names.insert(names.end(), {"all", "none", nullptr});
        return names;
    }();
    if (objc != 2)
        return wrong_args(in, objv, "objects|surfaces|vertices|all|none");
    int index;
    if (Tcl_GetIndexFromObj(in, objv[1], choices.data(), "selection", 0, &index) != TCL_OK)
        return TCL_ERROR;
    Selection &s = selection();
    const std::string choice = choices[index];
    if (choice == "all") {
        select_all(model(), s, s.mode);
    } else if (choice == "none") {
        select_none(s);
    } else if (s.mode != select_mode_named(choice)) {
        select_none(s);
        s.mode = select_mode_named(choice);
    }
    redraw_all();
    display_status();
    return TCL_OK;
}

// ::viewer::undo
//	Undoes the newest undo step; returns 1, or 0 when there was none.
int undo_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    if (objc != 1)
        return wrong_args(in, objv, nullptr);
    Tcl_SetObjResult(in, Tcl_NewBooleanObj(undo()));
    return TCL_OK;
}

// ::viewer::state
//	Returns a dictionary: the model's file, the selection mode, the counts
//	of objects, vertices and surfaces, how many items are selected, the
//	undo steps and their newest label, and the host's status text.
int state_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    if (objc != 1)
        return wrong_args(in, objv, nullptr);
    const Model &m = model();
    const Selection &s = selection();
    size_t surfaces = 0;
    for (const auto &object : m.objects)
        surfaces += object->surfaces.size();
    size_t selected = s.mode == SELECT_SURFACES   ? s.surfaces.size()
                      : s.mode == SELECT_VERTICES ? s.vertices.size()
                                                  : s.objects.size();
    size_t depth = undo_depth();
    Tcl_Obj *d = Tcl_NewDictObj();
    auto put = [&](const char *key, Tcl_Obj *value) {
        Tcl_DictObjPut(nullptr, d, Tcl_NewStringObj(key, -1), value);
    };
    auto number = [](size_t n) { return Tcl_NewWideIntObj((Tcl_WideInt)n); };
    put("file", Tcl_NewStringObj(viewer().file.c_str(), -1));
    put("mode", Tcl_NewStringObj(select_mode_name(s.mode), -1));
    put("objects", number(m.objects.size() - 1));
    put("vertices", number(count_vertices(m)));
    put("surfaces", number(surfaces));
    put("selected", number(selected));
    put("undo", number(depth));
    put("undolabel", Tcl_NewStringObj(depth ? undo_label(depth - 1).c_str() : "", -1));
    put("status", Tcl_NewStringObj(observations().status.c_str(), -1));
    Tcl_SetObjResult(in, d);
    return TCL_OK;
}

// ::viewer::tools
//	Returns the Tools menu entries the plug-ins added, each a list of
//	label, Tcl command and help text.
int tools_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    if (objc != 1)
        return wrong_args(in, objv, nullptr);
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const MenuItem &item : menu_items()) {
        Tcl_Obj *words[3] = {Tcl_NewStringObj(item.label.c_str(), -1),
                             Tcl_NewStringObj(item.command.c_str(), -1),
                             Tcl_NewStringObj(item.help.c_str(), -1)};
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewListObj(3, words));
    }
    Tcl_SetObjResult(in, list);
    return TCL_OK;
}

// ::viewer::segments view width height ?limit?
//	Returns what a pane of "width" by "height" pixels shows of the model in
//	"view" (front, top or side), fitted to the model's bounds: a dictionary
//	of "lines", the outlines of surfaces as canvas coordinates; "selected",
//	the outlines of selected surfaces (of selected objects, in object mode);
//	"points", the selected vertices as x y pairs (vertex mode); and
//	"every": 1 when everything is drawn, n when only every n-th surface, or
//	selected vertex, is drawn to stay within "limit" edges (default
//	100000) and a quarter as many vertices.
int segments_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    if (objc != 4 && objc != 5)
        return wrong_args(in, objv, "view width height ?limit?");
    int index;
    if (Tcl_GetIndexFromObj(in, objv[1], VIEW_NAMES, "view", 0, &index) != TCL_OK)
        return TCL_ERROR;
    double size[2];
    for (int i = 0; i < 2; i++) {
        if (Tcl_GetDoubleFromObj(in, objv[2 + i], &size[i]) != TCL_OK)
            return TCL_ERROR;
        if (!(size[i] > 0 && size[i] < 1e6)) {
            Tcl_SetObjResult(in, Tcl_ObjPrintf("bad %s \"%s\": must be a number of pixels above 0",
                                               i ? "height" : "width", Tcl_GetString(objv[2 + i])));
            return TCL_ERROR;
        }
    }
    Tcl_WideInt limit = 100000;
    if (objc == 5) {
        if (Tcl_GetWideIntFromObj(in, objv[4], &limit) != TCL_OK)
            return TCL_ERROR;
        if (limit < 1) {
            Tcl_SetObjResult(in, Tcl_ObjPrintf("bad limit \"%s\": must be a whole number above 0",
                                               Tcl_GetString(objv[4])));
            return TCL_ERROR;
        }
    }

    const Model &m = model();
    const View &view = VIEWS[index];
    Fit fit(m, view, size[0], size[1]);
    size_t edges = 0;
    for (const auto &object : m.objects)
        edges += object->refs.size();
    const Selection &s = selection();
    size_t points = s.mode == SELECT_VERTICES ? s.vertices.size() : 0;
    // A vertex costs the canvas an item where a surface's edges share one.
    auto stride = [](size_t count, size_t limit) {
        size_t every = count / limit + (count % limit != 0);
        return std::max<size_t>(every, 1);
    };
    size_t every = stride(edges, (size_t)limit);
    size_t every_point = stride(points, std::max<size_t>((size_t)limit / 4, 1));

    std::unordered_set<const Object *> objects = selected_objects(selection());
    std::unordered_set<const Surface *> surfaces;
    if (s.mode == SELECT_SURFACES)
        surfaces.insert(s.surfaces.begin(), s.surfaces.end());
    Tcl_Obj *plain = Tcl_NewListObj(0, nullptr), *chosen = Tcl_NewListObj(0, nullptr);
    size_t n = 0;
    for (const auto &object : m.objects) {
        bool whole = objects.count(object.get()) != 0;
        for (const Surface &surface : object->surfaces) {
            if (n++ % every != 0)
                continue;
            Tcl_Obj *line = outline(fit, view, surface);
            if (line)
                Tcl_ListObjAppendElement(nullptr, whole || surfaces.count(&surface) ? chosen : plain, line);
        }
    }
    Tcl_Obj *dots = Tcl_NewListObj(0, nullptr);
    for (size_t i = 0; i < points; i += every_point)
        if (finite(*s.vertices[i]))
            fit.project(view, *s.vertices[i], dots);

    Tcl_Obj *d = Tcl_NewDictObj();
    Tcl_DictObjPut(nullptr, d, Tcl_NewStringObj("lines", -1), plain);
    Tcl_DictObjPut(nullptr, d, Tcl_NewStringObj("selected", -1), chosen);
    Tcl_DictObjPut(nullptr, d, Tcl_NewStringObj("points", -1), dots);
    Tcl_DictObjPut(nullptr, d, Tcl_NewStringObj("every", -1),
                   Tcl_NewWideIntObj((Tcl_WideInt)std::max(every, every_point)));
    Tcl_SetObjResult(in, d);
    return TCL_OK;
}

// ::corrugo::selection_extent x|y|z
//	Tells the Corrugo dialog, for its drawing of the wave, where the
//	vertices its command would move lie along an axis: "low high", the
//	lowest and highest finite coordinate, or nothing when there are none.
int extent_command(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[])
{
    static const char *const axes[] = {"x", "y", "z", nullptr};
    if (objc != 2)
        return wrong_args(in, objv, "x|y|z");
    int axis;
    if (Tcl_GetIndexFromObj(in, objv[1], axes, "axis", TCL_EXACT, &axis) != TCL_OK)
        return TCL_ERROR;
    const Selection &s = selection();
    Range range;
    if (s.mode == SELECT_SURFACES) {
        for (const Surface *surface : s.surfaces) {
            const Object *object = surface->owner;
            for (uint32_t i = 0; i < surface->ref_count; i++)
                range.take(coordinate(object->vertices[object->refs[surface->first_ref + i]], axis));
        }
    } else if (s.mode == SELECT_VERTICES) {
        for (const Vertex *v : s.vertices)
            range.take(coordinate(*v, axis));
    } else {
        for (const Object *object : selected_objects(selection()))
            for (const Vertex &v : object->vertices)
                range.take(coordinate(v, axis));
    }
    Tcl_Obj *ends = Tcl_NewListObj(0, nullptr);
    if (range.any) {
        Tcl_ListObjAppendElement(nullptr, ends, Tcl_NewDoubleObj(range.low));
        Tcl_ListObjAppendElement(nullptr, ends, Tcl_NewDoubleObj(range.high));
    }
    Tcl_SetObjResult(in, ends);
    return TCL_OK;
}

const struct {
    const char *name;
    Tcl_ObjCmdProc *proc;
} COMMANDS[] = {
    {"::viewer::open", open_command},         {"::viewer::save", save_command},
    {"::viewer::select", select_command},     {"::viewer::undo", undo_command},
    {"::viewer::state", state_command},       {"::viewer::tools", tools_command},
    {"::viewer::segments", segments_command}, {"::corrugo::selection_extent", extent_command},
    {nullptr, nullptr},
};

// }======

// {====== Starting up ======

// Loads Tk into the host's interpreter and the window's script; false with
// the reason printed when there is no display.
bool start_tk(Tcl_Interp *in)
{
    Tcl_SetVar(in, "argv0", "corrugo-host", TCL_GLOBAL_ONLY);
    Tcl_SetVar(in, "argv", "", TCL_GLOBAL_ONLY);
    Tcl_SetVar(in, "argc", "0", TCL_GLOBAL_ONLY);
    if (Tk_Init(in) != TCL_OK) {
        std::fprintf(stderr, "corrugo-host: cannot open the viewer: %s\n", Tcl_GetStringResult(in));
        return false;
    }
    for (int i = 0; COMMANDS[i].name; i++)
        Tcl_CreateObjCommand(in, COMMANDS[i].name, COMMANDS[i].proc, nullptr, nullptr);
    if (Tcl_EvalEx(in, corrugo_viewer_script, -1, TCL_EVAL_GLOBAL) != TCL_OK) {
        std::fprintf(stderr, "corrugo-host: the viewer's script: %s\n", Tcl_GetStringResult(in));
        return false;
    }
    return true;
}

} // namespace

int run_viewer(const ViewerOptions &options)
{
    Viewer &v = viewer();
    Model first;
    std::string error, failure;
    // A model that cannot be read leaves the viewer empty, as File > Open
    // would, and the window says why once it is up.
    if (!options.model.empty() && !read_ac_file(options.model, first, v.source, failure))
        first = Model();
    if (failure.empty() && !check_names(first, options.names, error)) {
        std::fprintf(stderr, "corrugo-host: %s: %s\n",
                     options.model.empty() ? "the empty model" : options.model.c_str(), error.c_str());
        return 2;
    }
    v.file = failure.empty() ? options.model : "";
    v.files = run_files({}, "", options.plugin);

    Tcl_Interp *in = interp();
    if (!start_tk(in))
        return 2;
    // After Tk, so that the plug-in's script finds it loaded.
    if (!load_plugin(options.plugin, v.plugin, error)) {
        std::fprintf(stderr, "corrugo-host: cannot load the plug-in: %s\n", error.c_str());
        return 2;
    }
    Tcl_CreateExitHandler(end_plugin, nullptr);

    replace_model(std::move(first));
    select_all(model(), selection(), options.mode, options.names);
    set_message_sink([](const std::string &text) {
        std::fprintf(stderr, "corrugo-host: %s\n", text.c_str());
        call_script("::viewer::Message", &text);
    });
    set_refresh_hook([] { call_script("::viewer::Schedule"); });

    Tcl_Obj *commands = Tcl_NewListObj(0, nullptr);
    for (const std::string &command : options.commands)
        Tcl_ListObjAppendElement(nullptr, commands, text_object(command));
    if (eval_words(in, {Tcl_NewStringObj("::viewer::start", -1), commands, text_object(failure)}) != TCL_OK) {
        std::fprintf(stderr, "corrugo-host: cannot open the viewer: %s\n", Tcl_GetStringResult(in));
        return 2;
    }
    refresh_all();
    Tk_MainLoop();
    end_plugin();
    return 0;
}

// }======

} // namespace programs
