#!/usr/bin/env python3
"""Runs the benchmarks that bench/run built and prints one table: each figure,
its target and the ratio measured in this run.

usage: measure.py BUILD_DIR MODELS_DIR [REPETITIONS]

Every timing is the median of REPETITIONS runs (default 5), and runs that are
compared with each other alternate, so that a machine shared with other work
slows both sides alike. Nothing here asserts a time: the table says which
targets were met in this run.
"""
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import time

COMMAND = 'qorvel_go x y n 3 0.1 0 0 0 0 0 0 0'
SIZES = (10000, 100000, 1000000)  # vertices, in grids of 1,000
GATHER_SHAPES = (1, 1000, 10000)  # objects holding the same 1,000,000 vertices


def model_path(models, vertices):
    return os.path.join(models, 'grids-%d.ac' % vertices)


# {====== Google Benchmark ======

def run_benchmarks(build, repetitions):
    out = os.path.join(build, 'bench', 'corrugo_bench.json')
    subprocess.run([os.path.join(build, 'bench', 'corrugo_bench'),
                    '--benchmark_repetitions=%d' % repetitions,
                    '--benchmark_enable_random_interleaving=true',
                    '--benchmark_min_time=0.2',
                    '--benchmark_out=' + out, '--benchmark_out_format=json'],
                   check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        data = json.load(f)
    medians, failed = {}, []
    for b in data['benchmarks']:
        if b.get('error_occurred'):
            failed.append('%s: %s' % (b['name'], b.get('error_message', '')))
        elif b.get('aggregate_name') == 'median':
            scale = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}[b['time_unit']]
            medians[b['run_name']] = b['real_time'] * scale
    return medians, sorted(set(failed))

# }======


# {====== Whole programs ======

