// The host functions over the substitute host's model: selection, lists,
// undo, messages and refresh. The Tcl side is in host_tcl.cpp.
#include "sim/host_state.h"

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

using namespace acfile;

namespace sim {

// {====== State ======

Host &host()
{
    static Host h;
    return h;
}

// The interpreter is left to the end of the process, as the modeller's is.
// The undo steps' lists go with the node pool's chunks, all at once.
Host::~Host() = default;

std::string format_text(const char *format, va_list args)
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

// {====== List nodes ======

#if defined(__SANITIZE_ADDRESS__)
#define POISON(p, size) ASAN_POISON_MEMORY_REGION(p, size)
#define UNPOISON(p, size) ASAN_UNPOISON_MEMORY_REGION(p, size)
#else
#define POISON(p, size) ((void)(p), (void)(size))
#define UNPOISON(p, size) ((void)(p), (void)(size))
#endif

static const size_t CHUNK_NODES = 16384; // 256 KiB on 64 bits

HostList *NodePool::take()
{
    HostList *node;
    if (free_) {
        node = free_;
        UNPOISON(node, sizeof *node);
        free_ = node->next;
    } else {
        if (left_ == 0) {
            // Out of memory, the program's new handler decides what happens:
            // the modeller has no way on either.
            HostList *chunk = (HostList *)::operator new(CHUNK_NODES * sizeof(HostList));
            POISON(chunk, CHUNK_NODES * sizeof(HostList));
            chunks_.push_back(chunk);
            left_ = CHUNK_NODES;
        }
        node = chunks_.back() + (CHUNK_NODES - left_--);
        UNPOISON(node, sizeof *node);
    }
    live_++;
    return node;
}

// The list goes on the free list whole, in its order, so that the next list
// made from its nodes walks memory the same way.
void NodePool::release(HostList *head)
{
    if (!head)
        return;
    HostList *tail = head;
    live_--;
    while (tail->next) {
        HostList *next = tail->next;
        POISON(tail, sizeof *tail);
        tail = next;
        live_--;
    }
    tail->next = free_;
    POISON(tail, sizeof *tail);
    free_ = head;
}

NodePool::~NodePool()
{
    for (HostList *chunk : chunks_) {
        UNPOISON(chunk, CHUNK_NODES * sizeof(HostList));
        ::operator delete(chunk);
    }
}

void free_nodes(HostList *head)
{
    host().nodes.release(head);
}

// }======

// {====== Embedding ======

Model &model() { return host().model; }

void replace_model(Model &&next)
{
    Host &h = host();
    for (UndoStep &step : h.undo)
        free_nodes(step.vertices);
    h.undo.clear();
    h.append = AppendCache();
    h.lists.clear();
    h.selection = Selection{};
    h.model = std::move(next);
}

Selection &selection() { return host().selection; }

void set_message_sink(TextSink sink) { host().message_sink = std::move(sink); }

// Whether debug output has a sink: what debugf, called for every vertex a
// command moves, asks first, without reaching for the host's state.
static bool debug_wanted = false;

void set_debug_sink(TextSink sink)
{
    host().debug_sink = std::move(sink);
    debug_wanted = bool(host().debug_sink);
}

void set_refresh_hook(std::function<void()> hook) { host().refresh_hook = std::move(hook); }

void pin_tick(uint32_t tick)
{
    host().tick_pinned = true;
    host().tick = tick;
}

void unpin_tick() { host().tick_pinned = false; }

const std::vector<MenuItem> &menu_items() { return host().menu; }

const std::vector<Registration> &registered_commands() { return host().commands; }

Observations &observations() { return host().seen; }

size_t live_list_nodes() { return host().nodes.live(); }

// }======

// {====== Undo ======

size_t undo_depth() { return host().undo.size(); }

const std::string &undo_label(size_t index) { return host().undo.at(index).label; }

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

Box bounding_box(const acfile::Model &model)
{
    // Starts empty at +inf/-inf, so that each coordinate costs two compares
    // and no test of its own: a NaN fails both and is passed over, and of
    // equal coordinates (zeros of both signs) the first met is kept.
    Box box;
    for (int k = 0; k < 3; k++) {
        box.min[k] = HUGE_VALF;
        box.max[k] = -HUGE_VALF;
    }
    for (const auto &object : model.objects)
        for (const acfile::Vertex &v : object->vertices) {
            const float c[3] = {v.x, v.y, v.z};
            for (int k = 0; k < 3; k++) {
                if (c[k] < box.min[k])
                    box.min[k] = c[k];
                if (c[k] > box.max[k])
                    box.max[k] = c[k];
            }
            box.empty = false;
        }
    return box;
}

} // namespace sim

