#!/usr/bin/env python3
"""Runs one GoogleTest case that means something on i686 only, in the x86_64 build, where it
must skip. Answers ctest's skip code only when that very case reported its skip and the program
ended well; a failure, a crash or a filter that matches no case fails the test.
    expect_skip.py CASE COMMAND [ARGUMENT...]"""
import re
import subprocess
import sys

SKIP_CODE = 77  # the test's SKIP_RETURN_CODE


def main():
    case, command = sys.argv[1], sys.argv[2:]
    done = subprocess.run(command + ["--gtest_filter=" + case], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace")
    output = done.stdout.replace("\r", "")
    sys.stdout.write(output)
    lines = output.splitlines()
    skipped = "[  SKIPPED ] %s (" % case
    reported = any(line.startswith(skipped) for line in lines)
    failed = any(line.startswith("[  FAILED  ]") for line in lines)
    if done.returncode != 0 or failed or not reported:
        print("expected %s to report its skip and the program to end with 0; it ended with %d%s"
              % (case, done.returncode, "" if reported else ", and the case reported no skip"))
        return 1
    # GoogleTest puts the reason on the line after "...: Skipped".
    why = next((lines[i + 1].strip() for i, line in enumerate(lines[:-1])
                if line.endswith(": Skipped") and lines[i + 1].strip()), "no reason given")
    print("skipped: " + why)
    return SKIP_CODE


if __name__ == "__main__":
    sys.exit(main())
