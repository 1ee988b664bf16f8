#!/usr/bin/env python3
"""Says why each test that ctest skipped was skipped, from ctest's JUnit
report (ctest --output-junit): the reason the test printed (GoogleTest's
message after "Skipped", else the test's last line of output), each reason
once with the tests it holds for. Prints nothing when no test was skipped.

  scripts/skipped.py REPORT.xml
"""
import sys
from xml.etree import ElementTree


def reason(output):
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    for i, line in enumerate(lines):
        if line.endswith(': Skipped') and i + 1 < len(lines):
            return lines[i + 1]
    return lines[-1] if lines else 'no reason given'


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: scripts/skipped.py REPORT.xml')
    by_reason = {}
    for case in ElementTree.parse(sys.argv[1]).getroot().iter('testcase'):
        if case.find('skipped') is not None:
            by_reason.setdefault(reason(case.findtext('system-out') or ''), []).append(
                case.get('name'))
    count = sum(len(names) for names in by_reason.values())
    if count:
        print('%d test%s skipped:' % (count, '' if count == 1 else 's'))
        for why, names in by_reason.items():
            print('  %s:' % why)
            for name in names:
                print('    ' + name)
    return 0


if __name__ == '__main__':
    sys.exit(main())