using sim::host;

// {====== Host functions ======

static acfile::Object *as_object(HostObject *object)
{
    return (acfile::Object *)object;
}

// Puts a new node of "data" at "*link", the end of a list being built, and
// moves "link" on to the new end.
static HostList *append_node(HostList **&link, void *data)
{
    HostList *node = *link = host().nodes.take();
    node->data = data;
    node->next = nullptr;
    link = &node->next;
    return node;
}

// Builds a new list of "items" (the caller frees it with list_free).
template <class T> static HostList *new_list(const std::vector<T *> &items)
{
    HostList *head = nullptr, **link = &head;
    for (T *item : items)
        append_node(link, item);
    return head;
}

// A host-owned list of "count" items, "item(i)" the i-th: "nodes", linked
// when first used at that length, its items set again on every request.
template <class Item> static HostList *node_array(std::vector<HostList> &nodes, size_t count, Item item)
{
    if (count == 0)
        return nullptr; // the empty list
    if (nodes.size() != count) {
        nodes.resize(count);
        for (size_t i = 0; i + 1 < count; i++)
            nodes[i].next = &nodes[i + 1];
        nodes[count - 1].next = nullptr;
    }
    for (size_t i = 0; i < count; i++)
        nodes[i].data = item(i);
    return nodes.data();
}

