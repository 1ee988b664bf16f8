#!/usr/bin/env python3
"""Writes the example models of this folder (deterministic; run it again to
regenerate them): a flat roof panel, a tube, a group of fence boards and a
subdivided cushion."""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
MATERIALS = [
    'MATERIAL "steel" rgb 0.7 0.72 0.75  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.5 0.5 0.5  shi 40  trans 0',
    'MATERIAL "wood" rgb 0.55 0.35 0.2  amb 0.2 0.2 0.2  emis 0 0 0  spec 0.1 0.1 0.1  shi 8  trans 0',
]


def num(x):
    text = '%.6g' % x
    return '0' if text == '-0' else text


def grid(nx, nz, dx, dz, x0=0.0, y=0.0, z0=0.0):
    """Vertices and quads of a flat grid in the plane y."""
    verts = [(x0 + i * dx, y, z0 + j * dz) for j in range(nz) for i in range(nx)]
    quads = []
    for j in range(nz - 1):
        for i in range(nx - 1):
            a = j * nx + i
            quads.append([a, a + nx, a + nx + 1, a + 1])
    return verts, quads


def poly(name, verts, faces, mat=0, extra=(), kids=0):
    lines = ['OBJECT poly', 'name "%s"' % name]
    lines += list(extra)
    lines.append('numvert %d' % len(verts))
    lines += ['%s %s %s' % tuple(num(c) for c in v) for v in verts]
    lines.append('numsurf %d' % len(faces))
    for f in faces:
        lines += ['SURF 0x10', 'mat %d' % mat, 'refs %d' % len(f)]
        lines += ['%d 0 0' % r for r in f]
    lines.append('kids %d' % kids)
    return lines


def write(name, objects):
    lines = ['AC3Db'] + MATERIALS + ['OBJECT world', 'kids %d' % len(objects)]
    for o in objects:
        lines += o
    with open(os.path.join(HERE, name), 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


def main():
    verts, quads = grid(41, 9, 0.25, 0.5)
    write('roof.ac', [poly('roof panel', verts, quads)])

    rings, sides, radius = 40, 16, 0.5
    verts = [(radius * math.cos(2 * math.pi * s / sides), radius * math.sin(2 * math.pi * s / sides),
              r * 0.25) for r in range(rings) for s in range(sides)]
    quads = [[r * sides + s, r * sides + (s + 1) % sides, (r + 1) * sides + (s + 1) % sides,
              (r + 1) * sides + s] for r in range(rings - 1) for s in range(sides)]
    write('tube.ac', [poly('tube', verts, quads)])

    boards = []
    for i, name in enumerate(['left', 'middle', 'right']):
        v, q = grid(3, 21, 0.1, 0.1, x0=i * 0.5, z0=0.0)
        v = [(x, z, 0.0) for (x, _, z) in v]  # stand the boards upright
        boards += poly(name, v, q, mat=1)
    write('fence.ac', [['OBJECT group', 'name "fence"', 'kids 3'] + boards])

    v, q = grid(9, 9, 0.25, 0.25, x0=-1.0, z0=-1.0)
    write('cushion.ac', [poly('cushion', v, q, extra=['crease 45.000000', 'subdiv 2'])])


if __name__ == '__main__':
    main()
