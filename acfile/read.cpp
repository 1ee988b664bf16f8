// Reading AC3D text model files into a model, keeping what the writer needs to
// give the file back: the entry points. See acfile.h for what the format
// leaves open, reader.h for how the reading is made.
#include "acfile/read.h"
#include "acfile/read_ahead.h"
#include "acfile/reader.h"

#include <new>
#include <utility>

namespace acfile {

// Reads the bytes "s" holds, from the second thread's "start" on too unless
// it is null.
static bool read_source_from(AcSource &s, const std::string &file, Model &model,
                             AcSource &source, std::string &error, const char *start)
{
    std::string_view bytes = s.bytes();
    const char *begin = bytes.data(), *end = begin + bytes.size();
    const MappedFile *mapped = s.mapped.data() ? &s.mapped : nullptr;
    try {
        Model m;
        Reader r{file, begin, end, 0, m, s, begin, mapped, begin};
        ReadAheadPtr ahead(start ? start_read_ahead(file, begin, start, end, mapped) : nullptr);
        read_text(r, ahead.get());
        ahead.reset(); /* a second thread let go may still read "s": not once it moves */
        model = std::move(m);
        source = std::move(s);
        return true;
    } catch (const ReadError &e) {
        error = e.message(file);
    } catch (const std::bad_alloc &) {
        error = file + ": cannot read: not enough memory for the model";
    }
    return false;
}

bool read_source(AcSource &s, const std::string &file, Model &model, AcSource &source,
                 std::string &error, int threads)
{
    std::string_view bytes = s.bytes();
    const char *start = nullptr;
    if (threads > 1 && bytes.size() >= AHEAD_MINIMUM)
        start = ahead_start(bytes.data(), bytes.data() + bytes.size());
    return read_source_from(s, file, model, source, error, start);
}

bool read_source_split(AcSource &s, const std::string &file, Model &model, AcSource &source,
                       std::string &error, size_t split)
{
    return read_source_from(s, file, model, source, error, s.bytes().data() + split);
}

bool read_ac(std::string text, const std::string &file, Model &model, AcSource &source,
             std::string &error, int threads)
{
    AcSource s;
    s.text = std::move(text);
    return read_source(s, file, model, source, error, threads);
}

} // namespace acfile
