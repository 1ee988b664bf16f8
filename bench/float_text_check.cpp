// corrugo_float_text_check: compares acfile::format_float with std::to_chars
// for every one of the 2^32 float bit patterns, on two threads, and prints
// the first differences and their count. It takes a few minutes; bench/run
// does not run it.
//
// usage: corrugo_float_text_check
#include "acfile/acfile.h"

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

int main()
{
    const int threads = 2;
    std::atomic<unsigned long long> differences{0};
    auto check = [&](int first) {
        char ours[64], theirs[64];
        for (uint64_t i = uint64_t(first); i < (uint64_t(1) << 32); i += threads) {
            uint32_t bits = uint32_t(i);
            float f;
            std::memcpy(&f, &bits, sizeof f);
            char *end = acfile::format_float(ours, ours + sizeof ours, f);
            char *expected = std::to_chars(theirs, theirs + sizeof theirs, f).ptr;
            bool same = end - ours == expected - theirs &&
                        std::memcmp(ours, theirs, size_t(end - ours)) == 0;
            if (!same && differences++ < 20)
                std::printf("%08x: %.*s, to_chars %.*s\n", (unsigned)bits, int(end - ours), ours,
                            int(expected - theirs), theirs);
        }
    };
    std::thread a(check, 0), b(check, 1);
    a.join();
    b.join();
    std::printf("%llu differences in 2^32 floats\n", (unsigned long long)differences.load());
    return differences ? 1 : 0;
}
