#!/usr/bin/env python3
"""The library is reproducible: building it again, later, from a copy of the sources in another
folder and in another build folder, gives the same bytes, and its time stamps are the
build's source date. argv[1] is the cross build folder, argv[2] and argv[3] the toolchain
file and the build type that the library is built with."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pefile

BUILD = TOOLCHAIN = BUILD_TYPE = None
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def epoch_of(build):
    """The source date the build linked with (library/ when the library is built apart)."""
    for folder in (os.path.join(build, "library"), build):
        path = os.path.join(folder, "source_date_epoch")
        if os.path.exists(path):
            with open(path) as f:
                return f.read().strip()
    raise FileNotFoundError("no source_date_epoch in " + build)


class Reproducible(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(BUILD, "QV_Printer7.fmx"), "rb") as f:
            cls.library = f.read()
        cls.epoch = epoch_of(BUILD)

    def test_time_stamps_are_the_source_date(self):
        self.assertTrue(self.epoch, "the build had no source date")
        pe = pefile.PE(data=self.library)
        epoch = int(self.epoch)
        self.assertEqual(pe.FILE_HEADER.TimeDateStamp, epoch)
        self.assertEqual(pe.DIRECTORY_ENTRY_EXPORT.struct.TimeDateStamp, epoch)
        self.assertEqual(pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp, 0)
        self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_DEBUG"), "a debug directory has a stamp")

    def test_another_folder_at_another_time_builds_the_same_bytes(self):
        with tempfile.TemporaryDirectory(prefix="qv-elsewhere.") as elsewhere:
            # Another source folder without its history, so the date can only come from
            # SOURCE_DATE_EPOCH, and a build folder of a different depth.
            source = os.path.join(elsewhere, "sources")
            shutil.copytree(SOURCE, source, ignore=shutil.ignore_patterns(
                ".git", "build", "build-*", "dist", "__pycache__"))
            build = os.path.join(elsewhere, "a", "deeper", "build")
            env = dict(os.environ, SOURCE_DATE_EPOCH=self.epoch)
            for command in (["cmake", "-S", source, "-B", build,
                             "-DCMAKE_TOOLCHAIN_FILE=" + TOOLCHAIN, "-DQV_LIBRARY_ONLY=ON",
                             "-DCMAKE_BUILD_TYPE=" + BUILD_TYPE],
                            ["cmake", "--build", build, "-j", "2"]):
                done = subprocess.run(command, env=env, stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, text=True)
                self.assertEqual(done.returncode, 0, done.stdout[-3000:])
            with open(os.path.join(build, "QV_Printer7.fmx"), "rb") as f:
                again = f.read()
        self.assertEqual(len(again), len(self.library))
        differ = [i for i in range(len(again)) if again[i] != self.library[i]]
        self.assertEqual(differ[:16], [], "%d bytes differ (or the sources changed since the "
                                          "build)" % len(differ))


if __name__ == "__main__":
    BUILD_TYPE = sys.argv.pop(3)
    TOOLCHAIN = sys.argv.pop(2)
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
