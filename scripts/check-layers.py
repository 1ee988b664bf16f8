#!/usr/bin/env python3
"""The product's folders include one another one way only.

    host/      the host's declarations: nothing of ours
    wave/      the command: host/
    plugin/    the entry points: host/, wave/
    acfile/    the .ac format: host/ (the vertex record and list node only)
    sim/       the substitute host: host/, acfile/
    programs/  corrugo-host and the viewer: host/, acfile/, sim/

so the plug-in (host/, wave/, plugin/) never reaches the substitute host or
the format, the format never the substitute host, and the substitute host
never the programs. Each file's includes of the project's own files are
checked against these rules, and the include graph between files has no
circle. Prints every include that breaks a rule and every circle; exits 1
when there is one. docs/architecture.md says why the rules are these.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAY_USE = {
    'host': {'host'},
    'wave': {'host', 'wave'},
    'plugin': {'host', 'wave', 'plugin'},
    'acfile': {'host', 'acfile'},
    'sim': {'host', 'acfile', 'sim'},
    'programs': {'host', 'acfile', 'sim', 'programs'},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources():
    for folder in sorted(MAY_USE):
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if name.endswith(('.h', '.cpp')):
                yield folder + '/' + name


def main():
    graph, faults = {}, []
    for path in sources():
        with open(os.path.join(ROOT, path), encoding='utf-8') as f:
            included = INCLUDE.findall(f.read())
        graph[path] = [i for i in included if '/' in i]
        folder = path.split('/')[0]
        for target in graph[path]:
            if target.split('/')[0] not in MAY_USE[folder]:
                faults.append('%s includes %s: %s/ may use only %s' % (
                    path, target, folder, ', '.join(sorted(MAY_USE[folder]))))
    # circles: a depth-first walk that meets a file still on its path
    state = {}
    def visit(path, trail):
        state[path] = 'open'
        for target in graph.get(path, []):
            if state.get(target) == 'open':
                faults.append('circle: ' + ' -> '.join(trail[trail.index(target):] + [target]))
            elif target in graph and target not in state:
                visit(target, trail + [target])
        state[path] = 'done'
    for path in graph:
        if path not in state:
            visit(path, [path])
    for fault in faults:
        print(fault)
    print('%d files, %d includes checked, %d faults' % (
        len(graph), sum(len(v) for v in graph.values()), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
