// Making the parts of a text on two threads and handing them on in order.
//
// The design. The writer cuts the text into parts (a few tens of thousands
// of vertex lines each) that can be made apart: "make" formats the moved
// vertices of part k and gathers its pieces. The calling thread (the first)
// hands the parts to "take" in order 0, 1, 2... (which writes them out), and
// makes the next part itself whenever the one it waits for is not made yet;
// a helper thread (the second) makes parts ahead of it. Parts made ahead wait
// in SLOTS slots, so the memory this takes does not grow with the text.
//
// The rules its code keeps, which a change here must keep too:
// - Which thread runs what. Either thread runs "make", for whichever part is
//   next to make; only the first runs "take". "make" may read the model and
//   the source (neither changes while writing) and write only the part it is
//   given; "take" writes only to its own output.
// - What is shared: "next" (the next part to make), "taken" (the next to hand
//   on), "made" (which slots hold a part made) and "stop", all under "mutex";
//   a slot belongs to the thread that claimed its part (next++) until it is
//   marked made, then to the first until it is taken. "changed" wakes either
//   thread when any of these moves.
// - Order: part k goes to slot k % SLOTS and is claimed only while
//   k < taken + SLOTS, so a slot is never made again before it is taken; the
//   first hands on "taken" alone, in order. So what is written is what one
//   thread writes.
// - Failures that cross: std::bad_alloc in "make" on either thread stops the
//   making ("stop", "out_of_memory") and is thrown again on the first once
//   the second has stopped. "take" returning false (a write failed) stops it
//   too, and so does std::bad_alloc thrown by "take", which goes on up once
//   the second has stopped. Nothing else is thrown.
// - Shutting down: however the handing on ends, Join's destructor sets
//   "stop", wakes the helper and joins it before the slots are destroyed.
// - One thread ("threads" 1, a single part, or no thread to be had) makes and
//   takes each part in turn, with the same "make" and "take".
#include "acfile/write_parts.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace acfile {

void make_in_order(size_t parts, int threads, const std::function<void(size_t, Part &)> &make,
                   const std::function<bool(const Part &)> &take)
{
    if (threads < 2 || parts < 2) {
        Part part;
        for (size_t k = 0; k < parts; k++) {
            make(k, part);
            if (!take(part))
                return;
        }
        return;
    }
    const size_t SLOTS = 4;
    std::vector<Part> slot(SLOTS);
    std::vector<char> made(SLOTS, 0);
    size_t next = 0, taken = 0; /* the next part to make, to hand on */
    bool stop = false, out_of_memory = false;
    std::mutex mutex;
    std::condition_variable changed;
    // Makes the next part if its slot is free: false when there is none to make.
    auto make_next = [&](std::unique_lock<std::mutex> &lock) {
        if (stop || next == parts || next >= taken + SLOTS)
            return false;
        size_t k = next++;
        lock.unlock();
        bool ok = true;
        try {
            make(k, slot[k % SLOTS]);
        } catch (const std::bad_alloc &) {
            ok = false;
        }
        lock.lock();
        if (!ok)
            stop = out_of_memory = true;
        made[k % SLOTS] = 1;
        changed.notify_all();
        return true;
    };
    auto help = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stop && next < parts)
            if (!make_next(lock))
                changed.wait(lock);
    };
    std::thread helper;
    try {
        helper = std::thread(help);
    } catch (const std::system_error &) {
        /* no second thread to be had: this one makes every part */
    }
    // However the handing on ends, the helper stops and is waited for.
    struct Join {
        std::thread &helper;
        std::mutex &mutex;
        std::condition_variable &changed;
        bool &stop;
        ~Join()
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            if (helper.joinable())
                helper.join();
        }
    } join{helper, mutex, changed, stop};
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop && taken < parts) {
        if (made[taken % SLOTS]) {
            lock.unlock();
            bool go_on = take(slot[taken % SLOTS]);
            lock.lock();
            made[taken % SLOTS] = 0;
            taken++;
            stop = stop || !go_on;
            changed.notify_all();
        } else if (!make_next(lock)) {
            changed.wait(lock);
        }
    }
    if (out_of_memory)
        throw std::bad_alloc();
}

} // namespace acfile
