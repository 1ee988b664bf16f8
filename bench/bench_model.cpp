// Builds the benchmark models in the substitute host.
#include "bench_model.h"

#include <cmath>
#include <sstream>

namespace bench {

// The most nearly square grid of "n" vertices: "*columns" by n / "*columns".
static void grid_shape(size_t n, size_t *columns, size_t *rows)
{
    size_t nx = n ? (size_t)std::sqrt((double)n) : 1;
    if (nx == 0)
        nx = 1;
    while (n % nx)
        nx--;
    *columns = nx;
    *rows = n / nx;
}

std::vector<acfile::Object *> make_grouped_model(size_t objects, size_t per_object)
{
    sim::set_debug_sink(nullptr);
    sim::set_message_sink(nullptr);
    sim::replace_model(acfile::Model());
    acfile::Model &m = sim::model();
    acfile::Object *group = m.add_object(nullptr, "grids");
    size_t nx, nz;
    grid_shape(per_object, &nx, &nz);
    std::vector<acfile::Object *> grids;
    for (size_t o = 0; o < objects; o++) {
        acfile::Object *object = m.add_object(group, "grid " + std::to_string(o));
        const float x0 = (float)(o % 40) * ((float)nx * 0.1f + 1.0f);
        const float z0 = (float)(o / 40) * ((float)nz * 0.1f + 1.0f);
        object->vertices.reserve(per_object);
        for (size_t j = 0; j < nz; j++)
            for (size_t i = 0; i < nx; i++)
                object->vertices.push_back({x0 + (float)i * 0.1f, 0.001f * (float)((i * 7 + j * 3) % 11),
                                            z0 + (float)j * 0.1f, object});
        grids.push_back(object);
    }
    sim::select_all(m, sim::selection(), SELECT_OBJECTS);
    sim::observations() = sim::Observations();
    return grids;
}

void build_host_lists()
{
    for (const auto &object : sim::model().objects) {
        ac_object_get_vertexlist((HostObject *)object.get());
        ac_object_get_childrenlist((HostObject *)object.get());
    }
}

bool parse_command(const std::string &words, WaveParams *params)
{
    std::vector<std::string> entries = {"qorvel_go"};
    std::istringstream in(words);
    for (std::string w; in >> w;)
        entries.push_back(w);
    std::vector<char *> vector;
    for (std::string &e : entries)
        vector.push_back(&e[0]);
    return parse_wave_params((int)vector.size(), vector.data(), params);
}

std::vector<float> positions_of(HostList *vertices)
{
    std::vector<float> p;
    for (HostList *node = vertices; node; node = node->next) {
        const HostVertex *v = (const HostVertex *)node->data;
        p.insert(p.end(), {v->x, v->y, v->z});
    }
    return p;
}

void restore_positions(HostList *vertices, const std::vector<float> &positions)
{
    const float *p = positions.data();
    for (HostList *node = vertices; node; node = node->next, p += 3) {
        HostVertex *v = (HostVertex *)node->data;
        v->x = p[0];
        v->y = p[1];
        v->z = p[2];
    }
}

} // namespace bench
