#!/usr/bin/env python3
"""Mutation check: do the tests notice a planted fault?

Generates mutants by rule over the plug-in (wave/, plugin/), the .ac reader
and writer (acfile/), the substitute host's functions (sim/host.cpp,
sim/host_tcl.cpp) and the saving of files (acfile/save_file.cpp): relational, logical and arithmetic operators, constants,
float casts and declarations (rounding to single precision dropped or added),
calls to host functions removed, early returns removed, conditions negated.
Each mutant is built incrementally and the ctest tests whose programs depend on
the mutated file are run, stopping at the first failure. A mutant is killed
when a test fails or hangs, survives when all pass. A test hangs when it runs
past three times its own time in a run of every test without a mutant (10 s
at least), which comes first: a busy machine slows both alike.

Everything happens in a scratch copy of the sources (build-mutate/src, built in
build-mutate/build), never in the working tree, so an interrupted run leaves
the tree as it was; the next run brings the copy up to date again.

  scripts/mutate.py               the sample: about 100 mutants drawn from the
                                  sources' hash; fails below 90 % killed
  scripts/mutate.py --all         every mutant, with figures per folder
  scripts/mutate.py --list        the mutants, without running anything
  scripts/mutate.py --all --files wave/apply.cpp   only those files
  scripts/mutate.py --catalog     only the faults written by hand
  scripts/mutate.py --changed-since REV
                                  every mutant of the rules and the catalog
                                  on the lines changed since REV (the working
                                  tree against it), corrugo-host's own files
                                  included; no sample

Beside the rules, scripts/mutate-catalog.txt holds faults written by hand, as
a developer really makes them (a part's failure forgotten, a call dropped, a
check on the wrong bit): each is in the sample, and in --all.

A mutant whose object file compiles to the same bytes as the original cannot be
told apart by any test: it is counted as equivalent, not as a survivor. Other
equivalent mutants are listed, each with its reason, in
scripts/mutate-equivalent.txt.
"""
import argparse
import hashlib
import math
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from collections import namedtuple
from xml.etree import ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENT_FILE = os.path.join(ROOT, 'scripts', 'mutate-equivalent.txt')
CATALOG_FILE = os.path.join(ROOT, 'scripts', 'mutate-catalog.txt')

# The files mutated, the target whose object each is compiled into, the
# targets to rebuild after it changes and the ctest tests that can notice
# (regular expressions, in the order they run: quick unit tests first, then
# the programs run as a user runs them, together so that ctest -j2 keeps both
# cores busy). (ctest's regular expressions have no \w.) Each group is one
# ctest run, with a pattern to exclude where one is given.
UNIT = r'^(PercentDraw|ScanFloat|Params|Wave|Messages/ParamFaults|Reference/WaveBits)\.'
READER = r'^(Ac[A-Za-z]*|Files/Ac[A-Za-z]*|Edges/Ac[A-Za-z]*)\.'
READER_ASAN = r'^Asan\.(Ac[A-Za-z]*|Files/Ac[A-Za-z]*|Edges/Ac[A-Za-z]*)\.'
DEEP = r'^Limits\.AMillionNestedGroups'  # seconds: last
# Seconds each, and about saving itself (signals, memory limits): only for it.
SLOW_SAVING = r'^Saving\.(SignalsDuringALargeSave|RunningOutOfMemory)'
SLOW = r'^(Limits\.AMillionNestedGroups|Saving\.(SignalsDuringALargeSave|RunningOutOfMemory))'
# Each group: the targets to build, then the tests to run.
PLUGIN = ['corrugo_plugin']
AFTER_PLUGIN = [(PLUGIN, r'^Plugin\.'), (['corrugo_plugin_asan'], r'^Asan\.Plugin\.'),
                (PLUGIN, (r'^((Cli|Named|Saving|Limits)\.|PluginSymbols$|ViewerInTk$)', SLOW)),
                (PLUGIN, DEEP)]
CORE_TESTS = [(['test_wave'], UNIT), (['test_host'], r'^Host\.')] + AFTER_PLUGIN
# The substitute host's library holds the .ac files' objects too: relinked, it
# carries a mutant of either to every program and test that loads it.
SIM = ['corrugo_sim']
SIM_TESTS = [(SIM, r'^Host\.'), (SIM, UNIT),
             (SIM, (r'^((Plugin|Cli|Named|Saving|Limits)\.|ViewerInTk$)', SLOW)), (SIM, DEEP)]
FAULTS = r'^Faults\.'  # reading and saving when system calls fail
ACFILE_TESTS = [(['test_acfile', 'test_noloss'], READER),
                (['test_acfile_asan'], READER_ASAN), (['test_faults'], FAULTS)] + SIM_TESTS
SAVE_TESTS = [(['test_faults'], FAULTS), (['test_acfile'], r'^AcFile\.'),
              (['test_acfile_asan'], r'^Asan\.AcFile\.'),
              (SIM, (r'^(Saving|Cli|Named|Limits)\.', SLOW)),
              (SIM, SLOW_SAVING)]
FILES = {
    'wave/draw.cpp': ('corrugo_core', CORE_TESTS),
    'wave/wave_params.cpp': ('corrugo_core', CORE_TESTS),
    'wave/gather.cpp': ('corrugo_core', CORE_TESTS),
    'wave/apply.cpp': ('corrugo_core', CORE_TESTS),
    'wave/command.cpp': ('corrugo_core', CORE_TESTS),
    'wave/preview.cpp': ('corrugo_core', CORE_TESTS),
    'plugin/host_functions.cpp': ('corrugo_core', [(['test_tick'], r'^TickCount\.')] + CORE_TESTS),
    'plugin/plugin.cpp': ('corrugo_plugin', AFTER_PLUGIN),
    'acfile/lines.h': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/number_text.h': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/plain_lines.h': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/number_text.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/mapped_file.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/frame.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read_ahead.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read_lines.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read_object.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read_place.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read_tree.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/read_file.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/write.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'acfile/write_parts.cpp': ('corrugo_acfile', ACFILE_TESTS),
    'sim/host.cpp': ('corrugo_sim', SIM_TESTS),
    'sim/host_tcl.cpp': ('corrugo_sim', SIM_TESTS),
    'acfile/save_file.cpp': ('corrugo_acfile', SAVE_TESTS),
    'acfile/file_io.cpp': ('corrugo_acfile', SAVE_TESTS),
}

