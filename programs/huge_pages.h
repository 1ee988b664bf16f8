// Large models on huge pages: the memory a job on a large model takes is
// most of it fresh (the model, the host's lists, the undo record), and on
// Linux each 4 KiB page of it is a fault the kernel takes on first touch.
// Where the system gives huge pages to the programs that ask for them (the
// usual "madvise" setting of transparent huge pages), malloc asks for them
// only when told so before the program starts (the glibc tunable
// glibc.malloc.hugetlb=1), so corrugo-host, given a large model, starts
// itself again once with it.
#ifndef CORRUGO_PROGRAMS_HUGE_PAGES_H
#define CORRUGO_PROGRAMS_HUGE_PAGES_H

#include <string>

namespace programs {

// Models from this size on are worth the second start (about a millisecond).
const long long HUGE_PAGES_FROM = 16ll << 20;

// The value of GLIBC_TUNABLES that asks malloc for huge pages, given its
// value "tunables" now (null: unset), for a model file of "model_size" bytes
// (negative: not a file of known size) where the system's setting reads
// "enabled" (the text of /sys/kernel/mm/transparent_hugepage/enabled); empty
// when the job would gain nothing: a small model, huge pages given to every
// program or to none, or the tunable already set either way.
std::string huge_page_tunables(long long model_size, const std::string &enabled,
                               const char *tunables);

// Starts the program again ("argv" as given to main) with malloc on huge
// pages when huge_page_tunables says it gains by it; returns when it does
// not, or cannot, with nothing changed.
void start_on_huge_pages(const std::string &model, char **argv);

} // namespace programs

#endif
