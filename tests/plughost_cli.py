#!/usr/bin/env python3
"""The bundled host as a person uses it: its usage, its output and its exit codes. Runs
plughost.exe under Wine in the run's prefix; argv[1] is the build folder."""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = None
# The Wine loader of the build's architecture (64-bit Wine's own for the x86_64 build).
WINE = os.environ.get("QV_WINE", "wine")


def plughost(*args, locale="C.UTF-8"):
    """Runs the bundled host and answers (exit status, output with stderr, no CRs). The output
    must be UTF-8, as a terminal of that locale reads it; the locale also sets Wine's ANSI code
    page (1252 for C.UTF-8)."""
    env = dict(os.environ, LC_ALL=locale, LANG=locale)
    # A file, not a pipe: the Wine services that the first run starts inherit its output and
    # keep a pipe open for seconds after the host has exited.
    with tempfile.TemporaryFile() as output:
        done = subprocess.run([WINE, os.path.join(BUILD, "plughost.exe"), *args], env=env,
                              stdout=output, stderr=subprocess.STDOUT, timeout=120)
        output.seek(0)
        return done.returncode, output.read().decode("utf-8").replace("\r", "")


def problem(output):
    """The message of a usage error, without the usage text that follows it."""
    return output.split("\n\nusage:")[0]


def plugin():
    return os.path.join(BUILD, "QV_Printer7.fmx")


def have_locale(name):
    listed = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, text=True).stdout
    return name.lower().replace("-", "") in listed.lower().replace("-", "").split()


