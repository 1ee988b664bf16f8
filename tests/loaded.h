// A model read from text in memory, as the reader tests use it, and its text
// written back.
#ifndef CORRUGO_TESTS_LOADED_H
#define CORRUGO_TESTS_LOADED_H

#include "acfile/acfile.h"

#include <string>

struct Loaded {
    sim::Model model;
    sim::AcSource source;
    std::string error;
    bool ok = false;
};

// Reads "text" as the file "model.ac".
inline Loaded load(const std::string &text)
{
    Loaded l;
    l.ok = sim::read_ac(text, "model.ac", l.model, l.source, l.error);
    return l;
}

inline std::string save(const Loaded &l)
{
    std::string out;
    sim::write_ac(l.model, l.source, out);
    return out;
}

#endif
