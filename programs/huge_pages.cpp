// Starting again with malloc on huge pages: huge_pages.h says why.
#include "programs/huge_pages.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <sys/stat.h>
#include <unistd.h>

namespace programs {

static const char TUNABLE[] = "glibc.malloc.hugetlb";

std::string huge_page_tunables(long long model_size, const std::string &enabled,
                               const char *tunables)
{
    if (model_size < HUGE_PAGES_FROM || enabled.find("[madvise]") == std::string::npos)
        return "";
    std::string now = tunables ? tunables : "";
    if (now.find(TUNABLE) != std::string::npos)
        return ""; /* asked for already, or refused by whoever set it */
    return now + (now.empty() ? "" : ":") + TUNABLE + "=1";
}

void start_on_huge_pages(const std::string &model, char **argv)
{
#if defined(__linux__) && defined(__GLIBC__) &&                                                     \
    (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 35))
    struct stat st;
    if (model == "-" || stat(model.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string enabled((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const char *now = std::getenv("GLIBC_TUNABLES");
    std::string before = now ? now : "";
    std::string tunables = huge_page_tunables(st.st_size, enabled, now);
    if (tunables.empty() || setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    /* not started again (no /proc, say): on as it was */
    if (now)
        setenv("GLIBC_TUNABLES", before.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
#else
    (void)model;
    (void)argv;
#endif
}

} // namespace programs
