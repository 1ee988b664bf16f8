#!/usr/bin/env python3
"""Runs the benchmarks that bench/run built and prints one table: each figure,
its target and the ratio measured in this run.

usage: measure.py [--large] BUILD_DIR MODELS_DIR [REPETITIONS]

MODELS_DIR holds the models bench/make_model.py makes, of three kinds:
grids-N.ac, digits-N.ac and nested-N.ac for N = 10^4, 10^5 and 10^6 vertices
(grids of 1,000). The end-to-end figures (3 and 4) are given for each kind,
each against the floor: `cp` of the same file to a new one, run alternately
with the others. With --large, also grids-10000000.ac (10^7 vertices): its
job is run three times alternating with a cp of its file, after the others,
against the 10^6 grids job (5).

Every timing is the median of REPETITIONS runs (default 5), and runs that are
compared with each other alternate, so that a machine shared with other work
slows both sides alike. Nothing here asserts a time: the table says which
targets were met in this run.

When corrugo-host takes `--threads N` (it is tried once with --threads 1),
the 10^6 job of each kind is also run with --threads 1, alternating with the
others, and compared with the default, for information; without the option
those rows are left out.
"""
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

COMMAND = 'qorvel_go x y n 3 0.1 0 0 0 0 0 0 0'
SIZES = (10000, 100000, 1000000)  # vertices, in grids of 1,000
GATHER_SHAPES = (1, 1000, 10000)  # objects holding the same 1,000,000 vertices
# the kinds of model bench/make_model.py makes, with what sets them apart
KINDS = (('grids', 'at most 6 digits, no transforms'),
         ('digits', '6 to 8 significant digits, a loc per grid'),
         ('nested', 'rot and loc 4 levels deep, 2 to 8 digits, CRLF'))
LARGE = 10000000  # vertices of the --large model, grids kind


def model_path(models, kind, vertices):
    return os.path.join(models, '%s-%d.ac' % (kind, vertices))


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
    medians, single, failed = {}, {}, []
    for b in data['benchmarks']:
        scale = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}[b['time_unit']]
        if b.get('error_occurred'):
            failed.append('%s: %s' % (b['name'], b.get('error_message', '')))
        elif b.get('aggregate_name') == 'median':
            medians[b['run_name']] = b['real_time'] * scale
        elif b.get('run_type') == 'iteration':
            single[b['run_name']] = b['real_time'] * scale
    # with one repetition, Google Benchmark makes no aggregates
    for name, seconds in single.items():
        medians.setdefault(name, seconds)
    return medians, sorted(set(failed))

# }======


# {====== Whole programs ======

