// A model read from text in memory, as the reader tests use it, and its text
// written back.
//
// Every text the tests read is also read on two threads, the second reading
// ahead from each line that starts with OBJECT in turn, and must come out as
// the same model, source and message as on one thread.
#ifndef CORRUGO_TESTS_LOADED_H
#define CORRUGO_TESTS_LOADED_H

#include "acfile/acfile.h"
#include "acfile/read.h"
#include "acfile/write.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <cstring>
#include <string>

struct Loaded {
    acfile::Model model;
    acfile::AcSource source;
    std::string error;
    bool ok = false;
};

// Everything a reading gives, down to the bits of every number, as text that
// two readings can be compared by.
inline std::string describe(const Loaded &l)
{
    std::string d = l.ok ? "read\n" : "failed: " + l.error + "\n";
    char buf[64];
    auto bits = [&](const void *p, size_t n) {
        for (size_t i = 0; i < n; i++) {
            std::snprintf(buf, sizeof buf, "%02x", static_cast<const unsigned char *>(p)[i]);
            d += buf;
        }
        d += ' ';
    };
    auto index_of = [&](const acfile::Object *o) {
        for (size_t i = 0; i < l.model.objects.size(); i++)
            if (l.model.objects[i].get() == o)
                return std::to_string(i);
        return std::string(o ? "?" : "-");
    };
    for (const auto &o : l.model.objects) {
        d += "object " + o->name + " parent " + index_of(o->parent) +
             (o->subdivided ? " subdivided" : "") + "\n kids";
        for (const acfile::Object *k : o->children)
            d += " " + index_of(k);
        d += "\n vertices ";
        for (const acfile::Vertex &v : o->vertices) {
            bits(&v.x, 12);
            d += v.owner == o.get() ? "" : "(not its own) ";
        }
        d += "\n refs";
        for (uint32_t r : o->refs)
            d += " " + std::to_string(r);
        d += "\n surfaces";
        for (const acfile::Surface &s : o->surfaces)
            d += " " + std::to_string(s.first_ref) + "+" + std::to_string(s.ref_count) +
                 (s.owner == o.get() ? "" : "(not its own)");
        d += "\n";
    }
    for (const auto &r : l.source.objects)
        d += "record " + std::to_string(r.model_index) + " frame " + std::to_string(r.frame) +
             " text " + std::to_string(r.vertex_text) + " first " +
             std::to_string(r.first_vertex) + " count " + std::to_string(r.vertex_count) + "\n";
    for (const auto &f : l.source.frames) {
        d += "frame ";
        bits(&f.m, sizeof f.m);
        bits(&f.t, sizeof f.t);
        if (f.invertible)
            bits(&f.inverse, sizeof f.inverse);
        d += f.linear ? "linear\n" : "\n";
    }
    d += "positions ";
    for (const auto &p : l.source.positions)
        bits(&p, sizeof p);
    d += "\n";
    return d;
}

// Real models from other tools lie in the folder CORRUGO_AC_SAMPLES names,
// which a clone of this repository alone lacks: a test that reads them is
// skipped, saying so, without it.
#define SKIP_WITHOUT_SAMPLES()                                                                   \
    if (!std::filesystem::is_directory(CORRUGO_AC_SAMPLES))                                      \
    GTEST_SKIP() << "no samples folder at " << CORRUGO_AC_SAMPLES << " (see CORRUGO_AC_SAMPLES)"

// Reads "text" as the file "model.ac".
inline Loaded load(const std::string &text)
{
    Loaded l;
    l.ok = acfile::read_ac(text, "model.ac", l.model, l.source, l.error);
    const std::string once = describe(l);
    size_t tried = 0;
    for (size_t at = 0; at < text.size() && tried < 50; at = text.find('\n', at) + 1) {
        size_t word = text.find_first_not_of(" \t", at);
        if (word != std::string::npos && text.compare(word, 6, "OBJECT") == 0) {
            Loaded two;
            acfile::AcSource s;
            s.text = text;
            two.ok = acfile::read_source_split(s, "model.ac", two.model, two.source, two.error, at);
            EXPECT_EQ(describe(two), once) << "read ahead from offset " << at;
            tried++;
        }
        if (text.find('\n', at) == std::string::npos)
            break;
    }
    return l;
}

// Writes the model back. Also written in parts of one vertex and more on two
// threads, it must come out the same.
inline std::string save(const Loaded &l)
{
    std::string out;
    acfile::write_ac(l.model, l.source, out);
    for (size_t part_vertices : {1, 2, 3, 1000}) {
        std::string in_parts;
        acfile::write_ac_in_parts(l.model, l.source, in_parts, 2, part_vertices);
        EXPECT_EQ(in_parts, out) << "written in parts of " << part_vertices << " vertices";
    }
    return out;
}

#endif
