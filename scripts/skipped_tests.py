#!/usr/bin/env python3
"""Lists the tests that a ctest run skipped, each with its reason, from the run's JUnit file
(ctest --output-junit). The reason is the test's own: a line "skipped: why", the message under
GoogleTest's "Skipped" line, or unittest's "skipped 'why'".
    skipped_tests.py RESULTS.xml"""
import re
import sys
import xml.etree.ElementTree as ElementTree


def reason(output):
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
        if line.endswith(": Skipped") and i + 1 < len(lines) and lines[i + 1].strip():
            return lines[i + 1].strip()
        found = re.search(r" \.\.\. skipped '(.*)'$", line)
        if found:
            return found.group(1)
    return "no reason given"


def main():
    try:
        suite = ElementTree.parse(sys.argv[1]).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print("[test] no results to list skips from: %s" % error)
        return 1
    skipped = [case for case in suite.iter("testcase") if case.find("skipped") is not None
               and case.get("status") != "disabled"]
    if not skipped:
        return 0
    print("[test] skipped, and why:")
    for case in skipped:
        print("  %s: %s" % (case.get("name"), reason(case.findtext("system-out") or "")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