# Files outside the sample and --all (see FILES): the faults of the catalog
# change them, and the rules too where --changed-since asks for every mutant
# of the lines changed.
HOST_PROGRAM_TESTS = [(['corrugo-host'], r'^((Cli|Named|Saving|Limits)\.|ViewerInTk$)')]
CATALOG_FILES = {
    'programs/corrugo_host.cpp': ('corrugo-host', HOST_PROGRAM_TESTS),
    'programs/options.cpp': ('corrugo-host', HOST_PROGRAM_TESTS),
    'programs/run_files.cpp': ('corrugo-host', HOST_PROGRAM_TESTS),
    'programs/wave_options.cpp': ('corrugo-host', HOST_PROGRAM_TESTS),
    'programs/report.cpp': ('corrugo-host', HOST_PROGRAM_TESTS),
    'programs/viewer.cpp': ('corrugo-host', [(['corrugo-host'], r'^(ViewerInTk|Cli\.)')]),
    'acfile/stamp.cpp': ('corrugo_acfile', SAVE_TESTS),
    'sim/selection.cpp': ('corrugo_sim', SIM_TESTS),
    # not compiled (no target): its tests run the copy's script itself
    'script/corrugo.tcl': (None, [([], r'^Dialog')]),
}


# Every file the rules mutate for --changed-since: the C++ files of both
# tables.
RULE_FILES = sorted(FILES) + sorted(path for path in CATALOG_FILES if path.endswith('.cpp'))


def file_info(path):
    """The target of "path" and its groups of tests."""
    return FILES[path] if path in FILES else CATALOG_FILES[path]


# A header's code is compiled into the objects of the files that include it:
# those are rebuilt, and compared with the original's, in its place.
HEADERS = {
    'acfile/lines.h': ['acfile/number_text.cpp', 'acfile/read_ahead.cpp', 'acfile/read_lines.cpp',
                       'acfile/read_object.cpp', 'acfile/read_place.cpp', 'acfile/read_tree.cpp',
                       'acfile/read_file.cpp', 'acfile/write.cpp'],
    'acfile/number_text.h': ['acfile/number_text.cpp', 'acfile/read_lines.cpp',
                             'acfile/read_object.cpp', 'acfile/read_tree.cpp', 'acfile/write.cpp'],
    'acfile/plain_lines.h': ['acfile/read_object.cpp'],
}

# What the sample draws from, unless --files says otherwise: the plug-in, the
# reader and writer and the host functions. Not saving and its system calls:
# most of their mutants are in what they do when a call fails (close, write,
# rename), which only the fault tests make happen; --all and --files take
# them in.
SAVING_FILES = ('acfile/save_file.cpp', 'acfile/file_io.cpp')
SAMPLE_FILES = [path for path in sorted(FILES) if path not in SAVING_FILES]

# Where the figures are grouped (by the start of the mutated file's path).
FOLDERS = [('wave/', 'wave/'), ('plugin/', 'plugin/'),
           ('reader and writer', tuple(path for path in FILES if path.startswith('acfile/') and
                                       path not in SAVING_FILES)),
           ('host functions', 'sim/'), ('saving', SAVING_FILES + ('acfile/stamp.cpp',)),
           ('corrugo-host', 'programs/')]

SAMPLE_SIZE = 100
# A mutant that hangs is killed by a time limit per ctest test: a few times
# that test's own time in the run without a mutant (so that a busy machine
# slows the limit and the test alike), never below the floor.
TEST_TIMEOUT = 10  # seconds: the floor
TIMEOUT_FACTOR = 3
BASELINE_TIMEOUT = 300  # seconds per test in the run without a mutant

# "function": the function (or the initialised table, or the type) whose
# braces hold the change, "Type::name" for a member; "occurrence": which of
# the function's lines of the same text with the same change it is (1 for
# the first).
Mutant = namedtuple('Mutant', 'path start end replacement line original description function '
                    'occurrence', defaults=('-', 1))
CATALOG_MARK = 'by hand: '  # starts the description of a fault of the catalog
CATALOG_SAMPLE = 30  # at most this many of them in the sample


# {====== Reading C++ ======

Token = namedtuple('Token', 'kind text start end')

TOKEN_RE = re.compile(r'''
    (?P<space>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<string>"(?:\\.|[^"\\\n])*"|R"(?P<delim>[^(]*)\(.*?\)(?P=delim)"|'(?:\\.|[^'\\\n])+')
  | (?P<number>0[xX][0-9a-fA-F]+[uUlL]*|(?:\d+\.\d*|\.\d+|\d+)(?:[eE][+-]?\d+)?[fFuUlL]*)
  | (?P<ident>[A-Za-z_]\w*)
  | (?P<op><<=|>>=|->\*|\.\.\.|::|->|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||[-+*/%&|^]=|[^\s\w])
''', re.VERBOSE | re.DOTALL)

# Conditional code that the Linux build never compiles: the Windows parts and
# the AddressSanitizer-only parts.
INACTIVE_MACROS = ('_WIN32', '__SANITIZE_ADDRESS__')


def preprocessor_mask(text):
    """Blanks out (with spaces, keeping offsets) preprocessor lines and the
    code that the Linux build does not compile."""
    out = []
    stack = []  # per open #if: is its current branch active
    for line in text.splitlines(keepends=True):
        s = line.strip()
        active = all(stack)
        if s.startswith('#'):
            directive = s[1:].strip()
            if directive.startswith(('if', 'ifdef', 'ifndef')) and not directive.startswith('ifndef CORRUGO'):
                inactive = (directive.startswith(('ifdef', 'if defined', 'if ')) and
                            any(m in directive for m in INACTIVE_MACROS) and
                            not directive.startswith('ifndef'))
                stack.append(not inactive)
            elif directive.startswith(('elif', 'else')) and stack:
                stack[-1] = not stack[-1]
            elif directive.startswith('endif') and stack:
                stack.pop()
            out.append(re.sub(r'[^\n]', ' ', line))
        elif not active:
            out.append(re.sub(r'[^\n]', ' ', line))
        else:
            out.append(line)
    return ''.join(out)


