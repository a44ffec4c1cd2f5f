#!/usr/bin/env python3
"""The installer under Wine's msiexec, in prefixes of their own: a silent install into a given
folder, a major upgrade from an older release that finds that folder by itself, another build
of the same commit replacing it, a refused downgrade, an uninstall that is not told the
folder, the default folder, and the administrators' uninstall script, which removes whichever
build is installed. argv[1] is the build folder; the older release and the other build are
made here from the same descriptor.

The scenarios run in a 64-bit prefix, where the 32-bit package must install as on 64-bit
Windows (the 32-bit Program Files folder, the 32-bit registry view), and, when
QV_EXECUTES_I686=yes says this machine can execute 32-bit x86 code, in a 32-bit prefix too."""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import types
import unittest

import pefile

BUILD = None
SCRATCH = None  # setUpModule's folder
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGING = os.path.join(SOURCE, "packaging")
BUILD_MSI = os.path.join(PACKAGING, "build_msi.py")
UNINSTALL_SCRIPT = os.path.join(PACKAGING, "uninstall.js")
REMEMBERED_KEY = "QV_Printer7"
UNINSTALL_KEY = r"Microsoft\Windows\CurrentVersion\Uninstall"
GIVEN = r"C:\Plug-ins\Extensions"
HOST_EXTENSIONS = r"FileMaker\FileMaker Pro 7\Extensions"
# Where the plug-in may end up: the given folder and the host's folder under either Program
# Files, so that a wrong default shows where the file went.
FOLDERS = (GIVEN, "C:\\Program Files (x86)\\" + HOST_EXTENSIONS,
           "C:\\Program Files\\" + HOST_EXTENSIONS)
REFUSAL = "A newer version of the VE Zederar plug-in (QV_Printer7.fmx) is already installed."
# 2023-11-14 22:13:20 UTC: day 8718 since 2000-01-01, the product version's third field.
EPOCH = 1700000000
DAY = 86400
# msiexec's "failed" as a Unix parent sees it: Wine passes on the low byte of the status only.
FAILED = 1603 & 0xFF
EXECUTES_I686 = os.environ.get("QV_EXECUTES_I686", "no") == "yes"
# Long enough for a cold wineboot on a slow machine; a hung Wine command fails the test instead
# of holding it until ctest kills it and the prefix's wineserver is left running.
WINE_TIMEOUT = 300

# The three packages, made once by setUpModule.
PACKAGES = types.SimpleNamespace()

# build_msi.py with one of the RemoveFile rows that it writes left out: the same library,
# version and descriptor, one table row less.
WITHOUT_ONE_ROW = """
import sys
sys.path.insert(0, sys.argv.pop(1))
import build_msi
run = build_msi.run
def run_without_one_row(command, cwd=None):
    queries = [n for n, arg in enumerate(command) if arg.startswith("INSERT INTO `RemoveFile`")]
    if command[0] == "msibuild" and queries:
        del command[queries[-1] - 1:queries[-1] + 1]
    run(command, cwd)
build_msi.run = run_without_one_row
build_msi.main()
"""


