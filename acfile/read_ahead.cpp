// Reading a large text on two threads.
//
// The design. The second thread reads the objects that follow one another
// from an OBJECT line in the second half of the text (ahead_start) on, each as
// far as its kids line, while the first reads the text from its start as one
// thread would. When the first comes to that line at the start of an object,
// it waits for the second (join) and takes over what it read (adopt): it
// places those objects in the tree, in their parents' frames, checks what
// depends on what came before, in the order the reading of one thread would,
// and goes on where the second stopped. So the model, the source and the
// first error are those of one thread. Should the line turn out to lie
// elsewhere (in data, say, or before the world), the first lets the second go
// (abandoned) and reads on by itself; what the second read is thrown away.
//
// The rules its code keeps, which a change here must keep too:
// - Which thread runs what. The second runs read_ahead alone: read_object and
//   the helpers below it (read_lines.cpp, read_object.cpp), which run on both
//   threads and touch only the Reader, ObjectState and objects they are
//   given, and the text, which nobody writes. It has a Reader of its own over
//   its own ReadAhead::model and ::source, and never places objects
//   (place_object, next_parent and the tree are the first thread's).
// - What the two share while both run: the text (read only), the pages of a
//   mapped file that each gives back as it passes them (a page given back is
//   read again from the file: harmless if both do), and "abandoned", the one
//   field the first writes while the second runs (atomic). Everything else
//   the second wrote is the first's only after join, which orders it.
// - Line numbers. The second counts lines from the line before its start, so
//   its numbers are short by the lines before that line, which only the first
//   knows when it gets there ("base"): adopt adds it to every number it takes
//   over, the heads, numvert and kids lines, and a failure's line and the line
//   its message names ("... on line N").
// - Failures that cross. Only a ReadError and std::bad_alloc are caught on the
//   second thread, kept with the object they stopped (failed_head) and thrown
//   again by adopt on the first, after the objects before it are placed, so
//   that an earlier failure on the first thread wins as it would. Nothing
//   else is thrown by the reading.
// - Destruction. ReadAhead's destructor sets "abandoned" and joins before its
//   members (the second thread's model and source) are destroyed; the first
//   thread's ReadAheadPtr lives inside the reading's try block, so that a
//   failure on the first thread stops and waits for the second before the
//   text and the file name it reads are gone.
// - One thread: a text shorter than AHEAD_MINIMUM, "threads" 1, or no thread
//   to be had (start_read_ahead gives null) read the same code without any of
//   this.
#include "acfile/read_ahead.h"

#include <atomic>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace acfile {

// An object read ahead: line numbers counted from the line before the start.
struct AheadObject {
    std::unique_ptr<Object> object;
    Line head;
    ObjectState state;
    size_t kids, kids_line;
};

struct ReadAhead {
    Model model;     /* the second thread's own, which its objects are not added to */
    AcSource source; /* the second thread's own: it counts its quick lines */
    const char *start; /* the OBJECT line the second thread starts on */
    std::vector<AheadObject> objects;
    const char *stop = nullptr; /* where it stopped: at a line that is no OBJECT, or the end */
    size_t stop_lines = 0;      /* the lines before "stop" */
    bool failed = false;        /* in the object after the last one read */
    bool out_of_memory = false;
    ReadError error;
    Line failed_head;
    std::atomic<bool> abandoned{false};
    std::thread worker; /* the second thread, until joined */

    ~ReadAhead()
    {
        abandoned = true;
        if (worker.joinable())
            worker.join();
    }
};

static void read_ahead(Reader &r, ReadAhead &a)
{
    try {
        while (!a.abandoned.load(std::memory_order_relaxed)) {
            size_t lines = r.line_number;
            const char *q = skip_blank_lines(r.p, r.end, lines);
            if (q == r.end || first_word(q, line_end(q, r.end)) != "OBJECT")
                break;
            Line head;
            next_line(r, head);
            a.failed_head = head;
            check_type(r, head);
            AheadObject ahead{std::make_unique<Object>(), head, {}, 0, 0};
            ahead.state = ObjectState{ahead.object.get(), 0, &ahead.head, -1};
            ahead.kids = read_object(r, ahead.state);
            ahead.kids_line = r.line_number;
            ahead.state.head = nullptr; /* "head" moves with the object: adopt points it again */
            a.objects.push_back(std::move(ahead));
            release_read(r);
        }
        a.stop = r.p;
        a.stop_lines = r.line_number;
    } catch (const ReadError &e) {
        a.failed = true;
        a.error = e;
    } catch (const std::bad_alloc &) {
        a.failed = true;
        a.out_of_memory = true;
    }
}

// Takes over what was read ahead from the line at r.p, the start of the next
// object, which is "base" lines into the text.
static void adopt(Reader &r, TreeState &t, ReadAhead &a, size_t base)
{
    for (AheadObject &ahead : a.objects) {
        Line head = ahead.head;
        head.number += base;
        int32_t frame;
        Object *parent = next_parent(r, t, head, frame);
        Object *object = ahead.object.get();
        object->parent = parent ? parent : r.model.world;
        object->parent->children.push_back(object);
        r.model.objects.push_back(std::move(ahead.object));
        ObjectState &o = ahead.state;
        o.model_index = uint32_t(r.model.objects.size() - 1);
        o.head = &head;
        o.parent_frame = frame;
        o.numvert_line += base;
        frame = place_object(r, o);
        close_object(t, object, frame, ahead.kids, base + ahead.kids_line);
    }
    if (a.failed) {
        Line head = a.failed_head;
        head.number += base;
        int32_t frame;
        next_parent(r, t, head, frame);
        if (a.out_of_memory)
            throw std::bad_alloc();
        ReadError e = a.error;
        e.line += base;
        if (e.named_line)
            e.named_line += base;
        throw e;
    }
    r.p = a.stop;
    r.line_number = base + a.stop_lines;
}

void ReadAheadEnd::operator()(ReadAhead *ahead) const { delete ahead; }

ReadAheadPtr start_read_ahead(const std::string &file, const char *begin, const char *start,
                              const char *end, const MappedFile *mapped)
{
    ReadAheadPtr ahead(new ReadAhead);
    ReadAhead *a = ahead.get();
    a->start = start;
    try {
        a->worker = std::thread([&file, a, begin, start, end, mapped] {
            Reader r{file, start, end, 0, a->model, a->source, begin, mapped, start};
            read_ahead(r, *a);
        });
    } catch (const std::system_error &) {
        return nullptr; /* no second thread to be had */
    }
    return ahead;
}

const char *ahead_start_line(const ReadAhead &ahead) { return ahead.start; }

void take_over(Reader &r, TreeState &t, ReadAhead &a, const char *at, size_t lines)
{
    if (at == a.start && t.roots) { /* else the first object may be the world */
        a.worker.join();
        r.p = at;
        adopt(r, t, a, lines);
    } else {
        a.abandoned = true;
    }
}

const char *ahead_start(const char *text, const char *end)
{
    static const char key[] = "\nOBJECT";
    const size_t n = sizeof key - 1;
    for (const char *p = text + (end - text) / 2; p < end;) {
        const void *found = memmem(p, size_t(end - p), key, n);
        if (!found)
            return nullptr;
        p = static_cast<const char *>(found) + 1;
        if (p + n - 1 < end && is_space(p[n - 1]))
            return p;
    }
    return nullptr;
}

} // namespace acfile