def tokenize(text):
    tokens = []
    for m in TOKEN_RE.finditer(text):
        kind = m.lastgroup if m.lastgroup != 'delim' else 'string'
        if kind in ('space', 'comment'):
            continue
        if m.group('string') is not None:
            kind = 'string'
        tokens.append(Token(kind, m.group(0), m.start(), m.end()))
    return tokens


def matching(tokens, i, open_, close):
    """Index of the token closing the bracket at tokens[i]."""
    depth = 0
    for j in range(i, len(tokens)):
        if tokens[j].text == open_:
            depth += 1
        elif tokens[j].text == close:
            depth -= 1
            if depth == 0:
                return j
    return None


def host_functions():
    with open(os.path.join(ROOT, 'host', 'host.h')) as f:
        header = f.read()
    return set(re.findall(r'\b(\w+)\s*\([^;]*\)\s*(?:HOST_PRINTF\([^)]*\))?\s*;', header)) - {
        'HOST_PRINTF', 'typedef'}


def _named_block(header):
    """What the tokens before a '{' outside any function open: ('function',
    name), ('value', name) for an initialised variable, ('type', name),
    ('namespace', None) for a namespace or an extern "C" block, or ('block',
    None)."""
    while len(header) > 1 and header[0].text == 'template' and header[1].text == '<':
        depth, i = 0, 1  # past the template's parameters
        for i in range(1, len(header)):
            depth += {'<': 1, '>': -1, '>>': -2}.get(header[i].text, 0)
            if depth <= 0:
                break
        header = header[i + 1:]
    texts = [t.text for t in header]
    if not texts:
        return 'block', None
    if 'namespace' in texts or (texts[0] == 'extern' and len(texts) == 2):
        return 'namespace', None
    depth, first = 0, {}
    for i, text in enumerate(texts):
        if text in ('(', '['):
            if depth == 0:
                first.setdefault(text, i)
            depth += 1
        elif text in (')', ']'):
            depth -= 1
        elif text == '=' and depth == 0:
            first.setdefault('=', i)
    paren = first.get('(', len(texts))
    if 'operator' in texts[:paren + 1]:
        o = texts.index('operator')
        end = o + 2 if texts[o + 1] == '(' else paren  # operator() or operator=
        start = o
        name = 'operator' + ''.join(texts[o + 1:end])
    elif first.get('=', len(texts)) < paren or paren == len(texts) and \
            not {'struct', 'class', 'union', 'enum'} & set(texts):
        j = first.get('=', len(texts)) - 1
        while j > 0 and texts[j] == ']':
            j = texts.index('[', 0, j) - 1 if '[' in texts[:j] else 0
        return 'value', texts[j] if header[j].kind == 'ident' else '-'
    elif {'struct', 'class', 'union', 'enum'} & set(texts[:paren]):
        k = max(i for i, text in enumerate(texts[:paren]) if text in ('struct', 'class', 'union', 'enum'))
        names = [t.text for t in header[k + 1:paren] if t.kind == 'ident' and t.text != 'final']
        return 'type', names[0] if names else '(anonymous)'
    else:
        start = paren - 1
        name = texts[start] if start >= 0 else '-'
        if start > 0 and texts[start - 1] == '~':
            start -= 1
            name = '~' + name
    while start >= 2 and texts[start - 1] == '::' and header[start - 2].kind == 'ident':
        start -= 2
        name = texts[start] + '::' + name
    return 'function', name


def function_spans(tokens):
    """The named blocks of a file: (start offset, end offset, name), a member
    function's name after its type's ("Type::name"). A brace-depth scan:
    the header of a block opened outside any function is the text since the
    last ';', '{', '}' or access label; blocks within a function are part of
    it."""
    spans, stack, header_start = [], [], 0
    for i, tok in enumerate(tokens):
        inside = any(kind in ('function', 'value') for kind, _, _ in stack)
        if tok.text == '{':
            kind, name = ('block', None) if inside else _named_block(tokens[header_start:i])
            if name:
                outer = [n for k, n, _ in stack if n and k in ('type', 'function', 'value')]
                name = '::'.join(outer + [name])
            stack.append((kind, name, tok.start))
            header_start = i + 1
        elif tok.text == '}':
            if stack:
                kind, name, start = stack.pop()
                if name:
                    spans.append((start, tok.end, name))
            header_start = i + 1
        elif not inside and (tok.text == ';' or (tok.text == ':' and i and tokens[i - 1].text in
                                                  ('public', 'protected', 'private'))):
            header_start = i + 1
    return spans


_SPANS = {}


def function_at(path, offset):
    """The name of the function of "path" that holds "offset" (the innermost
    named block; in a Tcl script, the nearest proc above it); '-' outside
    any."""
    if path not in _SPANS:
        with open(os.path.join(ROOT, path)) as f:
            text = f.read()
        if path.endswith('.tcl'):
            _SPANS[path] = [(m.start(), len(text), m.group(1))
                            for m in re.finditer(r'^\s*proc\s+(\S+)', text, re.M)]
        else:
            _SPANS[path] = function_spans(tokenize(preprocessor_mask(text)))
    inner = [(start, name) for start, end, name in _SPANS[path] if start <= offset < end]
    return max(inner)[1] if inner else '-'


def numbered(mutants):
    """The mutants with their function and occurrence set."""
    count = {}
    out = []
    for m in sorted(mutants, key=lambda m: (m.path, m.start)):
        function = function_at(m.path, m.start)
        k = (m.path, function, m.original, m.description)
        count[k] = count.get(k, 0) + 1
        out.append(m._replace(function=function, occurrence=count[k]))
    return out


# }======

# {====== Generating mutants ======

SWAP = {'<': '<=', '<=': '<', '>': '>=', '>=': '>', '==': '!=', '!=': '==', '&&': '||',
        '||': '&&', '+': '-', '-': '+', '*': '/', '/': '*', '%': '*', '+=': '-=', '-=': '+=',
        '*=': '/=', '/=': '*='}
