// Objects' frames: composing them, and carrying positions through them.
#include "acfile/frame.h"

#include <cmath>
#include <cstring>

namespace acfile {

// Adds the frame of an object whose own transform is "rot" and "loc", under the
// frame "parent" (-1 for none); returns its index.
int32_t add_frame(AcSource &source, int32_t parent, const double rot[9], const double loc[3])
{
    AcSource::Frame f;
    double own[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            own[i][j] = rot[3 * j + i]; /* rot's numbers are the columns */
    if (parent < 0) {
        std::memcpy(f.m, own, sizeof own);
        std::memcpy(f.t, loc, sizeof f.t);
    } else {
        const AcSource::Frame &p = source.frames[parent];
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++)
                f.m[i][j] = p.m[i][0] * own[0][j] + p.m[i][1] * own[1][j] + p.m[i][2] * own[2][j];
            f.t[i] = p.m[i][0] * loc[0] + p.m[i][1] * loc[1] + p.m[i][2] * loc[2] + p.t[i];
        }
    }
    const double(*m)[3] = f.m;
    double cofactor[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            cofactor[i][j] = m[(i + 1) % 3][(j + 1) % 3] * m[(i + 2) % 3][(j + 2) % 3] -
                             m[(i + 1) % 3][(j + 2) % 3] * m[(i + 2) % 3][(j + 1) % 3];
    double det = m[0][0] * cofactor[0][0] + m[0][1] * cofactor[0][1] + m[0][2] * cofactor[0][2];
    f.linear = !(m[0][0] == 1 && m[1][1] == 1 && m[2][2] == 1 && m[0][1] == 0 && m[0][2] == 0 &&
                 m[1][0] == 0 && m[1][2] == 0 && m[2][0] == 0 && m[2][1] == 0);
    f.invertible = true;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            f.inverse[i][j] = cofactor[j][i] / det; /* the adjugate is the cofactors' transpose */
            f.invertible = f.invertible && std::isfinite(f.inverse[i][j]);
        }
    source.frames.push_back(f);
    return int32_t(source.frames.size() - 1);
}

// Local to world; without a linear part, coordinates with no translation are
// copied, so that they keep their exact bits (-0 included).
void to_world(const AcSource::Frame &f, const float local[3], float world[3])
{
    double v[3] = {local[0], local[1], local[2]};
    for (int i = 0; i < 3; i++) {
        if (f.linear)
            world[i] = float(f.m[i][0] * v[0] + f.m[i][1] * v[1] + f.m[i][2] * v[2] + f.t[i]);
        else
            world[i] = f.t[i] != 0 ? float(v[i] + f.t[i]) : local[i];
    }
}

bool to_world_within_range(const AcSource::Frame &f, const float local[3], float world[3])
{
    to_world(f, local, world);
    bool all_finite = std::isfinite(local[0]) && std::isfinite(local[1]) && std::isfinite(local[2]);
    for (int k = 0; k < 3; k++)
        if ((f.linear ? all_finite : std::isfinite(local[k])) && !std::isfinite(world[k]))
            return false;
    return true;
}

void to_local(const AcSource::Frame &f, const float world[3], float local[3])
{
    double d[3];
    for (int i = 0; i < 3; i++)
        d[i] = f.t[i] != 0 ? double(world[i]) - f.t[i] : double(world[i]);
    for (int i = 0; i < 3; i++) {
        if (f.linear)
            local[i] =
                float(f.inverse[i][0] * d[0] + f.inverse[i][1] * d[1] + f.inverse[i][2] * d[2]);
        else
            local[i] = f.t[i] != 0 ? float(d[i]) : world[i];
    }
}

} // namespace acfile