def check_runs(test, cases):
    """Runs the bundled host once a case of (arguments, exit status, a text that its output
    holds), each a subtest."""
    for args, status, message in cases:
        with test.subTest(args=args):
            code, output = plughost(*args)
            test.assertEqual(code, status, output)
            test.assertIn(message, output)


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
            ([plugin(), "list", "all"], 2, '"list" takes nothing after it'),
            (["--bogus", plugin(), "list"], 2, "unknown option"),
            (["--choose", "NoSuchPrinter", plugin(), "call", "2", "none"], 7,
             'print-setup dialog has no printer "NoSuchPrinter"; cancelling'),
        ]
        check_runs(self, cases)

    def test_answers_to_the_dialog_that_conflict_or_name_no_printer_are_usage_errors(self):
        # Each would otherwise answer other than asked: "--choose ''" as --ok does, and of two
        # answers one silently wins.
        cases = [
            (["--choose", ""], "--choose takes a printer's name, not an empty text"),
            (["--cancel", "--choose", "QVTest2"],
             '--cancel and --choose "QVTest2" are two answers to the print-setup dialog; give '
             'one of --ok, --choose PRINTER and --cancel'),
            (["--choose", "QVTest2", "--ok"], '--choose "QVTest2" and --ok are two answers'),
            (["--ok", "--cancel"], "--ok and --cancel are two answers"),
            (["--choose", "PDF", "--choose", "QVTest2"],
             '--choose "PDF" and --choose "QVTest2" are two answers'),
            # A no-break space is no blank, and shows as its byte.
            (["--choose", "PDF\u00a0X", "--choose", "PDF X"],
             '--choose "PDF\\xA0X" and --choose "PDF X" are two answers'),
            # A backslash and the byte it would stand for are two names, shown apart.
            (["--choose", "a\\x01", "--choose", "a\x01"],
             '--choose "a\\\\x01" and --choose "a\\x01" are two answers'),
        ]
        for options, message in cases:
            with self.subTest(options=options):
                code, output = plughost(*options, plugin(), "call", "2", "none")
                self.assertEqual(code, 2, output)
                self.assertIn(message, problem(output))
                self.assertNotIn("start-up:", output, "nothing is called")
        # The same answer twice is one answer.
        code, output = plughost("--cancel", "--cancel", plugin(), "call", "2", "none")
        self.assertEqual(code, 0, output)
        self.assertIn("result (4 bytes): none\n", output)

    def test_arguments_given_as_separate_words_get_both_joined_texts_as_pastable_hints(self):
        # Each hint line must give back, through a shell, exactly the words it suggests.
        cases = [
            (["5", "PDF", "2"], "PDF 2", "PDF|2"),
            (["VEZederar-SetPrinter", "My Printer", "7.0"], "My Printer 7.0", "My Printer|7.0"),
            (["VEZederar-SelectPrinter", "no", "printer", "chosen"], "no printer chosen",
             "no|printer|chosen"),
            (["2", "it's", "x"], "it's x", "it's|x"),
            (["2", "back\\slash", "x"], "back\\slash x", "back\\slash|x"),
            (["2", "Drücker", "x"], "Drücker x", "Drücker|x"),
            (["2", "tab\there", "it's"], "tab\there it's", "tab\there|it's"),
            (["2", "a\x011", "b\x7f"], "a\x011 b\x7f", "a\x011|b\x7f"),  # a digit after
            (["2", "line\nbreak", "x"], "line\nbreak x", "line\nbreak|x"),
        ]
        cases = [(case, "C.UTF-8") for case in cases] + [
            # Code page 932, where 表 and ソ end in the byte of a backslash: inside $'...' that
            # byte alone would escape what follows it.
            ((["2", "表\tソ", "x"], "表\tソ x", "表\tソ|x"), "ja_JP.UTF-8"),
            ((["2", "a\x01", "ソ"], "a\x01 ソ", "a\x01|ソ"), "ja_JP.UTF-8"),
            ((["2", "it's", "表"], "it's 表", "it's|表"), "ja_JP.UTF-8"),
        ]
        for (words, kept, joined), locale in cases:
            with self.subTest(words=words, locale=locale):
                if not have_locale(locale):
                    self.skipTest("the locale %s is not installed" % locale)
                code, output = plughost("--wait", "1", plugin(), "call", *words, locale=locale)
                self.assertEqual(code, 2, output)
                self.assertNotIn("start-up:", output, "nothing is called")
                hints = re.findall(r"^  (call .*)$", problem(output), re.MULTILINE)
                self.assertEqual(len(hints), 2, output)
                for hint, text in zip(hints, (kept, joined)):
                    read = subprocess.run(["bash", "-c", "printf '%s\\0' " + hint],
                                          stdout=subprocess.PIPE, check=True).stdout
                    self.assertEqual(read.decode("utf-8").split("\0")[:-1],
                                     ["call", words[0], text], hint)

    def test_words_a_shell_line_cannot_hold_get_no_hint(self):
        code, output = plughost(plugin(), "call", "2", "a\u0081b", "x")  # a C1 control
        self.assertEqual(code, 2, output)
        self.assertIn("no example: a word holds a character that cannot be shown", output)
        self.assertNotIn("\n  call ", problem(output))

    def test_an_option_after_the_plug_in_is_refused_before_anything_starts(self):
        # "--wait 1" first: a run that took the word as a command or text would not hang.
        code, help_text = plughost("--help")
        names = re.findall(r"^  (?:(-\w), )?(--[\w-]+)", help_text, re.MULTILINE)
        names = [name for pair in names for name in pair if name]
        self.assertIn("--window-title", names)
        cases = [(["call", "2", name], name) for name in names] + [
            (["call", "5", "PDF", "2", "--ok"], "--ok"),
            (["prefs", "--ok"], "--ok"),
            (["--cancel", "call", "2"], "--cancel"),
        ]
        for words, name in cases:
            with self.subTest(words=words):
                code, output = plughost("--wait", "1", plugin(), *words)
                self.assertEqual(code, 2, output)
                self.assertIn("the option %s comes after PLUGIN; options go before PLUGIN" % name,
                              output)
                self.assertNotIn("start-up:", output)
                self.assertNotIn("|" + name, output, "no hint takes it as an argument")
                if words[:2] == ["call", "2"]:
                    self.assertIn("put \"--\" before it: call 2 -- %s)" % name, output)

    def test_a_text_after_the_separator_may_be_an_option_name(self):
        for text in ("--ok", "--", "-h"):
            with self.subTest(text=text):
                code, output = plughost("--cancel", plugin(), "call", "2", "--", text)
                self.assertEqual(code, 0, output)
                self.assertIn("result (%d bytes): %s\n" % (len(text), text), output)

    def test_numbers_outside_their_range_are_usage_errors_that_give_the_range(self):
        cases = [
            (["--host-version", "abc", plugin(), "list"], "from -32768 to 32767, not \"abc\""),
            (["--host-version", "70000", plugin(), "list"], "from -32768 to 32767, not \"70000\""),
            (["--host-version", "", plugin(), "list"], "from -32768 to 32767"),
            ([plugin(), "call", "4294967296"], "from 0 to 4294967295, not \"4294967296\""),
            ([plugin(), "call", "-1"], "from 0 to 4294967295, not \"-1\""),
            (["--wait", "0", plugin(), "prefs"], "from 1 to 86400, not \"0\""),
            (["--wait", "2.5", plugin(), "prefs"], "from 1 to 86400, not \"2.5\""),
        ]
        check_runs(self, [(args, 2, message) for args, message in cases])

    def test_numbers_at_the_ends_of_their_range_reach_the_plug_in_unchanged(self):
        cases = [
            (["--host-version", "-32768", plugin(), "startup"], 4, "host version -32768 refused"),
            (["--host-version", "255", plugin(), "startup"], 0, "host version 255 accepted"),
            ([plugin(), "call", "4294967295", "x"], 0, "(no result)"),
            ([plugin(), "call", "+0", "x"], 0, "result (21 bytes): DO-Dezevad Azuzev 2.3"),
        ]
        check_runs(self, cases)

    def test_help_lists_commands_and_exit_codes(self):
        code, output = plughost("--help")
        self.assertEqual(code, 0)
        for word in ("list", "call FUNCTION", "prefs", "--window-title", "--choose", "--cancel",
                     "--wait SECONDS", "exit status", "6 a dialog went unanswered",
                     "7 the print-setup dialog", "Options go before PLUGIN"):
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

    def test_results_are_shown_as_utf8_with_the_byte_count_of_the_result(self):
        # A cancelled print-setup dialog answers its argument as it came, in the ANSI code
        # page; the count is of those bytes, not of the UTF-8 that the terminal gets.
        cases = [
            ("C.UTF-8", "Drücker", "result (7 bytes): Drücker\n"),
            ("C.UTF-8", "tab\there\\", "result (9 bytes): tab\\x09here\\\\\n"),
            ("C.UTF-8", "a\u0081b", "result (3 bytes): a\\x81b\n"),  # a C1 control character
            ("ja_JP.UTF-8", "印刷機", "result (6 bytes): 印刷機\n"),  # code page 932
        ]
        for locale, text, shown in cases:
            with self.subTest(locale=locale, text=text):
                if not have_locale(locale):
                    self.skipTest("the locale %s is not installed" % locale)
                code, output = plughost("--cancel", plugin(), "call", "2", text, locale=locale)
                self.assertEqual(code, 0, output)
                self.assertIn(shown, output)

    def test_choosing_a_listed_printer_answers_it(self):
        code, output = plughost("--choose", "QVTest2", plugin(), "call", "2", "none")
        self.assertEqual(code, 0, output)
        self.assertIn('print-setup dialog: choosing "QVTest2"\n', output)
        self.assertRegex(output, r"result \(\d+ bytes\): QVTest2,")

    def test_an_untouched_result_is_reported_as_no_result(self):
        code, output = plughost(plugin(), "call", "99", "x")
        self.assertEqual(code, 0, output)
        self.assertIn("(no result)", output)