ARITHMETIC = {'+', '-', '*', '/', '%'}
RELATIONAL = {'<', '<=', '>', '>=', '==', '!=', '&&', '||'}


def changed_number(text):
    m = re.match(r'(0[xX][0-9a-fA-F]+|[\d.]+(?:[eE][+-]?\d+)?)(\w*)$', text)
    if not m:
        return None
    body, suffix = m.groups()
    if body.lower().startswith('0x'):
        value = int(body, 16)
        return '0x%X%s' % (value - 1 if value else 1, suffix)
    if re.fullmatch(r'\d+', body) and 'f' not in suffix.lower():
        value = int(body)
        return '%d%s' % ({0: 1, 1: 0}.get(value, value + 1), suffix)
    return repr(float(body) + 1) + suffix


def binary_with_spaces(text, tok):
    """A binary operator as this code base formats one: a space each side."""
    return (tok.start > 0 and text[tok.start - 1] in ' \t' and tok.end < len(text) and
            text[tok.end] in ' \t\n')


def generate(path, hosts):
    with open(os.path.join(ROOT, path)) as f:
        original = f.read()
    text = preprocessor_mask(original)
    tokens = tokenize(text)
    lines = original.splitlines()
    mutants = []

    def add(start, end, replacement, description):
        line = original.count('\n', 0, start) + 1
        mutants.append(Mutant(path, start, end, replacement, line, lines[line - 1].strip(),
                              description))

    depths = brace_depths(tokens)
    for i, tok in enumerate(tokens):
        prev = tokens[i - 1] if i else None
        nxt = tokens[i + 1] if i + 1 < len(tokens) else None
        if depths[i] == 0:
            continue  # only code inside functions (and initialisers)
        if tok.kind == 'op' and tok.text in SWAP:
            if tok.text in ('&&', '||', '==', '!=', '+=', '-=', '*=', '/=', '<=', '>=') or \
                    binary_with_spaces(text, tok):
                if tok.text in ('*', '&') and not binary_with_spaces(text, tok):
                    continue
                add(tok.start, tok.end, SWAP[tok.text], '%s -> %s' % (tok.text, SWAP[tok.text]))
        elif tok.kind == 'number':
            if prev and prev.text == '[':
                continue  # an array's size
            new = changed_number(tok.text)
            if new and new != tok.text:
                add(tok.start, tok.end, new, '%s -> %s' % (tok.text, new))
        elif tok.kind == 'ident' and tok.text in ('float', 'double'):
            other = 'double' if tok.text == 'float' else 'float'
            cast = prev and prev.text == '(' and nxt and nxt.text == ')'
            functional = nxt and nxt.text == '(' and not (prev and prev.kind == 'ident')
            declaration = (nxt and nxt.kind == 'ident' and i + 2 < len(tokens) and
                           tokens[i + 2].text == '=' and prev and prev.text in ('const', ';', '{', '}'))
            if cast:
                add(prev.start, nxt.end, '', 'cast (%s) removed' % tok.text)
                add(tok.start, tok.end, other, '(%s) -> (%s)' % (tok.text, other))
            elif functional:
                add(tok.start, tok.end, other, '%s(...) -> %s(...)' % (tok.text, other))
            elif declaration:
                add(tok.start, tok.end, other, '%s %s -> %s %s' % (tok.text, nxt.text, other, nxt.text))
        elif tok.kind == 'ident' and tok.text in hosts and nxt and nxt.text == '(' and \
                prev and prev.text in (';', '{', '}', ')', 'else'):
            close = matching(tokens, i + 1, '(', ')')
            if close is not None and close + 1 < len(tokens) and tokens[close + 1].text == ';':
                add(tok.start, tokens[close + 1].end, ';', 'call %s(...) removed' % tok.text)
        elif tok.text == 'host' and nxt and nxt.text == '.' and i + 3 < len(tokens) and \
                tokens[i + 2].text in hosts and tokens[i + 3].text == '(' and \
                prev and prev.text in (';', '{', '}', ')', 'else'):
            # the plug-in calls its host through the table: host.name(...);
            close = matching(tokens, i + 3, '(', ')')
            if close is not None and close + 1 < len(tokens) and tokens[close + 1].text == ';':
                add(tok.start, tokens[close + 1].end, ';', 'call %s(...) removed' % tokens[i + 2].text)
        elif tok.text == 'return' and prev and prev.text in (')', 'else', ':', '{', ';'):
            end = i
            while end < len(tokens) and tokens[end].text != ';':
                end += 1
            if end + 1 < len(tokens) and tokens[end + 1].text == '}' and \
                    _closes_function(tokens, end + 1):
                continue  # the function's last statement: not an early return
            add(tok.start, tokens[end].end, ';', 'return removed')
        elif tok.text in ('if', 'while') and nxt and nxt.text == '(':
            close = matching(tokens, i + 1, '(', ')')
            if close is not None:
                inner = original[tokens[i + 1].end:tokens[close].start]
                add(tokens[i + 1].start, tokens[close].end, '(!(%s))' % inner,
                    '%s condition negated' % tok.text)
    return mutants


def brace_depths(tokens):
    """For each token, how deep it lies in braces, counting neither those of
    a namespace nor those of an extern "C" block (a '{' counts from itself
    on, a '}' up to itself)."""
    depths, stack, depth = [], [], 0
    for i, tok in enumerate(tokens):
        if tok.text == '{':
            block = (i >= 1 and tokens[i - 1].text == 'namespace') or \
                    (i >= 2 and tokens[i - 2].text == 'namespace') or \
                    (i >= 2 and tokens[i - 2].text == 'extern' and tokens[i - 1].kind == 'string')
            stack.append(not block)
            depth += not block
        depths.append(depth)
        if tok.text == '}' and stack:
            depth -= stack.pop()
    return depths


def _closes_function(tokens, j):
    """Whether the '}' at tokens[j] closes a function body (depth 1)."""
    return brace_depths(tokens[:j + 1])[j] == 1


