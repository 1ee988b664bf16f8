#!/usr/bin/env python3
"""The bash completion offers corrugo-host's options, all of them and no more.

    scripts/check-completion.py CORRUGO-HOST COMPLETION

Reads the options from the program's own --help (the table that also drives
its parsing) and checks the completion's list of options against them both
ways, that every option its cases name is one, and that every option taking
a value has a case (else the completion would offer .ac files for the value).
Prints each difference; exits 1 when there is one.
"""
import re
import subprocess
import sys

OPTION = re.compile(r'(?<![\w-])(--?[A-Za-z][\w-]*)(?: ([A-Z]+))?')


def help_options(program):
    """Each option of --help, and whether it takes a value: the first column
    of the lines that start with an option (up to a gap of two spaces)."""
    text = subprocess.run([program, '--help'], capture_output=True, text=True,
                          check=True).stdout
    options = {}
    for line in text.splitlines():
        if re.match(r'  -', line):
            for name, value in OPTION.findall(re.split(r'\s{2,}', line.strip())[0]):
                options[name] = bool(value)
    return options


def completion_options(path):
    """The options the completion offers, and those its cases name."""
    with open(path, encoding='utf-8') as f:
        text = f.read()
    listed = re.search(r'local options="([^"]*)"', text)
    if not listed:
        sys.exit('check-completion.py: %s has no local options="..."' % path)
    cased = set()
    for pattern in re.findall(r'^\s*([-\w|]+)\)', text, re.M):
        cased.update(p for p in pattern.split('|') if p.startswith('-'))
    return set(listed.group(1).split()), cased


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.split('\n\n')[1].strip())
    program, completion = sys.argv[1:]
    options = help_options(program)
    offered, cased = completion_options(completion)
    if not options:
        sys.exit('check-completion.py: no options found in %s --help' % program)
    faults = ['%s: not offered by the completion' % o for o in sorted(set(options) - offered)]
    faults += ['%s: offered by the completion, but no option of --help' % o
               for o in sorted(offered - set(options))]
    faults += ['%s: a case of the completion, but no option of --help' % o
               for o in sorted(cased - set(options))]
    faults += ['%s: takes a value, but the completion has no case for it' % o
               for o in sorted(o for o, value in options.items() if value and o not in cased)]
    for fault in faults:
        print(fault)
    print('%d options of --help, %d offered by the completion, %d faults'
          % (len(options), len(offered), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
