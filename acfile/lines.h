// Lines and words of an AC3D text, as the reader and the writer both walk
// them: a line ends at "\n", and "\r" counts as a space.
#ifndef CORRUGO_ACFILE_LINES_H
#define CORRUGO_ACFILE_LINES_H

#include <cstddef>
#include <cstring>
#include <string_view>

namespace acfile {

// A line of the text, without its "\n".
struct Line {
    const char *begin, *end;
    size_t number;
};

static inline bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

static inline const char *skip_spaces(const char *p, const char *end)
{
    while (p < end && is_space(*p))
        p++;
    return p;
}

static inline const char *skip_word(const char *p, const char *end)
{
    while (p < end && !is_space(*p))
        p++;
    return p;
}

static inline const char *trim_end(const char *begin, const char *end)
{
    while (end > begin && is_space(end[-1]))
        end--;
    return end;
}

// The end of the line that starts at "p": its "\n", or "end".
static inline const char *line_end(const char *p, const char *end)
{
    const void *newline = std::memchr(p, '\n', end - p);
    return newline ? static_cast<const char *>(newline) : end;
}

// The start of the first line from "p" (a line start) that is not blank, or
// "end"; adds the blank lines passed to "lines". The reader and the writer
// both find vertex lines this way.
static inline const char *skip_blank_lines(const char *p, const char *end, size_t &lines)
{
    for (;;) {
        const char *q = skip_spaces(p, end);
        if (q == end)
            return end;
        if (*q != '\n')
            return p;
        p = q + 1;
        lines++;
    }
}

static inline std::string_view first_word(const char *begin, const char *end)
{
    const char *p = skip_spaces(begin, end);
    return std::string_view(p, skip_word(p, end) - p);
}

} // namespace acfile

#endif