def all_mutants(paths):
    hosts = host_functions() | {'free_nodes'}
    mutants = []
    for path in paths:
        mutants.extend(generate(path, hosts))
    # the same change twice on a line: the later ones are told apart by number
    seen = {}
    for i, m in enumerate(mutants):
        n = seen[(m.path, m.line, m.description)] = seen.get((m.path, m.line, m.description), 0) + 1
        if n > 1:
            mutants[i] = m._replace(description='%s #%d' % (m.description, n))
    return numbered(mutants)


def unescape(text):
    """A catalog field's text: \\n a line end, \\t a tab, \\| a bar, \\\\ a backslash."""
    return re.sub(r'\\(.)', lambda m: {'n': '\n', 't': '\t'}.get(m.group(1), m.group(1)), text)


def catalog():
    """The faults written by hand in the catalog, as mutants, and what is
    wrong with the catalog: each entry's text must be found exactly once in
    its file (a refactoring that moved the code must bring the entry up to
    date), and no entry may be there twice."""
    mutants, faults, seen = [], [], set()
    if not os.path.exists(CATALOG_FILE):
        return mutants, faults
    name = os.path.relpath(CATALOG_FILE, ROOT)
    texts = {}
    with open(CATALOG_FILE) as f:
        for number, line in enumerate(f, 1):
            if line.startswith('#') or not line.strip():
                continue
            # " | " apart (a bar written \\| is no separator)
            fields = re.split(r' \| ', line.rstrip('\n'), maxsplit=3)
            if len(fields) != 4 or not all(fields[i].strip() for i in (0, 1, 3)):
                faults.append('%s:%d: needs FILE | TEXT | REPLACEMENT | WHAT A USER SEES' % (name, number))
                continue
            path, text, replacement, seen_by_user = fields[0].strip(), unescape(fields[1]), \
                unescape(fields[2]), fields[3].strip()
            if path not in FILES and path not in CATALOG_FILES:
                faults.append('%s:%d: %s is no file mutate.py knows (FILES or CATALOG_FILES)'
                              % (name, number, path))
                continue
            if path not in texts:
                with open(os.path.join(ROOT, path)) as source:
                    texts[path] = source.read()
            original = texts[path]
            found = original.count(text)
            if found != 1:
                faults.append('%s:%d: its text is found %s in %s; bring it up to date with the code'
                              % (name, number, 'nowhere' if not found else '%d times' % found,
                                 path))
                continue
            if (path, text, replacement) in seen:
                faults.append('%s:%d: listed twice' % (name, number))
                continue
            seen.add((path, text, replacement))
            start = original.index(text)
            line_number = original.count('\n', 0, start) + 1
            mutants.append(Mutant(path, start, start + len(text), replacement, line_number,
                                  original.splitlines()[line_number - 1].strip(),
                                  CATALOG_MARK + seen_by_user))
    return numbered(mutants), faults


def equivalent_keys():
    """Mutants listed as equivalent: "path | function | original line |
    change" lines, with "| occurrence N" after them when the function has
    several lines of that text with that change and only the Nth is meant
    (without it, the entry names them all: equivalent for the same reason).
    Each key with the numbers of the file's lines that list it; and the
    lines that are no entry."""
    keys, faults = {}, []
    name = os.path.relpath(EQUIVALENT_FILE, ROOT)
    if os.path.exists(EQUIVALENT_FILE):
        with open(EQUIVALENT_FILE) as f:
            for number, line in enumerate(f, 1):
                if line.startswith('#') or not line.strip():
                    continue
                # " | " apart: the lines themselves may hold "||"
                parts = [p.strip() for p in line.rstrip('\n').split(' | ')]
                occurrence = re.fullmatch(r'occurrence ([1-9]\d*)', parts[-1])
                if occurrence:
                    parts.pop()
                if len(parts) < 4:
                    faults.append('%s:%d: needs FILE | FUNCTION | LINE | CHANGE, then '
                                  '| occurrence N if need be' % (name, number))
                    continue
                k = (parts[0], parts[1], ' | '.join(parts[2:-1]), parts[-1],
                     int(occurrence.group(1)) if occurrence else None)
                keys.setdefault(k, []).append(number)
    return keys, faults


def equivalent(m, keys):
    """Whether the list names mutant "m" (all its function's lines of that
    text and change, or this one by its occurrence)."""
    k = (m.path, m.function, m.original, m.description)
    return k + (None,) in keys or k + (m.occurrence,) in keys


def equivalent_list_faults(keys, mutants):
    """What is wrong with the list of equivalent mutants, checked against
    every mutant of every file: an entry must name a mutant, and none that
    another entry names. One that names none has outlived its code."""
    found = {}  # (path, function, line, change): the occurrences
    elsewhere = {}  # (line, change): where else they are found
    for m in mutants:
        found.setdefault((m.path, m.function, m.original, m.description), []).append(m.occurrence)
        elsewhere.setdefault((m.original, m.description), set()).add('%s in %s' % (m.path, m.function))
    name = os.path.relpath(EQUIVALENT_FILE, ROOT)
    faults = []
    named_by = {}  # each mutant named: the line that names it first
    for k, numbers in sorted(keys.items(), key=lambda item: item[1]):
        number = numbers[0]
        if len(numbers) > 1:
            faults.append('%s:%d: listed again on line %s'
                          % (name, number, ', '.join(map(str, numbers[1:]))))
        occurrences = [o for o in found.get(k[:4], []) if k[4] in (None, o)]
        if not occurrences:
            places = sorted(elsewhere.get(k[2:4], ()))
            faults.append('%s:%d: names no mutant (%s, in %s: %s%s); bring it up to date or '
                          'remove it%s'
                          % (name, number, k[0], k[1], k[3],
                             ', occurrence %d' % k[4] if k[4] else '',
                             ' (the line and the change are in %s now)' % ', '.join(places)
                             if places else ''))
        for o in occurrences:
            first = named_by.setdefault(k[:4] + (o,), number)
            if first != number:
                faults.append('%s:%d: names a mutant that line %d names already'
                              % (name, number, first))
                break
    return faults


def key(m):
    return (m.path, m.original, m.description)