class Waiting(unittest.TestCase):
    def test_a_dialog_nobody_answers_is_closed_after_the_wait_and_the_run_says_so(self):
        long_title = "FileMaker Pro " + "x" * 240  # a key path too long: the error box
        cases = [
            ([plugin(), "prefs"], "the dialog with OK", "preferences: the about box was closed"),
            ([plugin(), "call", "2", "none"], 'the print-setup dialog "[^"]*" with Cancel',
             "result (4 bytes): none"),  # cancelled: the argument comes back
            (["--window-title", long_title, plugin(), "call", "1", "PDF|7.0"],
             'the box "VE Zederar Plugin Error" with OK', "(no result)"),
        ]
        # The limit is well above Wine's start-up time (about a second, more when cold), so a
        # dialog closed too early makes the run end before it.
        for args, closed, outcome in cases:
            with self.subTest(args=args[:3]):
                started = time.monotonic()
                code, output = plughost("--wait", "3", *args)
                self.assertGreaterEqual(time.monotonic() - started, 3.0, output)
                self.assertEqual(code, 6, output)
                self.assertRegex(output, "no answer within 3 s: closed " + closed + "\n")
                self.assertIn(outcome, output)
                self.assertIn("shutdown sent", output)
                self.assertIn("plughost: a dialog went unanswered", output)

    def test_a_refused_start_up_keeps_its_status_and_still_reports_the_unanswered_box(self):
        code, output = plughost("--wait", "1", os.path.join(BUILD, "refusing_startup.dll"),
                                "startup")
        self.assertEqual(code, 4, output)
        self.assertIn('error box "Refusing fixture": start-up refused\n', output)
        self.assertIn('no answer within 1 s: closed the box "Refusing fixture" with OK\n', output)
        self.assertIn("start-up: host version 4 refused (answer -1)\n", output)
        self.assertIn("plughost: a dialog went unanswered\n", output)

    def test_answered_dialogs_do_not_count_as_unanswered(self):
        code, output = plughost("--ok", "--wait", "1", plugin(), "prefs")
        self.assertEqual(code, 0, output)
        self.assertNotIn("no answer", output)


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main(verbosity=2)
