#!/usr/bin/env python3
"""The product's folders include one another one way only.

The rules are the table under "The folders and what each may use" in
docs/architecture.md, read from there: each row's folder may include its own
files and those of the folders named in its last column. Each file's includes
of the project's own files are checked against them, and the include graph
between files has no circle. Prints every include that breaks a rule and
every circle; exits 1 when there is one.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RULES = os.path.join(ROOT, 'docs', 'architecture.md')
HEADING = '## The folders and what each may use'
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
FOLDER = re.compile(r'`([A-Za-z_]+)/`')


def may_use():
    """Each folder and the folders it may include, from the table."""
    with open(RULES, encoding='utf-8') as f:
        text = f.read()
    if HEADING not in text:
        sys.exit('check-layers.py: docs/architecture.md has no "%s"' % HEADING[3:])
    rows = []
    for line in text.split(HEADING, 1)[1].splitlines()[1:]:
        if line.startswith('|'):
            rows.append([cell.strip() for cell in line.strip().strip('|').split('|')])
        elif rows or line.startswith('#'):
            break  # the table has ended
    rules = {}
    for cells in rows[2:]:  # past the header and its rule
        folder = FOLDER.fullmatch(cells[0])
        if len(cells) != 3 or not folder:
            sys.exit('check-layers.py: docs/architecture.md: a row of the folders\' table '
                     'is not "| `folder/` | namespace | may include |": %s' % ' | '.join(cells))
        rules[folder.group(1)] = {folder.group(1)} | set(FOLDER.findall(cells[2]))
    if not rules:
        sys.exit('check-layers.py: docs/architecture.md: the folders\' table has no rows')
    return rules


def sources(rules):
    for folder in sorted(rules):
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if name.endswith(('.h', '.cpp')):
                yield folder + '/' + name


def main():
    rules = may_use()
    graph, faults = {}, []
    for path in sources(rules):
        with open(os.path.join(ROOT, path), encoding='utf-8') as f:
            included = INCLUDE.findall(f.read())
        graph[path] = [i for i in included if '/' in i]
        folder = path.split('/')[0]
        for target in graph[path]:
            if target.split('/')[0] not in rules[folder]:
                faults.append('%s includes %s: %s/ may use only %s' % (
                    path, target, folder, ', '.join(sorted(rules[folder]))))
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
