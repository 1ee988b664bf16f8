#!/usr/bin/env python3
"""corrugo-host's manual page describes every option of --help, and no more,
in the sections a manual has, and shows without a warning.

    scripts/check-manual.py CORRUGO-HOST PAGE

Reads the options from the program's own --help (the table that also drives
its parsing), and from the page the options its .TP entries name; checks
them against each other both ways, that the page has its sections, that
man(1) formats it without a warning and that lexgrog(1) finds its NAME line.
Prints each difference; exits 1 when there is one.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from importlib import import_module

SECTIONS = ('NAME', 'SYNOPSIS', 'DESCRIPTION', 'OPTIONS', 'EXIT STATUS', 'ENVIRONMENT', 'FILES',
            'EXAMPLES', 'SEE ALSO')


def page_options(text):
    """The options the page's .TP entries name (the line after each .TP)."""
    lines = text.splitlines()
    names = set()
    for i, line in enumerate(lines[:-1]):
        if line.strip() == '.TP' and lines[i + 1].startswith('.B'):
            entry = lines[i + 1].replace('\\-', '-').replace('\\fR', ' ').replace('\\fP', ' ')
            names.update(re.findall(r'(?<![\w-])(--?[A-Za-z][\w-]*)', entry))
    return names


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.split('\n\n')[1].strip())
    program, page = sys.argv[1:]
    options = set(import_module('check-completion').help_options(program))
    with open(page, encoding='utf-8') as f:
        text = f.read()
    described = page_options(text)
    faults = ['%s: an option of --help the page does not describe' % o for o in sorted(options - described)]
    faults += ['%s: described by the page, but no option of --help' % o for o in sorted(described - options)]
    sections = re.findall(r'^\.SH "?([^"\n]*)"?$', text, re.M)
    faults += ['no section %s' % s for s in SECTIONS if s not in sections]
    env = dict(os.environ, MANWIDTH='80', LC_ALL='C.UTF-8')
    shown = subprocess.run(['man', '--warnings', '-E', 'UTF-8', '-l', page], capture_output=True, text=True,
                           env=env)
    faults += ['man: ' + line for line in shown.stderr.splitlines() if line.strip()]
    if shown.returncode != 0:
        faults.append('man exits %d' % shown.returncode)
    named = subprocess.run(['lexgrog', page], capture_output=True, text=True)
    if named.returncode != 0:
        faults.append('lexgrog finds no NAME line: ' + (named.stdout + named.stderr).strip())
    for fault in faults:
        print(fault)
    print('%d options of --help, %d described by the page, %d faults' % (len(options), len(described), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
