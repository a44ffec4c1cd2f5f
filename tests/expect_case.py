#!/usr/bin/env python3
"""Runs GoogleTest cases and judges the run by the program's exit status and by what the cases
reported, together: ctest's output patterns, once set, ignore the exit status, so a program
that crashed after printing the awaited line would pass.
    expect_case.py passes CASE FILTER COMMAND [ARGUMENT...]
        Runs the cases that FILTER matches. Answers 0 only when the program ended with 0, no
        case failed or skipped, and CASE passed; a filter that matches nothing fails.
    expect_case.py completes COMMAND [ARGUMENT...]
        Runs a whole program. Answers 0 only when it ended with 0, no case failed, and
        GoogleTest's closing lines came: under Wine a program whose stack overflowed can end
        with 0 after printing only part of its cases.
    expect_case.py skips CASE COMMAND [ARGUMENT...]
        Runs CASE alone, in a build where it must skip. Answers ctest's skip code only when
        that very case reported its skip and the program ended with 0."""
import subprocess
import sys

SKIP_CODE = 77  # the test's SKIP_RETURN_CODE
PASSED = "[       OK ]"
FAILED = "[  FAILED  ]"
SKIPPED = "[  SKIPPED ]"


def run(command, gtest_filter=None):
    """The program's exit status and its output lines, which are passed on as they are."""
    if gtest_filter is not None:
        command = command + ["--gtest_filter=" + gtest_filter]
    done = subprocess.run(command, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace")
    output = done.stdout.replace("\r", "")
    sys.stdout.write(output)
    return done.returncode, output.splitlines()


def any_line(lines, start):
    return any(line.startswith(start) for line in lines)


def case_reported(lines, mark, case):
    # GoogleTest ends a case's line with its duration: "[       OK ] Suite.Case (12 ms)".
    return any_line(lines, "%s %s (" % (mark, case))


def problems_of(status, lines, case, mark, reported_as):
    problems = []
    if status != 0:
        problems.append("the program ended with %d" % status)
    if any_line(lines, FAILED):
        problems.append("a case failed")
    if not case_reported(lines, mark, case):
        problems.append("%s was not reported %s" % (case, reported_as))
    return problems


def expect_pass(case, gtest_filter, command):
    status, lines = run(command, gtest_filter)
    problems = problems_of(status, lines, case, PASSED, "passed")
    if any_line(lines, SKIPPED):
        problems.append("a case skipped")
    if problems:
        print("expected %s to pass and the program to end with 0: %s"
              % (case, "; ".join(problems)))
        return 1
    return 0


def expect_completion(command):
    status, lines = run(command)
    problems = []
    if status != 0:
        problems.append("the program ended with %d" % status)
    if any_line(lines, FAILED):
        problems.append("a case failed")
    # "[==========] 5 tests from 2 test suites ran. (12 ms total)" and "[  PASSED  ] 5 tests."
    if not any(line.startswith("[==========] ") and " ran. " in line for line in lines):
        problems.append("the program did not reach the end of its cases")
    if not any_line(lines, "[  PASSED  ] "):
        problems.append("no passed count")
    if problems:
        print("expected the program to run all its cases and end with 0: %s"
              % "; ".join(problems))
        return 1
    return 0


def expect_skip(case, command):
    status, lines = run(command, case)
    problems = problems_of(status, lines, case, SKIPPED, "skipped")
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
    if len(arguments) >= 4 and arguments[0] == "passes":
        return expect_pass(arguments[1], arguments[2], arguments[3:])
    if len(arguments) >= 2 and arguments[0] == "completes":
        return expect_completion(arguments[1:])
    if len(arguments) >= 3 and arguments[0] == "skips":
        return expect_skip(arguments[1], arguments[2:])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
