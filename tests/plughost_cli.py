#!/usr/bin/env python3
"""The bundled host as a person uses it: its usage, its output and its exit codes. Runs
plughost.exe under Wine in the run's prefix; argv[1] is the build folder."""
import os
import subprocess
import sys
import unittest

BUILD = None


def plughost(*args):
    """Runs the bundled host and answers (exit status, output with stderr, no CRs)."""
    done = subprocess.run(["wine", os.path.join(BUILD, "plughost.exe"), *args],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    return done.returncode, done.stdout.decode("latin-1").replace("\r", "")


def plugin():
    return os.path.join(BUILD, "QV_Printer7.fmx")


class Errors(unittest.TestCase):
    def test_each_failure_has_its_exit_status_and_a_clear_message(self):
        cases = [
            (["no-such-plugin.fmx", "list"], 3, "no such file"),
            ([os.path.join(BUILD, "CMakeCache.txt"), "list"], 3, "not a loadable Windows library"),
            ([os.path.join(BUILD, "no_entry.dll"), "list"], 3, "no FMExternCallProc"),
            (["--host-version", "3", plugin(), "list"], 4, "host version 3 refused (answer -1)"),
            ([plugin(), "call", "VEZederar-Nothing"], 5, 'names no function "VEZederar-Nothing"'),
            ([plugin()], 2, "no command given"),
            ([plugin(), "dance"], 2, "cannot understand the command"),
            (["--bogus", plugin(), "list"], 2, "unknown option"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                code, output = plughost(*args)
                self.assertEqual(code, status, output)
                self.assertIn(message, output)

    def test_help_lists_commands_and_exit_codes(self):
        code, output = plughost("--help")
        self.assertEqual(code, 0)
        for word in ("list", "call FUNCTION", "prefs", "--window-title", "--choose", "--cancel",
                     "exit status"):
            self.assertIn(word, output)


class Calls(unittest.TestCase):
    def test_list_shows_the_named_functions_in_order(self):
        code, output = plughost(plugin(), "list")
        self.assertEqual(code, 0, output)
        self.assertIn("start-up: host version 4 accepted", output)
        self.assertIn("plug-in name:   VE Zederar", output)
        self.assertIn("feature string: QV041YYYYnY", output)
        lines = [line.split() for line in output.splitlines() if line.startswith("   ")]
        self.assertEqual(lines, [["0", "VEZederar-Version"], ["1", "VEZederar-SetPrinter"],
                                 ["2", "VEZederar-SelectPrinter"]])
        self.assertTrue(output.rstrip().endswith("shutdown sent"))

    def test_call_by_name_or_number_prints_the_exact_result(self):
        for function in ("VEZederar-Version", "vezederar-version", "0"):
            with self.subTest(function=function):
                code, output = plughost(plugin(), "call", function, "ignored|text")
                self.assertEqual(code, 0, output)
                self.assertIn("result (21 bytes): DO-Dezevad Azuzev 2.3\n", output)

    def test_bytes_that_would_not_print_are_escaped(self):
        # A cancelled print-setup dialog answers its argument as it came.
        code, output = plughost("--cancel", plugin(), "call", "2", "tab\there\\")
        self.assertEqual(code, 0, output)
        self.assertIn("result (9 bytes): tab\\x09here\\\\\n", output)

    def test_an_untouched_result_is_reported_as_no_result(self):
        code, output = plughost(plugin(), "call", "99", "x")
        self.assertEqual(code, 0, output)
        self.assertIn("(no result)", output)


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main(verbosity=1)
