#!/usr/bin/env python3
"""The release package: the zip holds exactly the plug-in, its installer, the uninstall script,
the manual, the picture, the licence and the checksums; its plug-in is the very library the
tests ran; two runs give the same bytes, with every zip entry dated at the commit, in sorted
order, with fixed modes; and the output folder is the caller's, replaced only when it is empty
or an earlier release. argv[1] is the build folder."""
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
SHIPPED = {"QV_Printer7.fmx", NAME + ".msi", "uninstall.js", "MANUAL.md", "about-dialog.png",
           "LICENSE.txt", "SHA256SUMS"}
RELEASE = {NAME + "/" + name for name in SHIPPED} | {NAME + ".zip", NAME + ".msi", "SHA256SUMS"}
SCRIPT = os.path.join(SOURCE, "scripts", "package.sh")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def checksums(text):
    return dict(reversed(line.split("  ", 1)) for line in text.decode().splitlines())


def release(dist, build, env=None, umask=0o022):
    old = os.umask(umask)
    try:
        subprocess.run(["bash", SCRIPT, build, dist],
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
        self.assertEqual(set(self.first), RELEASE)
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


def contents(folder):
    """Every file and folder under `folder` (folders with a trailing "/"), with the files'
    bytes; a file that is not a folder maps "" to its bytes."""
    if not os.path.isdir(folder):
        with open(folder, "rb") as f:
            return {"": f.read()}
    found = {}
    for root, folders, names in os.walk(folder):
        for name in folders:
            found[os.path.relpath(os.path.join(root, name), folder) + "/"] = None
        for name in names:
            with open(os.path.join(root, name), "rb") as f:
                found[os.path.relpath(os.path.join(root, name), folder)] = f.read()
    return found


class OutputFolder(unittest.TestCase):
    """package.sh run from a folder of the caller's, with relative paths."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.caller = os.path.join(cls.scratch.name, "caller")
        os.makedirs(os.path.join(cls.caller, "lib"))
        shutil.copyfile(os.path.join(BUILD, "QV_Printer7.fmx"),
                        os.path.join(cls.caller, "lib", "QV_Printer7.fmx"))
        cls.env = {k: v for k, v in os.environ.items() if not k.startswith("QV_SIGN_")}
        cls.env["SOURCE_DATE_EPOCH"] = "1700000000"
        cls.earlier = os.path.join(cls.scratch.name, "earlier")
        done = cls.package(cls.earlier)
        if done.returncode != 0:
            raise RuntimeError(done.stdout)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    @classmethod
    def package(cls, dist, env=None):
        return subprocess.run(["bash", SCRIPT, "lib", dist], cwd=cls.caller, env=env or cls.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def folder(self, name):
        """A fresh folder beside the caller's, to hold one case's output folder."""
        path = os.path.join(self.scratch.name, name)
        os.makedirs(path)
        return path

    def test_relative_paths_are_taken_from_the_callers_folder(self):
        # A trailing slash names the folder itself, not a place inside it to build in and move
        # from, and relative paths are the caller's, not the project's.
        for dist in ("out/", "./other/../out2//", "../caller/out3/."):
            with self.subTest(dist=dist):
                done = self.package(dist)
                self.assertEqual(done.returncode, 0, done.stdout)
                made = os.path.normpath(os.path.join(self.caller, dist))
                self.assertEqual(set(contents(made)) - {NAME + "/"}, RELEASE)
        self.assertEqual(sorted(os.listdir(self.caller)), ["lib", "out", "out2", "out3"])

    def test_only_an_empty_folder_or_an_earlier_release_is_replaced(self):
        def someones(path, name="notes.txt"):
            with open(os.path.join(path, name), "w") as f:
                f.write("not the release's\n")

        def earlier(path):
            shutil.copytree(self.earlier, path)

        def edited(path):
            with open(os.path.join(path, NAME, "MANUAL.md"), "a") as f:
                f.write("my own notes\n")

        def listed_stranger(path):
            someones(os.path.join(path, NAME))
            with open(os.path.join(path, NAME, "notes.txt"), "rb") as f:
                line = "%s  notes.txt\n" % sha256(f.read())
            with open(os.path.join(path, NAME, "SHA256SUMS"), "a") as f:
                f.write(line)

        cases = [
            ("empty", os.makedirs, True),
            ("earlier-release", earlier, True),
            ("someones-files", lambda path: (os.makedirs(path), someones(path)), False),
            ("earlier-release-and-more", lambda path: (earlier(path), someones(path)), False),
            ("more-in-its-folder",
             lambda path: (earlier(path), someones(os.path.join(path, NAME))), False),
            ("checksums-of-another-release",
             lambda path: (os.makedirs(path), someones(path, "SHA256SUMS")), False),
            ("a-file", lambda path: someones(os.path.dirname(path), "a-file"), False),
            # A release's file that was changed since is someone's work now.
            ("edited-release-file", lambda path: (earlier(path), edited(path)), False),
            # A file that its folder's SHA256SUMS lists is still no file of a release.
            ("listed-stranger", lambda path: (earlier(path), listed_stranger(path)), False),
        ]
        for index, (name, make, replaced) in enumerate(cases):
            with self.subTest(name):
                parent = self.folder("case-" + name)
                dist = os.path.join(parent, name)
                make(dist)
                before = contents(dist)
                # Every other case names the folder with a trailing slash.
                done = self.package(dist + "/" * (index % 2))
                if replaced:
                    self.assertEqual(done.returncode, 0, done.stdout)
                    self.assertEqual(contents(dist), contents(self.earlier))
                else:
                    self.assertNotEqual(done.returncode, 0, done.stdout)
                    self.assertIn("neither empty nor an earlier release", done.stdout)
                    self.assertEqual(contents(dist), before, "it changed what was there")
                self.assertEqual(os.listdir(parent), [name], "something was left beside it")

    def test_a_failed_run_leaves_the_folder_and_its_parents_as_they_were(self):
        # wixl fails, after the work folder is made and the plug-in copied in.
        tools = self.folder("failing-tools")
        with open(os.path.join(tools, "wixl"), "w") as f:
            f.write("#!/bin/sh\nexit 1\n")
        os.chmod(os.path.join(tools, "wixl"), 0o755)
        env = dict(self.env, PATH=tools + os.pathsep + self.env["PATH"])
        parent = self.folder("failed")
        shutil.copytree(self.earlier, os.path.join(parent, "release"))
        for dist in ("release", os.path.join("new", "nested", "out")):
            with self.subTest(dist=dist):
                before = contents(parent)
                done = self.package(os.path.join(parent, dist), env)
                self.assertNotEqual(done.returncode, 0, done.stdout)
                self.assertEqual(contents(parent), before)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
