// The host functions over the substitute host's model and Tcl interpreter.
#include "sim/host.h"

#include <tcl.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace sim {

// {====== State ======

namespace {

// A set of pointers with open addressing: the membership test behind the
// list functions, cheap enough for a million vertices.
class PointerSet {
public:
    void clear()
    {
        slots_.assign(16, nullptr);
        size_ = 0;
    }
    // Adds "p"; false when it was there already.
    bool insert(const void *p)
    {
        if (slots_.empty())
            clear();
        if ((size_ + 1) * 2 > slots_.size())
            grow();
        size_t i = slot(p);
        if (slots_[i])
            return false;
        slots_[i] = p;
        size_++;
        return true;
    }

private:
    size_t slot(const void *p) const
    {
        size_t mask = slots_.size() - 1;
        size_t i = (size_t)(((uintptr_t)p >> 3) * 0x9E3779B97F4A7C15ull >> 20) & mask;
        while (slots_[i] && slots_[i] != p)
            i = (i + 1) & mask;
        return i;
    }
    void grow()
    {
        std::vector<const void *> old(slots_.size() * 2, nullptr);
        old.swap(slots_);
        for (const void *p : old)
            if (p)
                slots_[slot(p)] = p;
    }
    std::vector<const void *> slots_;
    size_t size_ = 0;
};

struct UndoStep {
    std::string label;
    HostList *vertices;
    std::vector<float> positions; // x, y, z per vertex, in list order
};

// The list that list_append_list_unique last grew, so that growing it again
// costs only the items appended rather than a walk over the whole list.
struct AppendCache {
    HostList **head_address = nullptr;
    HostList *head = nullptr;
    HostList *tail = nullptr;
    PointerSet items;
};

struct Host {
    Tcl_Interp *interp = nullptr;
    Model model;
    TextSink message_sink = [](const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    TextSink debug_sink;
    std::function<void()> refresh_hook;
    bool tick_pinned = false;
    uint32_t tick = 0;
    std::vector<MenuItem> menu;
    std::vector<Registration> commands;
    Observations seen;
    std::vector<UndoStep> undo;
    AppendCache append;

    ~Host();
};

Host &host()
{
    static Host h;
    return h;
}

} // namespace

static void free_nodes(HostList *node)
{
    while (node) {
        HostList *next = node->next;
        std::free(node);
        node = next;
    }
}

static void drop_undo_steps(Host &h)
{
    for (UndoStep &step : h.undo)
        free_nodes(step.vertices);
    h.undo.clear();
    h.append = AppendCache();
}

Host::~Host()
{
    drop_undo_steps(*this);
    if (interp)
        Tcl_DeleteInterp(interp);
}

static std::string format_text(const char *format, va_list args)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if ((size_t)n < sizeof small)
        return std::string(small); // up to an embedded NUL, as a C text shows
    std::string text((size_t)n + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    return std::string(text.c_str());
}

// }======

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
    if (index == REMAKE_SUBDIVISIONS)
        host().seen.subdivision_rebuilds++;
    else
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

// {====== Embedding ======

Model &model()
{
    return host().model;
}

void replace_model(Model &&next)
{
    drop_undo_steps(host());
    host().model = std::move(next);
}

void set_message_sink(TextSink sink)
{
    host().message_sink = std::move(sink);
}

void set_debug_sink(TextSink sink)
{
    host().debug_sink = std::move(sink);
}

void set_refresh_hook(std::function<void()> hook)
{
    host().refresh_hook = std::move(hook);
}

void pin_tick(uint32_t tick)
{
    host().tick_pinned = true;
    host().tick = tick;
}

void unpin_tick()
{
    host().tick_pinned = false;
}

const std::vector<MenuItem> &menu_items()
{
    return host().menu;
}

const std::vector<Registration> &registered_commands()
{
    return host().commands;
}

Observations &observations()
{
    return host().seen;
}

// }======

// {====== Undo ======

size_t undo_depth()
{
    return host().undo.size();
}

const std::string &undo_label(size_t index)
{
    return host().undo.at(index).label;
}

bool undo()
{
    Host &h = host();
    if (h.undo.empty())
        return false;
    UndoStep step = std::move(h.undo.back());
    h.undo.pop_back();
    const float *p = step.positions.data();
    for (HostList *node = step.vertices; node; node = node->next, p += 3) {
        HostVertex *v = (HostVertex *)node->data;
        v->x = p[0];
        v->y = p[1];
        v->z = p[2];
    }
    list_free(&step.vertices);
    find_bounding_box();
    redraw_all();
    display_status();
    return true;
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

// {====== Host functions ======

static sim::Object *as_object(HostObject *object)
{
    return (sim::Object *)object;
}

static HostList *new_node(void *data)
{
    HostList *node = (HostList *)std::malloc(sizeof(HostList));
    if (!node)
        std::abort(); // the modeller has no way on without memory either
    node->data = data;
    node->next = nullptr;
    return node;
}

// Builds a new list of "items" (the caller frees it with list_free).
template <class T> static HostList *new_list(const std::vector<T *> &items)
{
    HostList *head = nullptr, **link = &head;
    for (T *item : items) {
        *link = new_node(item);
        link = &(*link)->next;
    }
    return head;
}

extern "C" {

uint32_t GetTickCount(void)
{
    if (host().tick_pinned)
        return host().tick;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

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

void ac_unbackslash_string(char *text)
{
    for (; *text; text++)
        if (*text == '\\')
            *text = '/';
}

void ac_add_tools_menu_item(const char *label, const char *command, const char *help)
{
    host().menu.push_back({label, command, help});
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

void windows_message_dialog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = sim::format_text(format, args);
    va_end(args);
    if (host().message_sink)
        host().message_sink(text);
}

void debugf(const char *format, ...)
{
    if (!host().debug_sink)
        return; // discarded: nothing is formatted
    va_list args;
    va_start(args, format);
    std::string text = sim::format_text(format, args);
    va_end(args);
    host().debug_sink(text);
}

int ac_get_select_mode(void)
{
    return host().model.selection.mode;
}

HostList *ac_selection_get_objects(void)
{
    return new_list(host().model.selection.objects);
}

HostList *ac_selection_get_surfaces(void)
{
    return new_list(host().model.selection.surfaces);
}

HostList *ac_selection_get_vertices(void)
{
    return new_list(host().model.selection.vertices);
}

HostList *ac_surfacelist_get_vertices(HostList *surfaces)
{
    sim::PointerSet seen;
    HostList *head = nullptr, **link = &head;
    for (HostList *node = surfaces; node; node = node->next) {
        const sim::Surface *surface = (const sim::Surface *)node->data;
        sim::Object *object = surface->owner;
        for (uint32_t i = 0; i < surface->ref_count; i++) {
            sim::Vertex *v = &object->vertices[object->refs[surface->first_ref + i]];
            if (seen.insert(v)) {
                *link = new_node(v);
                link = &(*link)->next;
            }
        }
    }
    return head;
}

// Host-owned lists are arrays of nodes kept by the object, built once.
static HostList *node_array(std::vector<HostList> &nodes, size_t count)
{
    if (count == 0)
        return nullptr;
    if (nodes.size() != count) {
        nodes.resize(count);
        for (size_t i = 0; i + 1 < count; i++)
            nodes[i].next = &nodes[i + 1];
        nodes[count - 1].next = nullptr;
    }
    return nodes.data();
}

HostList *ac_object_get_vertexlist(HostObject *object)
{
    sim::Object *o = as_object(object);
    HostList *head = node_array(o->vertex_nodes, o->vertices.size());
    for (size_t i = 0; i < o->vertex_nodes.size(); i++)
        o->vertex_nodes[i].data = &o->vertices[i];
    return head;
}

HostList *ac_object_get_childrenlist(HostObject *object)
{
    sim::Object *o = as_object(object);
    HostList *head = node_array(o->child_nodes, o->children.size());
    for (size_t i = 0; i < o->child_nodes.size(); i++)
        o->child_nodes[i].data = o->children[i];
    return head;
}

HostObject *object_of_vertex(HostVertex *vertex)
{
    return (HostObject *)((sim::Vertex *)vertex)->owner;
}

int ac_object_is_subdivided(HostObject *object)
{
    return as_object(object)->subdivided ? 1 : 0;
}

void list_append_list_unique(HostList **head, HostList *list)
{
    sim::AppendCache &cache = host().append;
    bool cached = *head && cache.head_address == head && cache.head == *head && cache.tail &&
                  !cache.tail->next;
    if (!cached) {
        cache.items.clear();
        cache.head_address = head;
        cache.tail = nullptr;
        for (HostList *node = *head; node; node = node->next) {
            cache.items.insert(node->data);
            cache.tail = node;
        }
    }
    HostList **link = cache.tail ? &cache.tail->next : head;
    for (HostList *node = list; node; node = node->next) {
        if (cache.items.insert(node->data)) {
            *link = new_node(node->data);
            cache.tail = *link;
            link = &(*link)->next;
        }
    }
    cache.head = *head;
}

void list_free(HostList **head)
{
    sim::AppendCache &cache = host().append;
    if (cache.head == *head || cache.head_address == head) {
        cache.head_address = nullptr;
        cache.head = cache.tail = nullptr;
    }
    sim::free_nodes(*head);
    *head = nullptr;
}

void add_undoable_vertex_positions(const char *label, HostList *vertices)
{
    sim::UndoStep step;
    step.label = label;
    step.vertices = vertices;
    for (HostList *node = vertices; node; node = node->next) {
        const HostVertex *v = (const HostVertex *)node->data;
        step.positions.insert(step.positions.end(), {v->x, v->y, v->z});
    }
    host().undo.push_back(std::move(step));
}

void find_bounding_box(void)
{
    sim::Box box;
    for (const auto &object : host().model.objects)
        for (const sim::Vertex &v : object->vertices) {
            const float p[3] = {v.x, v.y, v.z};
            for (int i = 0; i < 3; i++) {
                if (std::isnan(p[i]))
                    continue;
                if (box.empty || p[i] < box.min[i])
                    box.min[i] = p[i];
                if (box.empty || p[i] > box.max[i])
                    box.max[i] = p[i];
            }
            box.empty = false;
        }
    host().seen.box = box;
    host().seen.bounding_boxes++;
}

void redraw_all(void)
{
    host().seen.redraws++;
    if (host().refresh_hook)
        host().refresh_hook();
}

void display_status(void)
{
    const sim::Model &m = host().model;
    const sim::Selection &s = m.selection;
    char text[160];
    if (s.mode == sim::SELECT_SURFACES)
        std::snprintf(text, sizeof text, "%zu objects, %zu vertices; %zu surfaces selected",
                      m.objects.size() - 1, sim::count_vertices(m), s.surfaces.size());
    else if (s.mode == sim::SELECT_VERTICES)
        std::snprintf(text, sizeof text, "%zu objects, %zu vertices; %zu vertices selected",
                      m.objects.size() - 1, sim::count_vertices(m), s.vertices.size());
    else
        std::snprintf(text, sizeof text, "%zu objects, %zu vertices; %zu objects selected",
                      m.objects.size() - 1, sim::count_vertices(m), s.objects.size());
    host().seen.status = text;
    host().seen.status_updates++;
    if (host().refresh_hook)
        host().refresh_hook();
}

} // extern "C"

// }======
