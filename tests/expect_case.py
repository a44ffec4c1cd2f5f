#!/usr/bin/env python3
"""Runs GoogleTest cases and judges the run by the program's exit status and by what the cases
reported, together: ctest's output patterns, once set, ignore the exit status, so a program
that crashed after printing the awaited line would pass; and the status alone passes a program
that ended early with 0 (a plug-in that ends its host's process quietly) or that ran nothing
(GTEST_FILTER left in the environment).
    expect_case.py runs COMMAND [ARGUMENT...]
        Runs the cases the program selects. Answers 0 only when the program ended with 0, no
        case failed, and GoogleTest's closing summary says that at least one case ran.
    expect_case.py passes CASE FILTER COMMAND [ARGUMENT...]
        Runs the cases that FILTER matches. Answers 0 only when the program ended with 0, no
        case failed or skipped, and CASE passed; a filter that matches nothing fails.
    expect_case.py skips CASE COMMAND [ARGUMENT...]
        Runs CASE alone, in a build where it must skip. Answers ctest's skip code only when
        that very case reported its skip and the program ended with 0."""
import re
import subprocess
import sys

SKIP_CODE = 77  # the test's SKIP_RETURN_CODE
PASSED = "[       OK ]"
FAILED = "[  FAILED  ]"
SKIPPED = "[  SKIPPED ]"


def run(command, gtest_filter=None):
    """The program's exit status and its output lines, which are passed on as they come, so
    that a run stopped by ctest's timeout still shows how far it got."""
    if gtest_filter is not None:
        command = command + ["--gtest_filter=" + gtest_filter]
    lines = []
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace") as program:
        for line in program.stdout:
            line = line.replace("\r", "")
            sys.stdout.write(line)
            sys.stdout.flush()
            lines.append(line.rstrip("\n"))
    return program.returncode, lines


def cases_ran(lines):
    """How many cases GoogleTest's closing summary says ran; None when it printed none, as
    when the program ended before its end."""
    for line in reversed(lines):
        found = re.match(r"\[==========\] (\d+) tests? from \d+ test (?:suite|case)s? ran\.", line)
        if found:
            return int(found.group(1))
    return None


def any_line(lines, start):
    return any(line.startswith(start) for line in lines)


def case_reported(lines, mark, case):
    # GoogleTest ends a case's line with its duration: "[       OK ] Suite.Case (12 ms)".
    return any_line(lines, "%s %s (" % (mark, case))


def problems_of(status, lines):
    problems = []
    if status != 0:
        problems.append("the program ended with %d" % status)
    if any_line(lines, FAILED):
        problems.append("a case failed")
    ran = cases_ran(lines)
    if ran is None:
        problems.append("GoogleTest's closing summary is missing: the program ended early")
    elif ran == 0:
        problems.append("no case ran")
    return problems


def expect_run(command):
    problems = problems_of(*run(command))
    if problems:
        print("expected the program's cases to run and the program to end with 0: %s"
              % "; ".join(problems))
        return 1
    return 0


def expect_pass(case, gtest_filter, command):
    status, lines = run(command, gtest_filter)
    problems = problems_of(status, lines)
    if not case_reported(lines, PASSED, case):
        problems.append("%s was not reported passed" % case)
    if any_line(lines, SKIPPED):
        problems.append("a case skipped")
    if problems:
        print("expected %s to pass and the program to end with 0: %s"
              % (case, "; ".join(problems)))
        return 1
    return 0


def expect_skip(case, command):
    status, lines = run(command, case)
    problems = problems_of(status, lines)
    if not case_reported(lines, SKIPPED, case):
        problems.append("%s was not reported skipped" % case)
    if problems:
        print("expected %s to report its skip and the program to end with 0: %s"
              % (case, "; ".join(problems)))
        return 1
    # GoogleTest puts the reason on the line after "...: Skipped".
    why = next((lines[i + 1].strip() for i, line in enumerate(lines[:-1])
                if line.endswith(": Skipped") and lines[i + 1].strip()), "no reason given")
    print("skipped: " + why)
    return SKIP_CODE


def main():
    arguments = sys.argv[1:]
    if len(arguments) >= 2 and arguments[0] == "runs":
        return expect_run(arguments[1:])
    if len(arguments) >= 4 and arguments[0] == "passes":
        return expect_pass(arguments[1], arguments[2], arguments[3:])
    if len(arguments) >= 3 and arguments[0] == "skips":
        return expect_skip(arguments[1], arguments[2:])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
