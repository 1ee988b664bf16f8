#!/usr/bin/env python3
"""The bash completion offers corrugo-host's options, all of them and no more.

    scripts/check-completion.py CORRUGO-HOST COMPLETION

Reads the options from the program's own --help (the table that also drives
its parsing) and checks the completion's list of options against them both
ways, that every option its cases name is one, and that every option taking
a value has a case (else the completion would offer .ac files for the value);
then runs it in bash on a folder of a few files: the files after each option
that takes a file, and the values after --option=.
Prints each difference; exits 1 when there is one.
"""
import os
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


def completes(completion, words, folder):
    """What the completion offers for the last of "words" (the command line
    as bash splits it, "=" a word of its own), run in "folder"."""
    script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); '
              '_corrugo_host; printf "%s\\n" "${COMPREPLY[@]}"')
    out = subprocess.run(['bash', '-c', script, 'bash', os.path.abspath(completion), 'corrugo-host'] + words,
                         cwd=folder, capture_output=True, text=True, check=True).stdout
    return set(filter(None, out.split('\n')))


def value_faults(options, completion):
    """The values offered after each option that takes a file, and after
    --option=, as bash splits it and as one word."""
    import tempfile
    faults = []
    with tempfile.TemporaryDirectory() as folder:
        for name in ('m.ac', 'corrugo.p', 'notes.txt'):
            open(os.path.join(folder, name), 'w').close()
        files = {'-o': {'m.ac', 'corrugo.p', 'notes.txt'}, '--debug': {'m.ac', 'corrugo.p', 'notes.txt'},
                 '--plugin': {'corrugo.p'}, '--select': {'objects', 'surfaces', 'vertices'}}
        for option, offered in sorted(files.items()):
            if option not in options:
                faults.append('%s: no option of --help' % option)
                continue
            tries = [([option, ''], offered)]
            if option.startswith('--'):
                tries += [([option, '=', ''], offered), ([option, '='], offered),
                          ([option + '='], {option + '=' + o for o in offered})]
            for words, expected in tries:
                got = completes(completion, words, folder)
                if got != expected:
                    faults.append('%s: offers %s, not %s' % (' '.join(words), sorted(got), sorted(expected)))
        got = completes(completion, ['m'], folder)
        if got != {'m.ac'}:
            faults.append('a model: offers %s, not [\'m.ac\']' % sorted(got))
    return faults


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
    faults += value_faults(options, completion)
    for fault in faults:
        print(fault)
    print('%d options of --help, %d offered by the completion, %d faults'
          % (len(options), len(offered), len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
