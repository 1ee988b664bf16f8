// The substitute host's state, shared by its host functions and its Tcl
// layer; not for embedding programs (they use sim/host.h).
#ifndef CORRUGO_SIM_HOST_STATE_H
#define CORRUGO_SIM_HOST_STATE_H

#include "sim/host.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

// A set of pointers with open addressing: the membership test behind the
// list functions when they cannot tell membership by object.
class PointerSet {
public:
    void clear()
    {
        slots_.assign(16, nullptr);
        size_ = 0;
    }
    bool empty() const { return size_ == 0; }
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

// The list nodes the host makes, carved from chunks rather than allocated one
// at a time: a node released goes on a free list for the next one taken, and
// the chunks are freed together with the pool, at the end of the process.
// Under AddressSanitizer, nodes not in use are poisoned, so that a node used
// or released after its release is still reported.
class NodePool {
public:
    NodePool() = default;
    NodePool(const NodePool &) = delete;
    NodePool &operator=(const NodePool &) = delete;
    ~NodePool();

    HostList *take();
    // Takes back every node of the list that starts at "head".
    void release(HostList *head);
    // Nodes taken and not yet released.
    size_t live() const { return live_; }

private:
    std::vector<HostList *> chunks_;
    size_t live_ = 0;
    size_t left_ = 0;           // nodes never taken at the end of the last chunk
    HostList *free_ = nullptr;  // released nodes, linked by "next"
};

struct UndoStep {
    std::string label;
    HostList *vertices;
    std::vector<float> positions; // x, y, z per vertex, in list order
};

// The list that list_append_list_unique last grew, so that growing it again
// costs only the items appended rather than a walk over the whole list. What
// it holds is known two ways: objects whose vertex lists were appended whole
// (while nothing else was, no vertex of theirs can be there twice, so
// appending another object's list whole needs no test per vertex), and a set
// of every other item.
struct AppendCache {
    HostList **head_address = nullptr;
    HostList *head = nullptr;
    HostList *tail = nullptr;
    std::vector<acfile::Object *> whole; // in "whole_set" too
    PointerSet whole_set;
    PointerSet items;
    // The last list ac_object_get_vertexlist handed out, and its object.
    const HostList *handed = nullptr;
    acfile::Object *handed_object = nullptr;
};

// The lists of an object's vertices and children that the host hands out as
// its own: arrays of nodes, linked once and kept.
struct ObjectLists {
    std::vector<HostList> vertices, children;
};

struct Host {
    Tcl_Interp *interp = nullptr; // created on first use, kept to the end
    acfile::Model model;
    Selection selection; // in "model"
    TextSink message_sink = [](const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    TextSink debug_sink;
    std::function<void()> refresh_hook;
    bool tick_pinned = false;
    uint32_t tick = 0;
    std::vector<MenuItem> menu;
    std::vector<Registration> commands;
    Observations seen;
    NodePool nodes; // before "undo", whose lists are its nodes
    std::vector<UndoStep> undo;
    AppendCache append;
    std::unordered_map<const acfile::Object *, ObjectLists> lists; // of "model"'s objects

    ~Host();
};

// The one host of this process.
Host &host();

// printf-style formatting into a text, which ends at an embedded NUL as a C
// text shown by the host would.
std::string format_text(const char *format, va_list args);

// Releases list nodes made by the host.
void free_nodes(HostList *head);

} // namespace sim

#endif