def build_package(library, package, epoch, script=None):
    """Runs build_msi.py (or `script`, which stands in for it); answers its exit status and
    output."""
    command = ["-c", script, PACKAGING] if script else [BUILD_MSI]
    return subprocess.run([sys.executable] + command + [library, package, "--epoch", str(epoch)],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def package_code(package):
    text = subprocess.run(["msiinfo", "suminfo", package], check=True, stdout=subprocess.PIPE,
                          text=True).stdout
    return text.split("Revision number (UUID): ", 1)[1].split("\n", 1)[0]


def table(package, name):
    """A table's rows as lists of fields, without msiinfo's three header lines."""
    text = subprocess.run(["msiinfo", "export", package, name], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]


def property_of(package, name):
    for row in table(package, "Property"):
        if row[0] == name:
            return row[1]
    raise KeyError(name)


def setUpModule():
    global SCRATCH
    scratch = SCRATCH = tempfile.mkdtemp(prefix="qvprinter-msi.")
    unittest.addModuleCleanup(shutil.rmtree, scratch, ignore_errors=True)
    library = os.path.join(BUILD, "QV_Printer7.fmx")
    with open(library, "rb") as f:
        data = f.read()
    # The older release: another file (the same one with bytes after its end, which the loader
    # ignores) of the same file version, from a commit a week earlier, so only removing the old
    # product first can make the upgrade replace it. The other build is of the same commit, as
    # the signed build is of the unsigned one.
    for name, content, epoch in (("new", data, EPOCH),
                                 ("old", data + b"older release\0\0\0", EPOCH - 7 * DAY),
                                 ("rebuilt", data + b"rebuilt\0", EPOCH)):
        source = library
        if content is not data:
            source = os.path.join(scratch, name, "QV_Printer7.fmx")
            os.makedirs(os.path.dirname(source))
            with open(source, "wb") as f:
                f.write(content)
        package = os.path.join(scratch, name + ".msi")
        done = build_package(source, package, epoch)
        if done.returncode != 0:
            raise RuntimeError("build_msi.py failed:\n" + done.stdout)
        setattr(PACKAGES, name, package)
        setattr(PACKAGES, name + "_library", hashlib.sha256(content).hexdigest())


class Tables(unittest.TestCase):
    def test_tables_carry_what_wine_does_not_check(self):
        # Windows passes a command-line EXTENSIONSDIR to an elevated per-machine installation
        # only if it is secure; Wine does not check, so the table must say it.
        self.assertIn("EXTENSIONSDIR",
                      property_of(PACKAGES.new, "SecureCustomProperties").split(";"))
        fixed = pefile.PE(os.path.join(BUILD, "QV_Printer7.fmx")).VS_FIXEDFILEINFO[0]
        version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
        # The library's own record stays as it is; the product's third field is the day.
        self.assertEqual(version, (2, 3, 0, 0))
        for package, product_version in ((PACKAGES.new, "2.3.8718"), (PACKAGES.old, "2.3.8711"),
                                         (PACKAGES.rebuilt, "2.3.8718")):
            self.assertEqual(property_of(package, "ProductVersion"), product_version, package)
        files = table(PACKAGES.new, "File")
        self.assertEqual([(row[2], row[4], row[5]) for row in files],
                         [("QV_Printer7.fmx", "%d.%d.%d.%d" % version, "1033")])
        self.assertEqual(table(PACKAGES.new, "MsiFileHash"), [], "a versioned file has no hash")
        codes = {property_of(package, "ProductCode")
                 for package in (PACKAGES.new, PACKAGES.old, PACKAGES.rebuilt)}
        self.assertEqual(len(codes), 3, "each build must be a product of its own")
        self.assertEqual(property_of(PACKAGES.new, "UpgradeCode"),
                         property_of(PACKAGES.old, "UpgradeCode"))

    def test_package_and_product_codes_follow_what_the_package_holds(self):
        # Windows Installer takes a package whose code it knows for the one it has cached, so
        # packages that differ in anything need codes of their own, and one commit built twice
        # must give the same bytes.
        library = os.path.join(BUILD, "QV_Printer7.fmx")
        again = os.path.join(SCRATCH, "again.msi")
        done = build_package(library, again, EPOCH)
        self.assertEqual(done.returncode, 0, done.stdout)
        with open(again, "rb") as first, open(PACKAGES.new, "rb") as second:
            self.assertEqual(first.read(), second.read(), "a rebuild gave other bytes")
        cases = [
            ("time stamps a minute later, the same day", None, EPOCH + 60),
            ("one RemoveFile row fewer", WITHOUT_ONE_ROW, EPOCH),
        ]
        for name, script, epoch in cases:
            with self.subTest(name):
                package = os.path.join(SCRATCH, name.replace(" ", "-") + ".msi")
                done = build_package(library, package, epoch, script)
                self.assertEqual(done.returncode, 0, done.stdout)
                self.assertEqual(property_of(package, "ProductVersion"), "2.3.8718")
                if script:
                    self.assertEqual(len(table(package, "RemoveFile")), 2,
                                     "the row was not left out")
                self.assertNotEqual(package_code(package), package_code(PACKAGES.new))
                self.assertNotEqual(property_of(package, "ProductCode"),
                                    property_of(PACKAGES.new, "ProductCode"))

    def test_the_day_fits_windows_installers_version_field(self):
        library = os.path.join(BUILD, "QV_Printer7.fmx")
        first_day = 946684800  # 2000-01-01 00:00 UTC
        cases = [
            (first_day, "2.3.0"),
            (first_day + 65536 * DAY - 1, "2.3.65535"),
            (first_day + 65536 * DAY, None),
            (first_day - 1, None),
        ]
        for epoch, version in cases:
            with self.subTest(epoch=epoch):
                package = os.path.join(SCRATCH, "day-%d.msi" % epoch)
                done = build_package(library, package, epoch)
                if version is None:
                    self.assertNotEqual(done.returncode, 0, "built a package out of range")
                    self.assertIn("outside 0 to 65535", done.stdout)
                else:
                    self.assertEqual(done.returncode, 0, done.stdout)
                    self.assertEqual(property_of(package, "ProductVersion"), version)

    def test_downgrade_refusal_has_its_text(self):
        # Wine's log leaves out a launch condition's text; it is in the package, with the
        # condition that fails for an older version.
        refusals = [row for row in table(PACKAGES.old, "LaunchCondition")
                    if row[0] == "NOT WIX_DOWNGRADE_DETECTED" and row[1].startswith(REFUSAL)]
        self.assertEqual(len(refusals), 1, table(PACKAGES.old, "LaunchCondition"))


class Scenarios:
    """The installer's scenarios in a prefix of the kind the subclass names: its WINEARCH, the
    loader that runs it, where the package's default folder is, and the registry's Software
    keys the package may write to, the one it must write to first."""
    ARCH = None
    LOADER = None
    DEFAULT = None
    SOFTWARE_VIEWS = ()

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="qvprinter-msi-%s." % cls.ARCH)
        cls.addClassCleanup(shutil.rmtree, cls.scratch, ignore_errors=True)
        prefix = os.path.join(cls.scratch, "prefix")
        cls.drive_c = os.path.join(prefix, "drive_c")
        cls.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH=cls.ARCH, WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
        cls.addClassCleanup(cls.end_wineserver)
        cls.logs = 0
        # Where 32-bit code cannot run, wineboot of a 64-bit prefix says it cannot start the
        # 32-bit rundll32 and still exits 0; the 64-bit msiexec installs 32-bit packages
        # without it.
        done = subprocess.run([cls.LOADER, "wineboot", "--init"], env=cls.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              errors="replace", timeout=WINE_TIMEOUT)
        if done.returncode != 0:
            raise RuntimeError("setting up the %s prefix failed: %s wineboot --init exited with "
                               "status %d:\n%s" % (cls.ARCH, cls.LOADER, done.returncode,
                                                   done.stdout))

    @classmethod
    def end_wineserver(cls):
        prefix = cls.env["WINEPREFIX"]
        if not os.path.isdir(prefix):
            return
        subprocess.run(["wineserver", "-k"], env=cls.env, stderr=subprocess.DEVNULL,
                       timeout=WINE_TIMEOUT)
        # The wineserver's socket folder is named after the prefix's device and inode; Debian's
        # Wine keeps it in a folder of its own, /tmp/wine-XXXXXX, instead of /tmp/.wine-UID.
        status = os.stat(prefix)
        server = "server-%x-%x" % (status.st_dev, status.st_ino)
        shutil.rmtree(os.path.join("/tmp/.wine-%d" % os.getuid(), server), ignore_errors=True)
        for folder in glob.glob(os.path.join("/tmp", "wine-*", server)):
            shutil.rmtree(folder, ignore_errors=True)
            try:
                os.rmdir(os.path.dirname(folder))
            except OSError:
                pass

    def wine(self, *command, output=False):
        return subprocess.run([self.LOADER] + list(command), env=self.env,
                              stdout=subprocess.PIPE if output else subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, text=True, errors="replace",
                              timeout=WINE_TIMEOUT)

    def msiexec(self, *arguments):
        """Runs msiexec silently with a verbose log; answers (exit status, log text)."""
        type(self).logs += 1
        log = os.path.join(self.scratch, "msiexec%d.log" % self.logs)
        # As the user's guide gives the commands.
        done = self.wine("msiexec", *arguments, "/qn", "/norestart", "/l*v", log)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=WINE_TIMEOUT)
        with open(log, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        return done.returncode, text

    def copies(self):
        """The plug-in's SHA-256 in each of FOLDERS that holds it."""
        found = {}
        for folder in FOLDERS:
            path = os.path.join(self.drive_c, *folder[3:].split("\\"), "QV_Printer7.fmx")
            if os.path.exists(path):
                with open(path, "rb") as f:
                    found[folder] = hashlib.sha256(f.read()).hexdigest()
        return found

    def in_registry(self, key, name=None):
        """The Software keys (one a registry view) that hold key: a dict of each to the text
        of its value name, or to None when no name is asked."""
        found = {}
        for software in self.SOFTWARE_VIEWS:
            done = self.wine("reg", "query", software + "\\" + key,
                             *(("/v", name) if name else ()), output=True)
            if done.returncode == 0:
                found[software] = done.stdout.split("REG_SZ", 1)[1].strip() if name else None
        return found

    def remembered(self):
        return self.in_registry(REMEMBERED_KEY, "ExtensionsDir")

    def registered(self, package):
        """The Software keys whose Uninstall key lists the package's product."""
        code = property_of(package, "ProductCode")
        return set(self.in_registry(UNINSTALL_KEY + "\\" + code))

    def uninstall_script(self):
        """Runs the administrators' uninstall script as the user's guide gives it, from the
        folder that holds it; answers (exit status, what it printed)."""
        done = subprocess.run([self.LOADER, "cscript", "//nologo",
                               os.path.basename(UNINSTALL_SCRIPT)],
                              cwd=os.path.dirname(UNINSTALL_SCRIPT), env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              errors="replace", timeout=WINE_TIMEOUT)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=WINE_TIMEOUT)
        return done.returncode, done.stdout.replace("\r", "")

    def test_install_upgrade_downgrade_uninstall(self):
        software = self.SOFTWARE_VIEWS[0]
        status, log = self.msiexec("/i", PACKAGES.old, "EXTENSIONSDIR=" + GIVEN)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.copies(), {GIVEN: PACKAGES.old_library})
        self.assertEqual(self.remembered(), {software: GIVEN + "\\"})
        self.assertEqual(self.registered(PACKAGES.old), {software})

        # The upgrade is not told the folder: it must find the old one there and replace it.
        status, log = self.msiexec("/i", PACKAGES.new)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.copies(), {GIVEN: PACKAGES.new_library},
                         "upgrade did not replace it where it was")
        self.assertEqual(self.registered(PACKAGES.old), set(),
                         "the older product is still registered")
        self.assertEqual(self.registered(PACKAGES.new), {software})
        self.assertEqual(self.remembered(), {software: GIVEN + "\\"})

        # Another build of the same commit (as the signed build is of the unsigned one) replaces
        # it, and the first build that one in turn.
        for package, library, replaced in (
                (PACKAGES.rebuilt, PACKAGES.rebuilt_library, PACKAGES.new),
                (PACKAGES.new, PACKAGES.new_library, PACKAGES.rebuilt)):
            status, log = self.msiexec("/i", package)
            self.assertEqual(status, 0, log)
            self.assertEqual(self.copies(), {GIVEN: library}, "same version did not replace it")
            self.assertEqual(self.registered(replaced), set(),
                             "the replaced build is still registered")
            self.assertEqual(self.registered(package), {software})

        # The older release of the same major and minor version is refused (its message is in
        # the package: Tables checks it).
        status, log = self.msiexec("/i", PACKAGES.old, "EXTENSIONSDIR=" + GIVEN)
        self.assertEqual(status, FAILED, "downgrade was not refused")
        self.assertIn("WIX_DOWNGRADE_DETECTED = " + property_of(PACKAGES.new, "ProductCode"),
                      log)
        self.assertEqual(self.copies(), {GIVEN: PACKAGES.new_library})
        self.assertEqual(self.registered(PACKAGES.old), set())
        self.assertEqual(self.registered(PACKAGES.new), {software})

        status, log = self.msiexec("/x", PACKAGES.new)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.copies(), {}, "uninstall left the file")
        self.assertFalse(os.path.exists(os.path.join(self.drive_c, "Plug-ins", "Extensions")))
        self.assertEqual(self.in_registry(REMEMBERED_KEY), {},
                         "uninstall left the remembered folder's key")
        self.assertEqual(self.registered(PACKAGES.new), set())

        # Nothing remembered and nothing given: the host's folder under the 32-bit Program
        # Files.
        status, log = self.msiexec("/i", PACKAGES.rebuilt)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.copies(), {self.DEFAULT: PACKAGES.rebuilt_library})
        self.assertEqual(self.remembered(), {software: self.DEFAULT + "\\"})
        self.assertEqual(self.registered(PACKAGES.rebuilt), {software})

        # On Windows, /x with a package removes only the very build in it (another build's
        # answers 1605; Wine does not check that), so the administrators' script finds whichever
        # build is there. Wine tries the package's empty-folder removals before it removes the
        # file, so of the folders made for it only the Extensions folder goes here.
        status, output = self.uninstall_script()
        self.assertEqual(status, 0, output)
        self.assertEqual(output, "msiexec /x %s: exit status 0\n"
                         % property_of(PACKAGES.rebuilt, "ProductCode"))
        self.assertFalse(os.path.exists(os.path.join(self.drive_c,
                                                     *self.DEFAULT[3:].split("\\"))))
        self.assertEqual(self.in_registry(REMEMBERED_KEY), {})
        self.assertEqual(self.registered(PACKAGES.rebuilt), set())
        status, output = self.uninstall_script()
        self.assertEqual((status, output), (0, "No build of QV_Printer7.fmx is installed.\n"))


