#!/usr/bin/env python3
"""Writes a deterministic benchmark model: VERTICES vertices in OBJECTS grid
objects of quads (children of one group), with texture coordinates, as an .ac
file.

usage: make_model.py [--kind grids|digits|nested] VERTICES OBJECTS OUT.ac

--kind grids (the default): the model bench/run has always used, byte for
  byte the same for the same arguments: coordinates of at most 6 significant
  digits (%.6g), texture coordinates of at most 5 (%.5g), no transforms.

--kind digits: the same grids and surfaces, written as scanned data often
  is: every vertex coordinate and texture coordinate has 6, 7 or 8
  significant digits (12.34567, 0.1234568, -3.1415927; some below 0.001),
  and every grid object carries a `loc x y z` line, before its numvert, of
  such numbers, which places the grid (the vertices are centred on the
  object's origin). The group and the world carry no transform. The digits
  come from integer arithmetic alone (a fixed integer hash of the object, the
  vertex and the field, no floating point, no random module), so the file is
  the same on every machine. Each vertex has one texture coordinate pair,
  repeated in every quad that uses it, as the grids kind does.

--kind nested: the grids in a tree of groups, ten to a group, as many levels
  as that takes (1,000 objects: three levels of groups above them), every
  group and every grid with a `rot` (a turn about y whose cosine and sine
  are those of a Pythagorean triple, 3-4-5 and the like, so exact in
  integers) and a `loc`; every number with 2 to 8 significant digits, drawn
  like the digits kind's (texture coordinates 1 to 6); CRLF line ends.

Any kind: the most nearly square grid of VERTICES / OBJECTS vertices per
object, 0.1 apart, objects laid out 40 to a row.
"""
import argparse
import math


def grid_shape(per):
    """The most nearly square grid of "per" vertices: (columns, rows)."""
    nx = max(1, int(math.sqrt(per)))
    while per % nx:
        nx -= 1
    return nx, per // nx


HEADER = ('AC3Db\nMATERIAL "grey" rgb 0.6 0.6 0.6  amb 0.2 0.2 0.2  emis 0 0 0  '
          'spec 0.2 0.2 0.2  shi 10  trans 0\nOBJECT world\nkids 1\n')


# {====== --kind grids (unchanged: models made before must stay the same) ======

def write_quads(w, nx, nz, ref):
    """The numsurf line and a quad for each cell of the grid, its corners
    in the order (i, j), (i, j+1), (i+1, j+1), (i+1, j), each corner's line
    ref(vertex index, column, row)."""
    w('numsurf %d\n' % ((nx - 1) * (nz - 1)))
    parts = []
    for j in range(nz - 1):
        for i in range(nx - 1):
            a = j * nx + i
            parts.append('SURF 0x10\nmat 0\nrefs 4\n' + ref(a, i, j) + ref(a + nx, i, j + 1) +
                         ref(a + nx + 1, i + 1, j + 1) + ref(a + 1, i + 1, j))
    w(''.join(parts))


def start_model(f, total, objects):
    """Writes the header and the group; returns the vertices per object and
    the grid's columns and rows."""
    per = total // objects
    f.write(HEADER)
    f.write('OBJECT group\nname "grids"\nkids %d\n' % objects)
    return (per,) + grid_shape(per)