def changed_lines(rev, paths):
    """For each of "paths", the numbers of its lines (as the working tree has
    it) that differ from revision "rev": added or changed, not the places of
    lines only removed, where nothing is left to mutate."""
    changed = {}
    for path in paths:
        diff = subprocess.run(['git', 'diff', '-U0', '--no-color', '--no-ext-diff', rev, '--', path],
                              cwd=ROOT, check=True, capture_output=True, text=True).stdout
        lines = set()
        for m in re.finditer(r'^@@ -\S+ \+(\d+)(?:,(\d+))? @@', diff, re.M):
            start, count = int(m.group(1)), int(m.group(2) or 1)
            lines.update(range(start, start + count))
        changed[path] = lines
    return changed


def on_changed_lines(mutants, changed):
    """The mutants whose text touches a changed line."""
    texts, kept = {}, []
    for m in mutants:
        if m.path not in texts:
            with open(os.path.join(ROOT, m.path)) as f:
                texts[m.path] = f.read()
        last = m.line + texts[m.path].count('\n', m.start, max(m.end - 1, m.start))
        if changed.get(m.path, set()) & set(range(m.line, last + 1)):
            kept.append(m)
    return kept


def uncovered_changes(rev):
    """Source files changed since "rev" that no table here covers (the tests'
    own code aside)."""
    names = subprocess.run(['git', 'diff', '--name-only', '--no-color', rev, '--'], cwd=ROOT,
                           check=True, capture_output=True, text=True).stdout.split()
    known = set(FILES) | set(CATALOG_FILES)
    return [name for name in names if name.endswith(('.cpp', '.tcl')) and name not in known and
            not name.startswith(('tests/', 'bench/', 'fuzz/', 'wintest/')) and
            os.path.exists(os.path.join(ROOT, name))]


def sources_hash(paths):
    h = hashlib.sha256()
    for path in paths:
        with open(os.path.join(ROOT, path), 'rb') as f:
            h.update(path.encode() + b'\0' + f.read())
    return h.hexdigest()


# }======

# {====== The scratch copy and its build ======