def timed(argv):
    """Wall seconds, processor seconds and peak memory in bytes of one run,
    under /usr/bin/time (whose wall clock counts only hundredths)."""
    start = time.perf_counter()
    r = subprocess.run(['/usr/bin/time', '-f', '%U %S %M', '-o', '/dev/stderr'] + argv,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit('failed (%d): %s\n%s' % (r.returncode, ' '.join(argv), r.stderr))
    user, system, kib = r.stderr.strip().splitlines()[-1].split()
    return wall, float(user) + float(system), int(kib) * 1024


def host_job(build, models, vertices):
    out = os.path.join(models, 'out-%d.ac' % vertices)
    return [os.path.join(build, 'corrugo-host'), model_path(models, vertices), '-c', COMMAND, '-o', out], out


def check_job(build, models, vertices):
    """Runs the job once with --report: it must move nearly every vertex, or
    the timings would be of a job that does nothing."""
    r = subprocess.run([os.path.join(build, 'corrugo-host'), model_path(models, vertices), '--report',
                        '-c', COMMAND], check=True, capture_output=True, text=True)
    m = re.search(r'vertices: (\d+), moved: (\d+)', r.stdout)
    if not m or int(m.group(1)) != vertices or int(m.group(2)) < 0.99 * vertices:
        sys.exit('corrugo-host did not move the vertices of %s:\n%s' %
                 (model_path(models, vertices), r.stdout + r.stderr))


def run_programs(build, models, repetitions):
    """Alternates every run of corrugo-host and assimp, repetitions times.
    Each written file is removed after its run and outside its timing, so
    that no run pays for dropping the file an earlier one wrote."""
    jobs = {'assimp': (['assimp', 'info', model_path(models, SIZES[-1]), '-r'], None)}
    for n in SIZES:
        check_job(build, models, n)
        jobs[n] = host_job(build, models, n)
    runs = {key: [] for key in jobs}
    for _ in range(repetitions):
        for key, (argv, out) in jobs.items():
            runs[key].append(timed(argv))
            if out:
                os.remove(out)
    return {key: (statistics.median(r[0] for r in v), statistics.median(r[1] for r in v),
                  max(r[2] for r in v)) for key, v in runs.items()}


def run_phases(build, models):
    """The 1,000,000-vertex job taken apart, as corrugo_phases prints it."""
    out = os.path.join(models, 'out.ac')
    r = subprocess.run([os.path.join(build, 'bench', 'corrugo_phases'), model_path(models, SIZES[-1]),
                        os.path.join(build, 'corrugo.p'), out, COMMAND],
                       check=True, capture_output=True, text=True)
    os.remove(out)
    return r.stdout

# }======


# {====== The table ======

def machine():
    lscpu = subprocess.run(['lscpu'], capture_output=True, text=True).stdout
    model = re.search(r'Model name:\s*(.*)', lscpu)
    with open('/proc/meminfo') as f:
        kib = int(re.search(r'MemTotal:\s*(\d+)', f.read()).group(1))
    compiler = subprocess.run(['c++', '--version'], capture_output=True, text=True).stdout.split('\n')[0]
    load = os.getloadavg()[0]
    return ('%s processors (nproc), %s, %.1f GiB memory; %s; %s; load average %.2f at the start' %
            (os.cpu_count(), model.group(1).strip() if model else 'unknown processor',
             kib / 2 ** 20, platform.platform(), compiler, load))


class Table:
    def __init__(self):
        self.rows, self.met, self.missed = [], 0, 0

    def row(self, figure, measured, target='', ratio=None, limit=None):
        verdict = ''
        if limit is not None:
            ok = ratio <= limit
            self.met += ok
            self.missed += not ok
            verdict = 'met' if ok else 'MISSED'
        self.rows.append((figure, measured, target, '' if ratio is None else '%.2f' % ratio, verdict))

    def print(self):
        head = ('figure', 'measured', 'target', 'ratio', '')
        widths = [max(len(r[i]) for r in self.rows + [head]) for i in range(5)]
        line = lambda r: '| ' + ' | '.join(c.ljust(w) for c, w in zip(r, widths)) + ' |'
        print(line(head))
        print('|' + '|'.join('-' * (w + 2) for w in widths) + '|')
        for r in self.rows:
            print(line(r))


# }======


def us(seconds):
    return '%.1f us' % (seconds * 1e6) if seconds < 1e-3 else '%.2f ms' % (seconds * 1e3)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    build, models = sys.argv[1], sys.argv[2]
    repetitions = int(sys.argv[3]) if len(sys.argv) == 4 else 5
    print('Machine: ' + machine())
    print('Each time is the median of %d runs.\n' % repetitions)

    bench, failed = run_benchmarks(build, repetitions)
    programs = run_programs(build, models, repetitions)
    phases = run_phases(build, models)
    t = Table()

    # 1. the wave loop against the bare loop
    for n in (1000, 10000, 100000, 1000000):
        apply, bare = bench['BM_ApplyWave/n:%d' % n], bench['BM_BareLoop/n:%d' % n]
        t.row('1. apply_wave, %d vertices / bare loop' % n, '%s / %s' % (us(apply), us(bare)),
              'within 1.3 x', apply / bare, 1.3)
    for n in (1000, 1000000):
        refresh = bench['BM_HostRefresh/n:%d' % n]
        t.row('   of which host refresh (bounding box), %d' % n, us(refresh),
              'share of apply_wave', refresh / bench['BM_ApplyWave/n:%d' % n])
    few, many = bench['BM_ApplyWaveOneGridOfMany/objects:1'], bench['BM_ApplyWaveOneGridOfMany/objects:1000']
    t.row('   1,000 vertices in a model of 10^6 / of 10^3', '%s / %s' % (us(many), us(few)),
          'the refresh walks the model', many / few)
    formatted = bench['BM_ApplyWaveDebugFormatted/n:10000']
    t.row('   debug lines formatted / discarded, 10^4', '%s / %s' % (us(formatted), us(bench['BM_ApplyWave/n:10000'])),
          'for information', formatted / bench['BM_ApplyWave/n:10000'])

    # 2. gathering, per vertex, across shapes
    per_vertex = {k: bench['BM_GatherObjects/objects:%d' % k] / 1e6 for k in GATHER_SHAPES}
    for k in GATHER_SHAPES:
        t.row('2. gather 10^6 vertices as %d object%s' % (k, '' if k == 1 else 's'),
              '%.1f ns/vertex' % (per_vertex[k] * 1e9))
    t.row('   slowest / fastest shape', '', 'within 2 x', max(per_vertex.values()) / min(per_vertex.values()), 2.0)

    # 3. end to end against assimp's import
    size = os.path.getsize(model_path(models, SIZES[-1]))
    ours, assimp = programs[SIZES[-1]], programs['assimp']
    t.row('3. corrugo-host load+command+save / assimp import, 10^6', '%.2f s / %.2f s' % (ours[0], assimp[0]),
          'below 1 x', ours[0] / assimp[0], 1.0)
    t.row('   the same in processor time', '%.2f s / %.2f s' % (ours[1], assimp[1]), 'for information',
          ours[1] / assimp[1])
    t.row('   corrugo-host peak memory / file size', '%.0f MiB / %.0f MiB' % (ours[2] / 2 ** 20, size / 2 ** 20),
          'below 3 x', ours[2] / size, 3.0)
    t.row('   assimp peak memory / file size', '%.0f MiB' % (assimp[2] / 2 ** 20), 'for information',
          assimp[2] / size)

    # 4. growth: what each further vertex costs, from one size to the next
    # (the fixed cost of a run, starting Tcl and loading the plug-in, cancels)
    for n in SIZES:
        t.row('4. corrugo-host, %d vertices' % n, '%.3f s' % programs[n][0])
    slopes = []
    for a, b in zip(SIZES, SIZES[1:]):
        slopes.append((programs[b][0] - programs[a][0]) / (b - a))
        t.row('   each further vertex, %d to %d' % (a, b), '%.0f ns' % (slopes[-1] * 1e9))
    t.row('   ... from 10^5 to 10^6 / from 10^4 to 10^5', '', 'within 1.3 x (linear)',
          slopes[1] / slopes[0], 1.3)
    fixed = programs[SIZES[0]][0] - slopes[0] * SIZES[0]
    t.row('   fixed cost of a run (extrapolated to no vertices)', '%.3f s' % fixed)

    t.print()
    print('\n%d targets met, %d missed.' % (t.met, t.missed))
    print('\nThe 1,000,000-vertex job by phase (corrugo_phases, one run):\n')
    print(phases.rstrip())
    if failed:
        print('\nBenchmarks that failed their own checks:\n  ' + '\n  '.join(failed))
        sys.exit(1)


if __name__ == '__main__':
    main()
