#!/usr/bin/env python3
"""The release package: the zip holds exactly the plug-in, its installer, the manual, the
picture, the licence and the checksums; its plug-in is the very library the tests ran; and two
runs give the same bytes, with every zip entry dated at the commit, in sorted order, with fixed
modes. argv[1] is the build folder."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

BUILD = None
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "QV_Printer7-2.3"
SHIPPED = {"QV_Printer7.fmx", NAME + ".msi", "MANUAL.md", "about-dialog.png", "LICENSE.txt",
           "SHA256SUMS"}


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def checksums(text):
    return dict(reversed(line.split("  ", 1)) for line in text.decode().splitlines())


def release(dist, build, env=None, umask=0o022):
    old = os.umask(umask)
    try:
        subprocess.run(["bash", os.path.join(SOURCE, "scripts/package.sh"), build, dist],
                       check=True, stdout=subprocess.DEVNULL, env=env)
    finally:
        os.umask(old)
    found = {}
    for root, _, names in os.walk(dist):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, dist)] = f.read()
    return found


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("QV_SIGN_") and k != "SOURCE_DATE_EPOCH"}
        cls.epoch = int(subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"],
                                       check=True, stdout=subprocess.PIPE).stdout)
        cls.first = release(os.path.join(cls.scratch.name, "first"), BUILD, env)

        # Again, later, from a copy of the library with another date, under another umask, time
        # zone and locale, with the time given rather than read from the commit: the same bytes
        # must come out.
        other_build = os.path.join(cls.scratch.name, "other-build")
        os.makedirs(other_build)
        shutil.copyfile(os.path.join(BUILD, "QV_Printer7.fmx"),
                        os.path.join(other_build, "QV_Printer7.fmx"))
        os.utime(os.path.join(other_build, "QV_Printer7.fmx"), (86400, 86400))
        time.sleep(2)  # a zip's times go in two-second steps
        cls.second = release(os.path.join(cls.scratch.name, "second"), other_build,
                             dict(env, SOURCE_DATE_EPOCH=str(cls.epoch), TZ="Pacific/Kiritimati",
                                  LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8"),
                             umask=0o077)
        cls.archive = zipfile.ZipFile(os.path.join(cls.scratch.name, "first", NAME + ".zip"))

    @classmethod
    def tearDownClass(cls):
        cls.archive.close()
        cls.scratch.cleanup()

    def test_zip_holds_exactly_the_release_files(self):
        files = {info.filename: self.archive.read(info) for info in self.archive.infolist()
                 if not info.is_dir()}
        self.assertEqual(set(files), {NAME + "/" + name for name in SHIPPED})
        with open(os.path.join(BUILD, "QV_Printer7.fmx"), "rb") as tested:
            self.assertEqual(files[NAME + "/QV_Printer7.fmx"], tested.read(),
                             "the packaged library is not the one the tests ran")
        sums = checksums(files[NAME + "/SHA256SUMS"])
        self.assertEqual(set(sums), SHIPPED - {"SHA256SUMS"})
        for name, digest in sums.items():
            self.assertEqual(digest, sha256(files[NAME + "/" + name]), name)

    def test_dist_holds_the_folder_the_zip_and_the_installer(self):
        self.assertEqual(set(self.first), {NAME + "/" + name for name in SHIPPED} |
                         {NAME + ".zip", NAME + ".msi", "SHA256SUMS"})
        self.assertEqual(self.first[NAME + ".msi"], self.first[NAME + "/" + NAME + ".msi"])
        sums = checksums(self.first["SHA256SUMS"])
        self.assertEqual(sums, {name: sha256(self.first[name])
                                for name in (NAME + ".zip", NAME + ".msi")})

    def test_two_runs_give_the_same_bytes(self):
        self.assertEqual(set(self.first), set(self.second))
        for name in sorted(self.first):
            self.assertEqual(sha256(self.first[name]), sha256(self.second[name]), name)

    def test_zip_entries_are_sorted_dated_at_the_commit_with_fixed_modes(self):
        stamp = time.gmtime(self.epoch)
        date = stamp[:5] + (stamp[5] // 2 * 2,)
        infos = self.archive.infolist()
        names = [info.filename for info in infos]
        self.assertEqual(names, sorted(names))
        self.assertEqual(names[0], NAME + "/")
        for info in infos:
            self.assertEqual(info.date_time, date, info.filename)
            self.assertEqual(info.create_system, 3, info.filename)
            self.assertEqual(info.extra, b"", info.filename)
            mode = info.external_attr >> 16
            self.assertEqual(mode, 0o040755 if info.is_dir() else 0o100644,
                             "%s: %o" % (info.filename, mode))


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