def timed(argv):
    """Wall seconds, processor seconds, peak memory in bytes and the
    processor seconds spent in the kernel of one run, under /usr/bin/time
    (whose wall clock counts only hundredths)."""
    start = time.perf_counter()
    r = subprocess.run(['/usr/bin/time', '-f', '%U %S %M', '-o', '/dev/stderr'] + argv,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit('failed (%d): %s\n%s' % (r.returncode, ' '.join(argv), r.stderr))
    user, system, kib = r.stderr.strip().splitlines()[-1].split()
    return wall, float(user) + float(system), int(kib) * 1024, float(system)


def host_job(build, models, kind, vertices, options=()):
    out = os.path.join(models, 'out-%s-%d%s.ac' % (kind, vertices, ''.join('-' + o.lstrip('-') for o in options)))
    return ([os.path.join(build, 'corrugo-host'), model_path(models, kind, vertices)] + list(options) +
            ['-c', COMMAND, '-o', out], out)


def check_job(build, models, kind, vertices, options=()):
    """Runs the job once with --report: it must move nearly every vertex, or
    the timings would be of a job that does nothing."""
    r = subprocess.run([os.path.join(build, 'corrugo-host'), model_path(models, kind, vertices)] + list(options) +
                       ['--report', '-c', COMMAND], check=True, capture_output=True, text=True)
    m = re.search(r'vertices: (\d+), moved: (\d+)', r.stdout)
    if not m or int(m.group(1)) != vertices or int(m.group(2)) < 0.99 * vertices:
        sys.exit('corrugo-host %s did not move the vertices of %s:\n%s' %
                 (' '.join(options), model_path(models, kind, vertices), r.stdout + r.stderr))


def threads_option(build, models):
    """None when corrugo-host takes --threads 1, else why not (its message)."""
    r = subprocess.run([os.path.join(build, 'corrugo-host'), model_path(models, KINDS[0][0], SIZES[0]),
                        '--threads', '1', '-c', COMMAND], capture_output=True, text=True)
    if r.returncode == 0:
        return None
    return (r.stderr.strip().splitlines() or ['exit status %d' % r.returncode])[0]


def run_programs(build, models, repetitions, threads):
    """Alternates every run of corrugo-host and assimp, repetitions times.
    Each written file is removed after its run and outside its timing, so
    that no run pays for dropping the file an earlier one wrote. With
    threads, the 10^6 jobs are also run with --threads 1 (key (kind, 1))."""
    jobs = {}
    for kind, _ in KINDS:
        copy = os.path.join(models, 'copy-%s.ac' % kind)
        jobs[('cp', kind)] = (['cp', model_path(models, kind, SIZES[-1]), copy], copy)
        jobs[('assimp', kind)] = (['assimp', 'info', model_path(models, kind, SIZES[-1]), '-r'], None)
        for n in SIZES:
            check_job(build, models, kind, n)
            jobs[(kind, n)] = host_job(build, models, kind, n)
        if threads:
            check_job(build, models, kind, SIZES[-1], ('--threads', '1'))
            jobs[(kind, 1)] = host_job(build, models, kind, SIZES[-1], ('--threads', '1'))
    runs = {key: [] for key in jobs}
    for _ in range(repetitions):
        for key, (argv, out) in jobs.items():
            runs[key].append(timed(argv))
            if out:
                os.remove(out)
    return {key: summary(v) for key, v in runs.items()}


def summary(runs):
    """The medians of the times of "runs" and the largest peak."""
    return (statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs),
            max(r[2] for r in runs), statistics.median(r[3] for r in runs))


LARGE_RUNS = 3  # runs of the 10^7 job and its cp, alternating


def run_large(build, models):
    """The 10^7 grids job and a cp of its file (about 1 GB), alternating,
    LARGE_RUNS times: the summary of each. A single run is no measure here:
    the first after a pause pays for memory this virtual machine gave back
    to its host, up to three times the time of the next."""
    check_job(build, models, 'grids', LARGE)
    jobs = (host_job(build, models, 'grids', LARGE),
            (['cp', model_path(models, 'grids', LARGE), os.path.join(models, 'copy-large.ac')],
             os.path.join(models, 'copy-large.ac')))
    runs = [[], []]
    for _ in range(LARGE_RUNS):
        for (argv, out), figures in zip(jobs, runs):
            figures.append(timed(argv))
            os.remove(out)
    return [summary(figures) for figures in runs]


MANY = 1000  # small models (examples/roof.ac, 20 KB) in one run, against as many runs


def run_many(build, models):
    """MANY copies of examples/roof.ac saved in place, in one run (-i) and
    in a run each: the wall seconds of each way. The files of both must be
    the same to the byte."""
    folder = os.path.join(models, 'many')
    roof = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'examples', 'roof.ac')
    names = [os.path.join(folder, 'm%04d.ac' % i) for i in range(MANY)]
    host = os.path.join(build, 'corrugo-host')

    def fresh():
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name in names:
            shutil.copyfile(roof, name)

    fresh()
    together = timed([host, '--seed', '1', '-c', COMMAND, '-i'] + names)[0]
    saved = [open(name, 'rb').read() for name in names]
    fresh()
    start = time.perf_counter()
    for name in names:
        subprocess.run([host, '--seed', '1', name, '-c', COMMAND, '-o', name], check=True)
    each = time.perf_counter() - start
    if any(open(name, 'rb').read() != bytes_ for name, bytes_ in zip(names, saved)):
        sys.exit('corrugo-host -i on %d models did not write what a run each writes' % MANY)
    shutil.rmtree(folder)
    return together, each


