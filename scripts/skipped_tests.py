#!/usr/bin/env python3
"""Lists the tests that a ctest run skipped, each with its reason, from the run's JUnit file
(ctest --output-junit), and the GoogleTest cases that skipped inside a program that passed. The
reason is the test's own: a line "skipped: why", the message under GoogleTest's "Skipped" line,
or unittest's "skipped 'why'".
    skipped_tests.py RESULTS.xml"""
import re
import sys
import xml.etree.ElementTree as ElementTree


def given_reason(lines, i):
    """The message GoogleTest prints under its "Skipped" line, or None when the skip gave none
    (the next line is then GoogleTest's own)."""
    if i < len(lines) and lines[i].strip() and not lines[i].startswith("["):
        return lines[i].strip()
    return None


def reason(output):
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
        if line.endswith(": Skipped") and given_reason(lines, i + 1):
            return given_reason(lines, i + 1)
        found = re.search(r" \.\.\. skipped '(.*)'$", line)
        if found:
            return found.group(1)
    return "no reason given"


def cases_skipped_inside(output):
    """GoogleTest and unittest cases that skipped inside a program that passed: (name, reason)
    pairs. unittest names a skipped case with its reason only at verbosity 2; otherwise its
    summary's count stands for them."""
    found, reason_of_next = [], "no reason given"
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.endswith(": Skipped") and given_reason(lines, i + 1):
            reason_of_next = given_reason(lines, i + 1)
        skipped = re.match(r"\[  SKIPPED \] (\S+) \(\d+ ms\)$", line)
        if skipped:
            found.append((skipped.group(1), reason_of_next))
            reason_of_next = "no reason given"
        named = re.match(r"\s*(\S+) \(.* \.\.\. skipped '(.*)'$", line)
        # A case with a docstring has its name on the line before, the docstring's first line
        # on the line of the skip.
        described = re.search(r" \.\.\. skipped '(.*)'$", line)
        if named:
            found.append((named.group(1), named.group(2)))
        elif described and i > 0 and re.match(r"\s*\S+ \(.*\)$", lines[i - 1]):
            found.append((lines[i - 1].split()[0], described.group(1)))
        counted = re.match(r"OK \(skipped=(\d+)\)$", line)
        if counted and not any(re.search(r" \.\.\. skipped '", l) for l in lines):
            found.append(("(%s unnamed)" % counted.group(1), "no reason printed"))
    return found


def main():
    try:
        suite = ElementTree.parse(sys.argv[1]).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print("[test] no results to list skips from: %s" % error)
        return 1
    listed = []
    for case in suite.iter("testcase"):
        output = case.findtext("system-out") or ""
        if case.find("skipped") is not None:
            if case.get("status") != "disabled":
                listed.append("%s: %s" % (case.get("name"), reason(output)))
        else:
            for name, why in cases_skipped_inside(output):
                listed.append("%s, case %s: %s" % (case.get("name"), name, why))
    if listed:
        print("[test] skipped, and why:")
        for line in listed:
            print("  " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