class Win64Prefix(Scenarios, unittest.TestCase):
    # Debian's wine and wineboot take the 32-bit loader whenever it is installed.
    ARCH = "win64"
    LOADER = "/usr/lib/wine/wine64"
    DEFAULT = "C:\\Program Files (x86)\\" + HOST_EXTENSIONS
    # The 64-bit reg sees the 32-bit view below WOW6432Node; the package must leave the
    # 64-bit view alone.
    SOFTWARE_VIEWS = (r"HKLM\Software\WOW6432Node", r"HKLM\Software")


@unittest.skipUnless(EXECUTES_I686, "this machine cannot execute 32-bit x86 code")
class Win32Prefix(Scenarios, unittest.TestCase):
    ARCH = "win32"
    LOADER = "wine"
    DEFAULT = "C:\\Program Files\\" + HOST_EXTENSIONS
    SOFTWARE_VIEWS = (r"HKLM\Software",)


# A run of which every scenario skipped (the 32-bit prefix on a machine that cannot execute
# 32-bit code) answers ctest's skip code; a run that failed, or ran nothing, fails.
SKIP_CODE = 77


def status_of(result):
    if not result.wasSuccessful() or result.testsRun == 0:
        return 1
    if len(result.skipped) == result.testsRun:
        print("skipped: " + result.skipped[0][1])
        return SKIP_CODE
    return 0


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    sys.exit(status_of(unittest.main(verbosity=2, exit=False).result))