class Scratch:
    def __init__(self, base):
        self.base = base
        self.src = os.path.join(base, 'src')
        self.build = os.path.join(base, 'build')
        self.timed = os.path.join(base, 'timed')  # the tests, with their limits

    def sync(self):
        """Brings the copy up to date with the working tree (tracked and new
        files), rewriting only the files that differ."""
        files = subprocess.run(['git', 'ls-files', '-z', '--cached', '--others', '--exclude-standard'],
                               cwd=ROOT, check=True, capture_output=True).stdout.decode().split('\0')
        for rel in filter(None, files):
            src = os.path.join(ROOT, rel)
            if not os.path.isfile(src):
                continue
            dst = os.path.join(self.src, rel)
            with open(src, 'rb') as f:
                data = f.read()
            if os.path.exists(dst):
                with open(dst, 'rb') as f:
                    if f.read() == data:
                        continue
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            with open(dst, 'wb') as f:
                f.write(data)
            shutil.copymode(src, dst)
        # the real sample models lie beside the repository
        shared = os.path.join(self.base, 'shared')
        if not os.path.exists(shared) and os.path.isdir(os.path.join(ROOT, '..', 'shared')):
            os.symlink(os.path.realpath(os.path.join(ROOT, '..', 'shared')), shared)

    # -O1 without debug information: quick to compile, and the same
    # floating-point rules as every other build. The standard library checks
    # its indexes, so that a mutant reaching one past a vector's end stops
    # there rather than writing over whatever lies beyond.
    FLAGS = '-O1 -DNDEBUG -D_GLIBCXX_ASSERTIONS'

    def configure(self):
        cache = os.path.join(self.build, 'CMakeCache.txt')
        configured = ''
        if os.path.exists(os.path.join(self.build, 'build.ninja')):
            with open(cache) as f:
                configured = f.read()
        if 'CMAKE_CXX_FLAGS_RELEASE:STRING=%s\n' % self.FLAGS not in configured:
            run(['cmake', '-S', self.src, '-B', self.build, '-G', 'Ninja',
                 '-DCMAKE_BUILD_TYPE=Release', '-DCMAKE_CXX_FLAGS_RELEASE=' + self.FLAGS,
                 '-DCMAKE_LINK_DEPENDS_NO_SHARED=ON'], quiet=True)

    def time_limits(self, junit):
        """Gives each test the limit its time in "junit" (ctest's JUnit
        report of the run without a mutant) calls for. The tests are run
        through a folder of their own, whose test file takes in the build's
        and then sets each limit: the build's own files, which CMake writes
        again whenever it runs, are left as they are."""
        limits = []
        for case in ElementTree.parse(junit).getroot().iter('testcase'):
            limit = max(TEST_TIMEOUT, math.ceil(TIMEOUT_FACTOR * float(case.get('time', 0))))
            limits.append('set_tests_properties("%s" PROPERTIES TIMEOUT %d)\n'
                          % (case.get('name'), limit))
        os.makedirs(self.timed, exist_ok=True)
        with open(os.path.join(self.timed, 'CTestTestfile.cmake'), 'w') as f:
            f.write('subdirs("%s")\n' % self.build)
            f.writelines(limits)

    def object_files(self, path):
        """The objects that hold the code of "path" (a header's: of the files
        that include it)."""
        if file_info(path)[0] is None:
            return []
        return [os.path.join(self.build, 'CMakeFiles', file_info(path)[0] + '.dir', source + '.o')
                for source in HEADERS.get(path, [path])]

    def ninja(self, targets):
        r = subprocess.run(['ninja', '-C', self.build, '-j2'] + targets,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return r.returncode == 0

    def object_targets(self, path):
        return [os.path.relpath(f, self.build) for f in self.object_files(path)]


def run(command, quiet=False, **kw):
    r = subprocess.run(command, stdout=subprocess.PIPE if quiet else None,
                       stderr=subprocess.STDOUT if quiet else None, **kw)
    if r.returncode != 0:
        if quiet and r.stdout:
            sys.stderr.write(r.stdout.decode(errors='replace'))
        sys.exit('mutate.py: failed: %s' % ' '.join(command))


def digest(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def ctest(scratch, groups):
    """Builds and runs each group of tests in order, each test within its
    limit, stopping at the first failure; (True, None) when all pass, else
    (False, the failing group)."""
    cost = os.path.join(scratch.timed, 'Testing', 'Temporary', 'CTestCostData.txt')
    for targets, pattern in groups:
        if targets and not scratch.ninja(targets):
            return False, 'build'
        include, exclude = pattern if isinstance(pattern, tuple) else (pattern, None)
        if os.path.exists(cost):
            os.remove(cost)  # else ctest runs the longest tests first
        command = ['ctest', '--test-dir', scratch.timed, '-j2', '-R', include, '--timeout',
                   str(TEST_TIMEOUT), '--stop-on-failure'] + (['-E', exclude] if exclude else [])
        r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           start_new_session=True)
        if r.returncode != 0:
            return False, (targets, pattern)
    return True, None


def run_without_mutant(scratch):
    """Runs every test once, without a mutant, and sets each test's limit
    from its time. When a test fails, ends naming each failing test, how it
    failed and the end of its output."""
    junit = os.path.join(scratch.base, 'without-mutant.xml')
    if os.path.exists(junit):
        os.remove(junit)
    r = subprocess.run(['ctest', '--test-dir', scratch.build, '-j2', '--timeout',
                        str(BASELINE_TIMEOUT), '--output-junit', junit],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    if r.returncode == 0:
        scratch.time_limits(junit)
        return
    # ctest's list of failures says how each failed ("Failed", "Timeout",
    # "SEGFAULT"...); its report holds their output
    listed = r.stdout.decode(errors='replace').partition('The following tests FAILED:')[2]
    how = dict((name, why) for name, why in re.findall(r'^\s*\d+ - (.+?) \(([^()]+)\)$',
                                                       listed, re.M))
    output = {}
    if os.path.exists(junit):
        for case in ElementTree.parse(junit).getroot().iter('testcase'):
            output[case.get('name')] = (case.findtext('system-out') or '', case.get('time'))
    if not how:
        sys.stderr.write(r.stdout.decode(errors='replace')[-4000:])
        sys.exit('mutate.py: ctest failed without any mutant, naming no test (above)')
    for name, why in how.items():
        text, seconds = output.get(name, ('', None))
        state = ('timed out after %s s' % BASELINE_TIMEOUT if why == 'Timeout' else
                 'failed' if why == 'Failed' else 'failed (%s)' % why)
        print('mutate.py: without any mutant, %s %s%s; the end of its output:'
              % (name, state, ' in %.1f s' % float(seconds) if seconds and why != 'Timeout'
                 else ''), file=sys.stderr)
        for line in (text.rstrip('\n').splitlines()[-25:] or ['(none)']):
            print('    ' + line, file=sys.stderr)
    sys.exit('mutate.py: the tests fail without any mutant (%d of them, above); fix them first'
             % len(how))


# }======

# {====== Running ======

def run_mutants(scratch, mutants, listed, verbose, results):
    """Appends (mutant, outcome) to "results" as each is known: killed,
    survived, same-code, equivalent or stillborn."""
    by_file = {}
    for m in mutants:
        by_file.setdefault(m.path, []).append(m)
    for path, group in by_file.items():
        target, tests = file_info(path)
        rebuild = sorted({t for targets, _ in tests for t in targets})
        source = os.path.join(scratch.src, path)
        with open(source) as f:
            original = f.read()
        baseline = [digest(f) for f in scratch.object_files(path)]
        try:
            for m in sorted(group, key=lambda m: m.start):
                if equivalent(m, listed):
                    results.append((m, 'equivalent'))
                    continue
                started = time.time()
                with open(source, 'w') as f:
                    f.write(original[:m.start] + m.replacement + original[m.end:])
                objects = scratch.object_targets(path)  # none for a script
                if objects and not scratch.ninja(objects):
                    outcome = 'stillborn'
                elif objects and [digest(f) for f in scratch.object_files(path)] == baseline:
                    outcome = 'same-code'
                else:
                    passed, failed = ctest(scratch, tests)
                    outcome = ('survived' if passed else
                               'stillborn' if failed == 'build' else 'killed')
                results.append((m, outcome))
                if verbose or outcome == 'survived':
                    print('%-9s %s:%d: %s  (%.1f s)' % (outcome, m.path, m.line, m.description,
                                                       time.time() - started), flush=True)
        finally:
            with open(source, 'w') as f:
                f.write(original)
            scratch.ninja(rebuild)


def figures(results, prefix='', by_hand=False):
    count = lambda what: sum(1 for m, o in results if o == what and m.path.startswith(prefix) and
                             (not by_hand or m.description.startswith(CATALOG_MARK)))
    killed, survived = count('killed'), count('survived')
    total = killed + survived
    score = 100.0 * killed / total if total else 100.0
    return killed, survived, count('same-code') + count('equivalent'), count('stillborn'), score


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--all', action='store_true', help='every mutant, not the sample')
    parser.add_argument('--sample', type=int, default=SAMPLE_SIZE, help='sample size (default 100)')
    parser.add_argument('--files', nargs='+', choices=sorted(FILES) + sorted(CATALOG_FILES),
                        help='only these files')
    parser.add_argument('--catalog', action='store_true',
                        help='only the faults written by hand (scripts/mutate-catalog.txt)')
    parser.add_argument('--list', action='store_true', help='list the mutants and stop')
    parser.add_argument('--min-score', type=float, default=90.0,
                        help='fail below this percentage killed (default 90)')
    parser.add_argument('--verbose', '-v', action='store_true', help='a line per mutant')
    parser.add_argument('--changed-since', metavar='REV',
                        help='every mutant (rules and catalog) on the lines changed since '
                        'revision REV, in the working tree; no sample')
    parser.add_argument('--rerun', metavar='LOG',
                        help="only the mutants a run's output LOG lists as survivors")
    parser.add_argument('--scratch', default=os.path.join(ROOT, 'build-mutate'),
                        help='the folder of the scratch copy and its build (default build-mutate)')
    args = parser.parse_args()

    if args.changed_since and subprocess.run(
            ['git', 'rev-parse', '--quiet', '--verify', args.changed_since + '^{commit}'],
            cwd=ROOT, capture_output=True).returncode != 0:
        sys.exit('mutate.py: --changed-since %s: no such revision' % args.changed_since)
    # a run of the lines changed mutates corrugo-host's own files too, and so
    # may the run whose survivors --rerun takes up
    every_file = args.changed_since or args.rerun
    paths = args.files or (RULE_FILES if every_file else sorted(FILES) if args.all else SAMPLE_FILES)
    equivalent_list, faults = equivalent_keys()
    every_by_hand, catalog_faults = catalog()
    faults += catalog_faults
    faults += equivalent_list_faults(equivalent_list, all_mutants(RULE_FILES) + every_by_hand)
    if faults:
        sys.exit('\n'.join('mutate.py: ' + fault for fault in faults))
    # the catalog's faults: those of the files asked for (any, by default)
    by_hand = [m for m in every_by_hand if not args.files or m.path in args.files]
    rule_paths = [p for p in paths if p in FILES or every_file and p in RULE_FILES]
    mutants = [] if args.catalog else all_mutants(rule_paths)
    if args.changed_since:
        changed = changed_lines(args.changed_since, sorted({m.path for m in mutants + by_hand}))
        mutants = on_changed_lines(mutants + by_hand, changed)
        for name in uncovered_changes(args.changed_since):
            print('mutate.py: %s changed since %s, but no table here names its tests: not mutated'
                  % (name, args.changed_since), file=sys.stderr)
        if not mutants:
            print('no mutant on the lines changed since %s' % args.changed_since)
            return 0
    if args.rerun:
        if not args.changed_since:
            mutants += by_hand
        # A survivor listed with its line's text ("[...]", in the summary) is
        # found by that text, so that lines added above it since do not lose
        # it; one printed as the run went, by its line number.
        with open(args.rerun) as f:
            log = f.read()
        by_text = set(re.findall(r'^\s*survived\s+(\S+?):\d+: (.*?)    \[(.*)\](?:    \(in .*\))?$',
                                 log, re.M))
        # (a file since moved or split: by the text and the change alone)
        moved = {(original, description) for path, description, original in by_text
                 if path not in FILES and path not in CATALOG_FILES}
        by_text = {(path, original, description) for path, description, original in by_text}
        by_line = set(re.findall(r'^\s*survived\s+(\S+?):(\d+): (.*?)  \([\d.]+ s\)$', log, re.M))
        mutants = [m for m in mutants if key(m) in by_text or (m.original, m.description) in moved or
                   (not by_text and (m.path, str(m.line), m.description) in by_line)]
    elif args.changed_since:
        pass  # every mutant on the lines changed, chosen above: no sample
    elif args.catalog or args.all:
        mutants += by_hand
    else:
        rng = random.Random(sources_hash(paths))
        mutants = rng.sample(mutants, min(args.sample, len(mutants)))
        rng = random.Random(sources_hash(sorted({m.path for m in by_hand}) +
                                         [os.path.relpath(CATALOG_FILE, ROOT)]))
        mutants += rng.sample(by_hand, min(CATALOG_SAMPLE, len(by_hand)))
    if args.list:
        for m in sorted(mutants, key=lambda m: (m.path, m.start)):
            print('%s:%d: %s    [%s]    (in %s)' % (m.path, m.line, m.description, m.original,
                                                    m.function))
        print('%d mutants' % len(mutants))
        return 0

    started = time.time()
    scratch = Scratch(os.path.abspath(args.scratch))
    # an interrupted run may have left a mutated file in the copy: sync first
    scratch.sync()
    scratch.configure()
    run(['ninja', '-C', scratch.build, '-j2'], quiet=True)
    run_without_mutant(scratch)
    # a pattern that matches nothing would let every mutant live
    for path in sorted({m.path for m in mutants}):
        for _, pattern in file_info(path)[1]:
            include = pattern[0] if isinstance(pattern, tuple) else pattern
            listed = subprocess.run(['ctest', '--test-dir', scratch.build, '-N', '-R', include],
                                    capture_output=True, text=True).stdout
            if 'Total Tests: 0' in listed:
                sys.exit('mutate.py: no test matches %s' % include)
    print('%d mutants over %s (%s)' % (len(mutants), ', '.join(sorted({m.path for m in mutants})),
                                       'the lines changed since ' + args.changed_since
                                       if args.changed_since else
                                       'the survivors of ' + args.rerun if args.rerun else
                                       'all' if args.all else 'the catalog' if args.catalog
                                       else 'sample'), flush=True)

    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)
    results = []
    interrupted_at = None
    try:
        run_mutants(scratch, mutants, equivalent_list, args.verbose, results)
    except KeyboardInterrupt:
        interrupted_at = len(results)
        print('mutate.py: interrupted after %d of %d mutants; the working tree was never '
              'changed; the figures so far:' % (len(results), len(mutants)), file=sys.stderr)

    killed, survived, same, stillborn, score = figures(results)
    print()
    for name, prefix in FOLDERS:
        k, s, e, b, sc = figures(results, prefix)
        if k + s + e + b:
            print('%-18s %4d killed, %3d survived, %3d equivalent, %3d not compiling: %5.1f %%'
                  % (name, k, s, e, b, sc))
    k, s, e, b, sc = figures(results, by_hand=True)
    if k + s + e + b:
        print('%-18s %4d killed, %3d survived, %3d equivalent, %3d not compiling: %5.1f %%'
              % ('written by hand', k, s, e, b, sc))
    print('%d killed, %d survived (%.1f %% killed; %d equivalent, %d not compiling; %.0f s)'
          % (killed, survived, score, same, stillborn, time.time() - started))
    for m, o in results:
        if o == 'survived':
            print('  survived %s:%d: %s    [%s]    (in %s)' % (m.path, m.line, m.description,
                                                             m.original, m.function))
    if interrupted_at is not None:
        return 130
    if score < args.min_score:
        print('mutate.py: below %.0f %% killed' % args.min_score, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