def run_phases(build, models, kind):
    """The 1,000,000-vertex job taken apart, as corrugo_phases prints it."""
    out = os.path.join(models, 'out.ac')
    r = subprocess.run([os.path.join(build, 'bench', 'corrugo_phases'), model_path(models, kind, SIZES[-1]),
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


def busy(_):
    x = 0
    for i in range(3000000):
        x += i * i
    return x


def processors_free():
    """How much work two busy processes did at once, against one alone:
    2.0 when the machine had two processors free for this run, 1.0 when it
    had one (a machine shared with other work): what two threads can gain."""
    import multiprocessing
    with multiprocessing.Pool(2) as pool:
        start = time.perf_counter()
        pool.map(busy, [0])
        one = time.perf_counter() - start
        start = time.perf_counter()
        pool.map(busy, [0, 1])
        two = time.perf_counter() - start
    return 2 * one / two


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
    args = sys.argv[1:]
    large = args[:1] == ['--large']
    args = args[large:]
    if len(args) not in (2, 3):
        sys.exit(__doc__)
    build, models = args[0], args[1]
    repetitions = int(args[2]) if len(args) == 3 else 5
    print('Machine: ' + machine())
    print('Each time is the median of %d runs.' % repetitions)
    print('Processors free at the start: %.2f (two busy processes against one; 2.00 is two free).' %
          processors_free())
    sizes = {kind: os.path.getsize(model_path(models, kind, SIZES[-1])) for kind, _ in KINDS}
    for kind, what in KINDS:
        print('Model %s: %s; %s at 10^6 vertices is %d bytes.' %
              (kind, what, os.path.basename(model_path(models, kind, SIZES[-1])), sizes[kind]))
    no_threads = threads_option(build, models)
    if no_threads:
        print('corrugo-host --threads 1 was refused ("%s"): the rows comparing it are left out.' % no_threads)
    print()

    bench, failed = run_benchmarks(build, repetitions)
    programs = run_programs(build, models, repetitions, not no_threads)
    phases = {kind: run_phases(build, models, kind) for kind, _ in KINDS}
    large_figures = run_large(build, models) if large else None
    many = run_many(build, models)
    t = Table()

    # 1. the wave loop against the bare loop (no file involved: one set).
    # The target is judged over five runs of bench/run: every size at most
    # 1.3 x in each of them; this table is one of those runs.
    for n in (1000, 10000, 100000, 1000000):
        apply, bare = bench['BM_ApplyWave/n:%d' % n], bench['BM_BareLoop/n:%d' % n]
        t.row('1. apply_wave, %d vertices / bare loop' % n, '%s / %s' % (us(apply), us(bare)),
              'every size at most 1.3 x, in each of 5 runs', apply / bare, 1.3)
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

    # the dialog's preview of 10^6 selected vertices against the command
    # without its undo step, on the same selection (1,000 grids of 1,000)
    for random, what in ((0, 'fixed offsets'), (1, 'a random offset')):
        preview = bench['BM_Preview/random:%d' % random]
        command = bench['BM_CommandWithoutUndo/random:%d' % random]
        t.row('   preview / command without undo, 10^6, %s' % what,
              '%s / %s' % (us(preview), us(command)), 'at most 1 x', preview / command, 1.0)

    # 2. gathering, per vertex, across shapes
    per_vertex = {k: bench['BM_GatherObjects/objects:%d' % k] / 1e6 for k in GATHER_SHAPES}
    for k in GATHER_SHAPES:
        t.row('2. gather 10^6 vertices as %d object%s' % (k, '' if k == 1 else 's'),
              '%.1f ns/vertex' % (per_vertex[k] * 1e9))
    t.row('   slowest / fastest shape', '', 'within 2 x', max(per_vertex.values()) / min(per_vertex.values()), 2.0)

    # 3. end to end against assimp's import, for each kind of model
    for kind, _ in KINDS:
        size = sizes[kind]
        ours, assimp, copy = programs[(kind, SIZES[-1])], programs[('assimp', kind)], programs[('cp', kind)]
        t.row('3. %s 10^6: corrugo-host load+command+save / assimp import' % kind,
              '%.2f s / %.2f s' % (ours[0], assimp[0]), 'at most 0.35 x', ours[0] / assimp[0], 0.35)
        t.row('   the same / cp of the file (the floor)', '%.2f s / %.3f s' % (ours[0], copy[0]),
              'at most 3 x', ours[0] / copy[0], 3.0)
        t.row('   assimp import / cp of the file', '%.2f s / %.3f s' % (assimp[0], copy[0]), 'for information',
              assimp[0] / copy[0])
        t.row('   the same in processor time', '%.2f s / %.2f s' % (ours[1], assimp[1]), 'for information',
              ours[1] / assimp[1])
        t.row('   corrugo-host peak memory / file size', '%.0f MiB / %.0f MiB' % (ours[2] / 2 ** 20, size / 2 ** 20),
              'at most 1.5 x', ours[2] / size, 1.5)
        t.row('   assimp peak memory / file size', '%.0f MiB' % (assimp[2] / 2 ** 20), 'for information',
              assimp[2] / size)
        if (kind, 1) in programs:
            one = programs[(kind, 1)]
            t.row('   corrugo-host --threads 1 / default', '%.2f s / %.2f s' % (one[0], ours[0]),
                  'for information', one[0] / ours[0])
            t.row('   the same in processor time', '%.2f s / %.2f s' % (one[1], ours[1]), 'for information',
                  one[1] / ours[1])

    # 4. growth: what each further vertex costs, from one size to the next
    # (the fixed cost of a run, starting Tcl and loading the plug-in, cancels)
    for kind, _ in KINDS:
        for n in SIZES:
            t.row('4. %s: corrugo-host, %d vertices' % (kind, n), '%.3f s' % programs[(kind, n)][0])
        slopes = []
        for a, b in zip(SIZES, SIZES[1:]):
            slopes.append((programs[(kind, b)][0] - programs[(kind, a)][0]) / (b - a))
            t.row('   each further vertex, %d to %d' % (a, b), '%.0f ns' % (slopes[-1] * 1e9))
        t.row('   ... from 10^5 to 10^6 / from 10^4 to 10^5', '', 'within 1.3 x (linear)',
              slopes[1] / slopes[0], 1.3)
        fixed = programs[(kind, SIZES[0])][0] - slopes[0] * SIZES[0]
        t.row('   fixed cost of a run (extrapolated to no vertices)', '%.3f s' % fixed)

    # 5. the 10^7 job (with --large), against the 10^6 job of the same kind
    if large_figures:
        (ours, copy), tenth = large_figures, programs[('grids', SIZES[-1])]
        size = os.path.getsize(model_path(models, 'grids', LARGE))
        t.row('5. grids 10^7: corrugo-host / the 10^6 job', '%.2f s / %.2f s' % (ours[0], tenth[0]),
              'at most 10.5 x', ours[0] / tenth[0], 10.5)
        # where growth beyond the work comes from: the program's own
        # processor time, or the kernel's (page faults, the page cache)
        t.row('   processor time outside the kernel, 10^7 / 10^6', '%.2f s / %.2f s' % (ours[1] - ours[3], tenth[1] - tenth[3]),
              'for information', (ours[1] - ours[3]) / (tenth[1] - tenth[3]))
        t.row('   processor time in the kernel, 10^7 / 10^6', '%.2f s / %.2f s' % (ours[3], tenth[3]),
              'for information', ours[3] / tenth[3])
        t.row('   corrugo-host / cp of the file', '%.2f s / %.2f s' % (ours[0], copy[0]), 'for information',
              ours[0] / copy[0])
        t.row('   corrugo-host peak memory / file size', '%.0f MiB / %.0f MiB' % (ours[2] / 2 ** 20, size / 2 ** 20),
              'at most 1.5 x', ours[2] / size, 1.5)

    # 6. many small models in one run, against a run each
    t.row('6. %d small models (roof.ac): one run with -i / a run each' % MANY,
          '%.2f s / %.2f s' % many, 'at most 0.1 x', many[0] / many[1], 0.1)

    t.print()
    print('\nProcessors free at the end: %.2f.' % processors_free())
    print('\n%d targets met, %d missed.' % (t.met, t.missed))
    print('(1 is judged over five runs of bench/run: met when every size is met in each of them.)')
    for kind, _ in KINDS:
        print('\nThe 1,000,000-vertex job by phase, %s (corrugo_phases, one run):\n' % kind)
        print(phases[kind].rstrip())
    if failed:
        print('\nBenchmarks that failed their own checks:\n  ' + '\n  '.join(failed))
        sys.exit(1)


if __name__ == '__main__':
    main()
