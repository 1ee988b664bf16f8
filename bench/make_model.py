#!/usr/bin/env python3
"""Writes a deterministic benchmark model: VERTICES vertices in OBJECTS grid
objects of quads (children of one group), with texture coordinates, as an .ac
file.

usage: make_model.py VERTICES OBJECTS OUT.ac
"""
import math
import sys


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    total, objects, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    per = total // objects
    # the most nearly square grid of "per" vertices
    nx = max(1, int(math.sqrt(per)))
    while per % nx:
        nx -= 1
    nz = per // nx
    with open(out, 'w', newline='\n') as f:
        w = f.write
        w('AC3Db\nMATERIAL "grey" rgb 0.6 0.6 0.6  amb 0.2 0.2 0.2  emis 0 0 0  '
          'spec 0.2 0.2 0.2  shi 10  trans 0\nOBJECT world\nkids 1\n')
        w('OBJECT group\nname "grids"\nkids %d\n' % objects)
        for o in range(objects):
            x0 = (o % 40) * (nx * 0.1 + 1.0)
            z0 = (o // 40) * (nz * 0.1 + 1.0)
            w('OBJECT poly\nname "grid %d"\nnumvert %d\n' % (o, per))
            w(''.join('%.6g %.6g %.6g\n' % (x0 + i * 0.1, 0.001 * ((i * 7 + j * 3) % 11), z0 + j * 0.1)
                      for j in range(nz) for i in range(nx)))
            quads = (nx - 1) * (nz - 1)
            w('numsurf %d\n' % quads)
            parts = []
            for j in range(nz - 1):
                for i in range(nx - 1):
                    a = j * nx + i
                    u0, u1 = i / (nx - 1), (i + 1) / (nx - 1)
                    v0, v1 = j / (nz - 1), (j + 1) / (nz - 1)
                    parts.append('SURF 0x10\nmat 0\nrefs 4\n%d %.5g %.5g\n%d %.5g %.5g\n%d %.5g %.5g\n%d %.5g %.5g\n'
                                 % (a, u0, v0, a + nx, u0, v1, a + nx + 1, u1, v1, a + 1, u1, v0))
            w(''.join(parts))
            w('kids 0\n')


if __name__ == '__main__':
    main()