extern "C" {

uint32_t GetTickCount(void)
{
    if (host().tick_pinned)
        return host().tick;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
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
    if (!sim::debug_wanted)
        return; // discarded: nothing is formatted
    va_list args;
    va_start(args, format);
    std::string text = sim::format_text(format, args);
    va_end(args);
    host().debug_sink(text);
}

int ac_get_select_mode(void)
{
    return host().selection.mode;
}

HostList *ac_selection_get_objects(void)
{
    return new_list(host().selection.objects);
}

HostList *ac_selection_get_surfaces(void)
{
    return new_list(host().selection.surfaces);
}

HostList *ac_selection_get_vertices(void)
{
    return new_list(host().selection.vertices);
}

HostList *ac_surfacelist_get_vertices(HostList *surfaces)
{
    sim::PointerSet seen;
    HostList *head = nullptr, **link = &head;
    for (HostList *node = surfaces; node; node = node->next) {
        const acfile::Surface *surface = (const acfile::Surface *)node->data;
        acfile::Object *object = surface->owner;
        for (uint32_t i = 0; i < surface->ref_count; i++) {
            acfile::Vertex *v = &object->vertices[object->refs[surface->first_ref + i]];
            if (seen.insert(v))
                append_node(link, v);
        }
    }
    return head;
}

HostList *ac_object_get_vertexlist(HostObject *object)
{
    acfile::Object *o = as_object(object);
    host().seen.vertex_list_requests++;
    HostList *head = node_array(host().lists[o].vertices, o->vertices.size(),
                                [o](size_t i) { return &o->vertices[i]; });
    host().append.handed = head;
    host().append.handed_object = o;
    return head;
}

HostList *ac_object_get_childrenlist(HostObject *object)
{
    acfile::Object *o = as_object(object);
    host().seen.children_list_requests++;
    return node_array(host().lists[o].children, o->children.size(),
                      [o](size_t i) { return o->children[i]; });
}

HostObject *object_of_vertex(HostVertex *vertex)
{
    return (HostObject *)((acfile::Vertex *)vertex)->owner;
}

int ac_object_is_subdivided(HostObject *object)
{
    return as_object(object)->subdivided ? 1 : 0;
}

// The object whose vertices, all of them and in order, are the items of
// "list", when "list" is the vertex list ac_object_get_vertexlist handed out
// last; else null.
static acfile::Object *whole_vertex_list(const sim::AppendCache &cache, const HostList *list)
{
    if (list != cache.handed)
        return nullptr; // not the list handed out last
    acfile::Object *object = cache.handed_object;
    size_t i = 0, n = object->vertices.size();
    for (const HostList *node = list; node; node = node->next, i++)
        if (i == n || node->data != &object->vertices[i])
            return nullptr; // changed since it was handed out
    return i == n ? object : nullptr;
}

void list_append_list_unique(HostList **head, HostList *list)
{
    if (!list)
        return; /* nothing to append, and nothing to learn about the list */
    sim::AppendCache &cache = host().append;
    bool cached = *head && cache.head_address == head && cache.head == *head && cache.tail &&
                  !cache.tail->next;
    if (!cached) {
        cache.whole.clear();
        cache.whole_set.clear();
        cache.items.clear();
        cache.head_address = head;
        cache.tail = nullptr;
        for (HostList *node = *head; node; node = node->next) {
            cache.items.insert(node->data);
            cache.tail = node;
        }
    }
    HostList **link = cache.tail ? &cache.tail->next : head;
    acfile::Object *object = cache.items.empty() ? whole_vertex_list(cache, list) : nullptr;
    if (object) {
        if (cache.whole_set.insert(object)) { /* else every vertex is there already */
            cache.whole.push_back(object);
            for (acfile::Vertex &v : object->vertices)
                cache.tail = append_node(link, &v);
        }
    } else {
        // What the cache knows by object goes into its set of items, as
        // this list is tested item by item.
        for (acfile::Object *whole : cache.whole)
            for (acfile::Vertex &v : whole->vertices)
                cache.items.insert(&v);
        cache.whole.clear();
        cache.whole_set.clear();
        for (HostList *node = list; node; node = node->next)
            if (cache.items.insert(node->data))
                cache.tail = append_node(link, node->data);
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
    size_t n = 0;
    for (HostList *node = vertices; node; node = node->next)
        n++;
    step.positions.resize(3 * n);
    float *p = step.positions.data();
    for (HostList *node = vertices; node; node = node->next, p += 3) {
        const HostVertex *v = (const HostVertex *)node->data;
        p[0] = v->x;
        p[1] = v->y;
        p[2] = v->z;
    }
    host().undo.push_back(std::move(step));
}

void find_bounding_box(void)
{
    host().seen.box = sim::bounding_box(host().model);
    host().seen.bounding_boxes++;
    host().seen.refreshes.push_back("find_bounding_box");
}

void redraw_all(void)
{
    host().seen.redraws++;
    host().seen.refreshes.push_back("redraw_all");
    if (host().refresh_hook)
        host().refresh_hook();
}

// "1 object", "2 objects"
static std::string count_of(size_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void display_status(void)
{
    const acfile::Model &m = host().model;
    const sim::Selection &s = host().selection;
    std::string text = count_of(m.objects.size() - 1, "object", "objects") + ", " +
                       count_of(acfile::count_vertices(m), "vertex", "vertices") + "; ";
    if (s.mode == SELECT_SURFACES)
        text += count_of(s.surfaces.size(), "surface", "surfaces");
    else if (s.mode == SELECT_VERTICES)
        text += count_of(s.vertices.size(), "vertex", "vertices");
    else
        text += count_of(s.objects.size(), "object", "objects");
    text += " selected";
    host().seen.status = text;
    host().seen.status_updates++;
    host().seen.refreshes.push_back("display_status");
    if (host().refresh_hook)
        host().refresh_hook();
}

} // extern "C"

// }======
