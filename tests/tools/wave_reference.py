#!/usr/bin/env python3
"""Independent reference for the wave arithmetic, used to produce the bit
patterns that the C++ tests expect. Python floats are doubles and math.sin /
math.cos are the C library's, so this follows the same order of operations
with single-precision rounding made explicit.

The same formula lives in wave/apply.cpp (the command, which says why the
sine term is rounded to single precision and the cosine term is not) and in
the dialog's drawing of it (::corrugo::Samples in script/corrugo.tcl): a
change to one is a change to all three.

Usage: wave_reference.py  (prints the cases as C++ initialisers)
"""
import math
import struct


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def bits(x):
    return '0x%08x' % struct.unpack('<I', struct.pack('<f', x))[0]


RAD = f32(0.017453292)
PERCENT = f32(0.01)


def percent_draw(seed):
    state = (seed * 214013 + 2531011) % 2**32
    return ((state >> 16) & 0x7FFF) % 100


def wave(vertices, owners, f, a1, a2, freq, amp1, amp2, dec1, dec2, off1, off2,
         additive, units, seed=0, random1=False, random2=False):
    """vertices: list of [x, y, z] floats (already single precision)."""
    ax = {'x': 0, 'y': 1, 'z': 2}
    freq, amp1, amp2 = f32(freq), f32(amp1), f32(amp2)
    dec1, dec2 = f32(f32(dec1) * PERCENT), f32(f32(dec2) * PERCENT)
    off1 = f32(f32(off1) * PERCENT) if not random1 else 0.0
    off2 = f32(f32(off2) * PERCENT) if not random2 else 0.0
    c = [v[ax[f]] for v in vertices]
    lo = hi = 0
    for i, ci in enumerate(c):
        if ci < c[lo]:
            lo = i
        if ci > c[hi]:
            hi = i
    extent = c[hi] - c[lo]
    freqsiz = f32(extent)
    base1 = 0.0 if a1 == 'n' else vertices[lo][ax[a1]]
    base2 = 0.0 if a2 == 'n' else vertices[lo][ax[a2]]
    if not units:
        off1 = f32(off1 * freq)
        off2 = f32(off2 * freq)
        freq = 0.0 if extent == 0 else f32(freq / extent)
    if a1 == 'n':
        amp1 = 0.0
    if a2 == 'n':
        amp2 = 0.0
    inverse = f32(1.0 / freqsiz) if freqsiz != 0 else math.inf
    out = [list(v) for v in vertices]
    prev = None
    for i, v in enumerate(out):
        o = owners[i]
        d = f32(v[ax[f]] - c[lo])
        if o != prev:
            if random1:
                seed = (seed + 7) % 2**32
                off1 = f32(percent_draw(seed) * PERCENT)
                if not units:
                    off1 = f32(off1 * freq)
                prev = o
            if random2:
                seed = (seed + 7) % 2**32
                off2 = f32(percent_draw(seed) * PERCENT)
                if not units:
                    off2 = f32(off2 * freq)
                prev = o
        math_ = 1.0 if freqsiz == 0 else f32((freqsiz - d) * inverse)
        along = d * freq
        ang1 = (along + off1) * 360.0 * RAD
        ang2 = (along + off2) * 360.0 * RAD
        k = f32(math.sin(ang1) * (1.0 - (1.0 - math_) * dec1) * amp1)
        l = math.cos(ang2) * (1.0 - (1.0 - math_) * dec2) * amp2
        scratch = 0.0
        t1 = ax.get(a1)
        t2 = ax.get(a2)
        if additive:
            if t1 is not None:
                v[t1] = f32(v[t1] + k)
            if t2 is not None:
                v[t2] = f32(v[t2] + l)
        else:
            if t1 is not None:
                v[t1] = f32(base1 + k)
            if t2 is not None:
                v[t2] = f32(base2 + l)
    return out


def show(name, out):
    print('// %s' % name)
    for v in out:
        print('{%s},' % ', '.join(bits(x) for x in v))


if __name__ == '__main__':
    verts = [[f32(0.0), f32(5.0), f32(0.0)], [f32(2.5), f32(3.0), f32(1.0)],
             [f32(10.0), f32(-2.0), f32(2.0)]]
    show('quarter cycle, replace', wave(verts, [1, 1, 1], 'x', 'y', 'n', 1, 1, 0, 0, 0, 0, 0, False, False))
    grid = [[f32(x * 0.37), f32(1.0 + 0.1 * x), f32(-0.5 * x)] for x in range(7)]
    show('helix with decay, additive, per unit, offsets',
         wave(grid, [1] * 7, 'x', 'y', 'z', 0.8, 0.25, 0.5, 40, 100, 12.5, 30, True, True))
    show('extent mode, replace, cosine on x, frequency on z',
         wave(grid, [1] * 7, 'z', 'n', 'x', 3, 0, 0.3, 0, 50, 0, 10, False, False))
    pair = [[0.0, 0.0, 0.0], [f32(0.17), f32(-0.69), f32(-0.69)]]
    show('K rounded before the sum, L not',
         wave(pair, [1, 1], 'x', 'y', 'z', 0.98, 1.37, 1.37, 0, 0, 0, 0, True, True))
    edge = [[f32(-3 * 2.0**-25), 0.0, 0.0], [f32(1.5), 0.0, 0.0], [f32(3.0), 0.0, 0.0]]
    show('an extent that is no float (3 + 3 * 2^-25): the frequency is divided by it in double',
         wave(edge, [1, 1, 1], 'x', 'y', 'n', 1, 1, 0, 0, 0, 0, 0, False, False))
    show('random offsets, objects A A B A, seed 1000',
         wave(grid[:4], [1, 1, 2, 1], 'x', 'y', 'z', 2, 0.5, 0.5, 0, 0, 0, 0, True, False,
              seed=1000, random1=True, random2=True))
