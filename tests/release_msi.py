#!/usr/bin/env python3
"""The installer under Wine's msiexec, in a prefix of its own: a silent install into a given
folder, a major upgrade from an older version that finds that folder by itself, another build
of the same version replacing it, a refused downgrade, an uninstall that is not told the
folder, and the default folder. argv[1] is the build folder; the older package and the other
build are made here from the same descriptor."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pefile

BUILD = None
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD_MSI = os.path.join(SOURCE, "packaging", "build_msi.py")
KEY = r"HKLM\Software\QV_Printer7"
GIVEN = r"C:\Plug-ins\Extensions"
DEFAULT = r"C:\Program Files\FileMaker\FileMaker Pro 7\Extensions"
REFUSAL = "A newer version of the VE Zederar plug-in (QV_Printer7.fmx) is already installed."
EPOCH = 1700000000


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


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="qvprinter-msi.")
        cls.addClassCleanup(shutil.rmtree, cls.scratch, ignore_errors=True)
        library = os.path.join(BUILD, "QV_Printer7.fmx")
        with open(library, "rb") as f:
            data = f.read()
        # The older release: another file (the same one with bytes after its end, which the
        # loader ignores) of the same file version, so only removing the old product first
        # can make the upgrade replace it.
        old_library = os.path.join(cls.scratch, "old", "QV_Printer7.fmx")
        os.makedirs(os.path.dirname(old_library))
        with open(old_library, "wb") as f:
            f.write(data + b"older release\0\0\0")
        # Another build of the same version, as a signed build is of the unsigned one.
        rebuilt_library = os.path.join(cls.scratch, "rebuilt", "QV_Printer7.fmx")
        os.makedirs(os.path.dirname(rebuilt_library))
        with open(rebuilt_library, "wb") as f:
            f.write(data + b"rebuilt\0")
        cls.new_library = hashlib.sha256(data).hexdigest()
        cls.old_library = hashlib.sha256(data + b"older release\0\0\0").hexdigest()
        cls.rebuilt_library = hashlib.sha256(data + b"rebuilt\0").hexdigest()
        cls.new = os.path.join(cls.scratch, "new.msi")
        cls.old = os.path.join(cls.scratch, "old.msi")
        cls.rebuilt = os.path.join(cls.scratch, "rebuilt.msi")
        for source, package, version in ((library, cls.new, []),
                                         (old_library, cls.old, ["--version", "2.2.0"]),
                                         (rebuilt_library, cls.rebuilt, [])):
            subprocess.run([sys.executable, BUILD_MSI, source, package, "--epoch", str(EPOCH)]
                           + version, check=True)

        prefix = os.path.join(cls.scratch, "prefix")
        cls.drive_c = os.path.join(prefix, "drive_c")
        cls.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
        cls.addClassCleanup(cls.end_wineserver)
        subprocess.run(["wineboot", "--init"], env=cls.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.logs = 0

    @classmethod
    def end_wineserver(cls):
        if not os.path.isdir(cls.env["WINEPREFIX"]):
            return
        subprocess.run(["wineserver", "-k"], env=cls.env, stderr=subprocess.DEVNULL)
        # The wineserver's socket folder is named after the prefix's device and inode.
        prefix = os.stat(cls.env["WINEPREFIX"])
        server = "server-%x-%x" % (prefix.st_dev, prefix.st_ino)
        shutil.rmtree(os.path.join("/tmp/.wine-%d" % os.getuid(), server), ignore_errors=True)

    def msiexec(self, *arguments):
        """Runs msiexec silently with a verbose log; answers (exit status, log text)."""
        Installer.logs += 1
        log = os.path.join(self.scratch, "msiexec%d.log" % self.logs)
        done = subprocess.run(["wine", "msiexec"] + list(arguments) + ["/qn", "/l*v", log],
                              env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env)
        with open(log, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        return done.returncode, text

    def installed(self, folder):
        """The SHA-256 of the plug-in in a Windows folder, or None."""
        path = os.path.join(self.drive_c, *folder[3:].split("\\"), "QV_Printer7.fmx")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()

    def remembered(self):
        done = subprocess.run(["wine", "reg", "query", KEY, "/v", "ExtensionsDir"], env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if done.returncode != 0:
            return None
        return done.stdout.split("REG_SZ", 1)[1].strip()

    def registered(self, package):
        code = property_of(package, "ProductCode")
        return subprocess.run(
            ["wine", "reg", "query",
             r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + code],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0

    def test_tables_carry_what_wine_does_not_check(self):
        # Windows passes a command-line EXTENSIONSDIR to an elevated per-machine installation
        # only if it is secure; Wine does not check, so the table must say it.
        self.assertIn("EXTENSIONSDIR", property_of(self.new, "SecureCustomProperties").split(";"))
        fixed = pefile.PE(os.path.join(BUILD, "QV_Printer7.fmx")).VS_FIXEDFILEINFO[0]
        version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
        self.assertEqual(property_of(self.new, "ProductVersion"), "%d.%d.%d" % version[:3])
        files = table(self.new, "File")
        self.assertEqual([(row[2], row[4], row[5]) for row in files],
                         [("QV_Printer7.fmx", "%d.%d.%d.%d" % version, "1033")])
        self.assertEqual(table(self.new, "MsiFileHash"), [], "a versioned file has no hash")
        codes = {property_of(package, "ProductCode")
                 for package in (self.new, self.old, self.rebuilt)}
        self.assertEqual(len(codes), 3, "each build must be a product of its own")
        self.assertEqual(property_of(self.new, "UpgradeCode"),
                         property_of(self.old, "UpgradeCode"))

    def test_install_upgrade_downgrade_uninstall(self):
        status, log = self.msiexec("/i", self.old, "EXTENSIONSDIR=" + GIVEN)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.installed(GIVEN), self.old_library)
        self.assertEqual(self.remembered(), GIVEN + "\\")

        # The upgrade is not told the folder: it must find the old one there and replace it.
        status, log = self.msiexec("/i", self.new)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.installed(GIVEN), self.new_library, "upgrade did not replace it")
        self.assertIsNone(self.installed(DEFAULT), "upgrade went to the default folder")
        self.assertFalse(self.registered(self.old), "the older product is still registered")
        self.assertTrue(self.registered(self.new))

        # Another build of the same version replaces it, and the first build that one in turn.
        for package, library, replaced in ((self.rebuilt, self.rebuilt_library, self.new),
                                           (self.new, self.new_library, self.rebuilt)):
            status, log = self.msiexec("/i", package)
            self.assertEqual(status, 0, log)
            self.assertEqual(self.installed(GIVEN), library, "same version did not replace it")
            self.assertFalse(self.registered(replaced), "the replaced build is still registered")

        status, log = self.msiexec("/i", self.old, "EXTENSIONSDIR=" + GIVEN)
        self.assertNotEqual(status, 0, "downgrade was not refused")
        # Wine's log leaves out a launch condition's text; it is in the package, with the
        # condition that fails for an older version.
        self.assertIn("WIX_DOWNGRADE_DETECTED = " + property_of(self.new, "ProductCode"), log)
        refusals = [row for row in table(self.old, "LaunchCondition")
                    if row[0] == "NOT WIX_DOWNGRADE_DETECTED" and row[1].startswith(REFUSAL)]
        self.assertEqual(len(refusals), 1, table(self.old, "LaunchCondition"))
        self.assertEqual(self.installed(GIVEN), self.new_library)
        self.assertFalse(self.registered(self.old))

        status, log = self.msiexec("/x", self.new)
        self.assertEqual(status, 0, log)
        self.assertIsNone(self.installed(GIVEN), "uninstall left the file")
        self.assertFalse(os.path.exists(os.path.join(self.drive_c, "Plug-ins", "Extensions")))
        self.assertIsNone(self.remembered(), "uninstall left the remembered folder")
        self.assertFalse(self.registered(self.new))

        # Nothing remembered and nothing given: the host's folder under Program Files. Wine
        # tries the package's empty-folder removals before it removes the file, so of the
        # folders made for it only the Extensions folder goes here.
        status, log = self.msiexec("/i", self.new)
        self.assertEqual(status, 0, log)
        self.assertEqual(self.installed(DEFAULT), self.new_library)
        status, log = self.msiexec("/x", self.new)
        self.assertEqual(status, 0, log)
        self.assertFalse(os.path.exists(os.path.join(self.drive_c, *DEFAULT[3:].split("\\"))))
        self.assertIsNone(self.remembered())


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