def write_grids(f, total, objects):
    per, nx, nz = start_model(f, total, objects)
    w = f.write
    for o in range(objects):
        x0 = (o % 40) * (nx * 0.1 + 1.0)
        z0 = (o // 40) * (nz * 0.1 + 1.0)
        w('OBJECT poly\nname "grid %d"\nnumvert %d\n' % (o, per))
        w(''.join('%.6g %.6g %.6g\n' % (x0 + i * 0.1, 0.001 * ((i * 7 + j * 3) % 11), z0 + j * 0.1)
                  for j in range(nz) for i in range(nx)))
        write_quads(w, nx, nz, lambda a, i, j: '%d %.5g %.5g\n' % (a, i / (nx - 1), j / (nz - 1)))
        w('kids 0\n')

# }======


# {====== --kind digits ======

# Numbers are integers in units of 10^-12 until they are written.
UNIT = 10 ** 12
MASK = 2 ** 64 - 1


def mix(key):
    """A fixed 64-bit integer hash (splitmix64's finaliser) of a key."""
    h = (key * 0x9E3779B97F4A7C15 + 0x632BE59BD9B4E019) & MASK
    h = ((h ^ (h >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    h = ((h ^ (h >> 27)) * 0x94D049BB133111EB) & MASK
    return h ^ (h >> 31)


def jitter(h, low, high):
    """From hash h: a signed amount whose size lies in [low, high) units."""
    size = low + (h >> 8) % (high - low)
    return -size if (h >> 3) & 1 else size


def digits_text(u, p):
    """The number u (in units of 10^-12) as a plain decimal of exactly p
    significant digits, the last one not 0 (rounded half up, then the last
    digit raised from 0 to 1 where rounding left a 0), without an exponent.
    Fewer digits only for a number below 10^(p-12), which the model avoids."""
    sign = '-' if u < 0 else ''
    a = -u if u < 0 else u
    drop = len(str(a)) - p  # digits of a below the p-th
    if drop > 0:
        unit = 10 ** drop
        q, r = divmod(a, unit)
        if 2 * r >= unit:
            q += 1
        if q == 10 ** p:  # 9999.. rounded up
            q //= 10
            drop += 1
    else:
        q, drop = a, 0
    if q % 10 == 0:
        q += 1
    s = str(q)
    point = 12 - drop  # digits of s after the decimal point
    if point <= 0:
        return sign + s + '0' * -point
    if len(s) > point:
        return sign + s[:-point] + '.' + s[-point:]
    return sign + '0.' + '0' * (point - len(s)) + s


def number(key, base, low, high):
    """base (units) moved by a hashed jitter of low to high units, written
    with 6 to 8 significant digits, both drawn from key."""
    h = mix(key)
    return digits_text(base + jitter(h, low, high), 6 + h % 3)


def write_digits(f, total, objects):
    per, nx, nz = start_model(f, total, objects)
    w = f.write
    step = UNIT // 10  # 0.1 between vertices
    for o in range(objects):
        # the grid's centre, as the grids kind places its corner, moved by
        # 0.01 to 0.1 in each direction (the grids are 1.0 apart)
        cx = (o % 40) * (nx * step + UNIT) + nx * step // 2
        cz = (o // 40) * (nz * step + UNIT) + nz * step // 2
        key = (o + 1) << 40
        w('OBJECT poly\nname "grid %d"\nloc %s %s %s\nnumvert %d\n' % (
            o, number(key + 1, cx, 10 ** 10, 10 ** 11), number(key + 2, 0, 10 ** 10, 10 ** 11),
            number(key + 3, cz, 10 ** 10, 10 ** 11), per))
        # vertices 0.1 apart about the origin, each moved by 0.0001 to 0.001
        # (so never 0); heights 0 to 0.2 in steps of 0.02, moved the same
        lines, uv = [], []
        for j in range(nz):
            z = (2 * j - (nz - 1)) * step // 2
            v = (2 * j + 1) * UNIT // (2 * nz)
            for i in range(nx):
                k = key + ((j * nx + i) << 4)
                lines.append('%s %s %s\n' % (
                    number(k + 4, (2 * i - (nx - 1)) * step // 2, 10 ** 8, 10 ** 9),
                    number(k + 5, ((i * 7 + j * 3) % 11) * 2 * 10 ** 10, 10 ** 8, 10 ** 9),
                    number(k + 6, z, 10 ** 8, 10 ** 9)))
                # the centre of the vertex's cell in the texture, moved by
                # 0.00001 to 0.0001
                uv.append(' %s %s\n' % (number(k + 7, (2 * i + 1) * UNIT // (2 * nx), 10 ** 7, 10 ** 8),
                                        number(k + 8, v, 10 ** 7, 10 ** 8)))
        w(''.join(lines))
        write_quads(w, nx, nz, lambda a, i, j: '%d%s' % (a, uv[a]))
        w('kids 0\n')

# }======


# {====== --kind nested ======

# Turns about y as (cosine, sine, hypotenuse) of Pythagorean triples.
TURNS = ((4, 3, 5), (12, 5, 13), (15, 8, 17), (24, 7, 25), (3, 4, 5), (20, 21, 29))


def mixed(key, base, low, high, least=2, most=8):
    """As number(), with least to most significant digits."""
    h = mix(key)
    return digits_text(base + jitter(h, low, high), least + h % (most - least + 1))


def transform_lines(key, x, z):
    """A rot line (a turn about y, written with mixed digits) and a loc line
    placing the object at (x, z) units, moved a little."""
    c, s, r = TURNS[mix(key) % len(TURNS)]
    if mix(key + 1) & 1:
        s = -s
    p = 2 + mix(key + 2) % 7

    def unit(n):
        return digits_text(n * UNIT // r, p) if n else '0'

    rot = 'rot %s 0 %s 0 1 0 %s 0 %s\n' % (unit(c), unit(-s), unit(s), unit(c))
    loc = 'loc %s %s %s\n' % (mixed(key + 3, x, 10 ** 9, 10 ** 10), mixed(key + 4, 0, 10 ** 9, 10 ** 10),
                               mixed(key + 5, z, 10 ** 9, 10 ** 10))
    return rot + loc


def write_nested(f, total, objects):
    per = total // objects
    nx, nz = grid_shape(per)
    step = UNIT // 10
    out = []

    def w(text):
        out.append(text.replace('\n', '\r\n'))
        if len(out) > 4096:
            f.write(''.join(out))
            out.clear()

    def grid(o):
        key = (o + 1) << 40
        w('OBJECT poly\nname "grid %d"\n' % o)
        w(transform_lines(key, (o % 10) * (nx * step + UNIT), 0))
        w('numvert %d\n' % per)
        lines, uv = [], []
        for j in range(nz):
            z = (2 * j - (nz - 1)) * step // 2
            for i in range(nx):
                k = key + ((j * nx + i) << 4)
                lines.append('%s %s %s\n' % (
                    mixed(k + 6, (2 * i - (nx - 1)) * step // 2, 10 ** 8, 10 ** 9),
                    mixed(k + 7, ((i * 7 + j * 3) % 11) * 2 * 10 ** 10, 10 ** 8, 10 ** 9),
                    mixed(k + 8, z, 10 ** 8, 10 ** 9)))
                uv.append(' %s %s\n' % (mixed(k + 9, (2 * i + 1) * UNIT // (2 * nx), 10 ** 7, 10 ** 8, 1, 6),
                                        mixed(k + 10, (2 * j + 1) * UNIT // (2 * nz), 10 ** 7, 10 ** 8, 1, 6)))
        w(''.join(lines))
        write_quads(w, nx, nz, lambda a, i, j: '%d%s' % (a, uv[a]))
        w('kids 0\n')

    def group(first, count, span, key):
        """The objects first .. first + count - 1, span objects to each kid."""
        if span == 1:
            return grid(first)
        w('OBJECT group\nname "level %d"\n' % span)
        w(transform_lines(key, (first // span % 10) * UNIT, (first // span // 10 % 10) * UNIT))
        kids = range(first, first + count, span // 10)
        w('kids %d\n' % len(kids))
        for k in kids:
            group(k, min(span // 10, first + count - k), span // 10, key * 16 + k + 1)

    w(HEADER)
    span = 1
    while span < objects:
        span *= 10
    group(0, objects, span, 7)
    f.write(''.join(out))

# }======


KINDS = {'grids': write_grids, 'digits': write_digits, 'nested': write_nested}


def main():
    parser = argparse.ArgumentParser(usage='make_model.py [--kind grids|digits|nested] VERTICES OBJECTS OUT.ac',
                                     description=__doc__.split('\n\n')[0])
    parser.add_argument('--kind', choices=sorted(KINDS), default='grids')
    parser.add_argument('vertices', type=int)
    parser.add_argument('objects', type=int)
    parser.add_argument('out')
    args = parser.parse_args()
    with open(args.out, 'w', newline='\n') as f:
        KINDS[args.kind](f, args.vertices, args.objects)


if __name__ == '__main__':
    main()
