#!/usr/bin/env python3
"""The release package: the zip holds exactly the plug-in, the manual, the picture, the licence
and the checksums, and its plug-in is the very library the tests ran. argv[1] is the build
folder."""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

BUILD = None
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "QV_Printer7-2.3"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Package(unittest.TestCase):
    def test_zip_holds_exactly_the_release_files(self):
        with tempfile.TemporaryDirectory() as scratch:
            dist = os.path.join(scratch, "dist")
            subprocess.run(["bash", os.path.join(SOURCE, "scripts/package.sh"), BUILD, dist],
                           check=True, stdout=subprocess.DEVNULL)
            with zipfile.ZipFile(os.path.join(dist, NAME + ".zip")) as archive:
                files = {info.filename: archive.read(info) for info in archive.infolist()
                         if not info.is_dir()}
        expected = {"QV_Printer7.fmx", "MANUAL.md", "about-dialog.png", "LICENSE.txt",
                    "SHA256SUMS"}
        self.assertEqual(set(files), {NAME + "/" + name for name in expected})

        with open(os.path.join(BUILD, "QV_Printer7.fmx"), "rb") as tested:
            self.assertEqual(files[NAME + "/QV_Printer7.fmx"], tested.read(),
                             "the packaged library is not the one the tests ran")
        sums = dict(reversed(line.split("  ", 1))
                    for line in files[NAME + "/SHA256SUMS"].decode().splitlines())
        self.assertEqual(set(sums), expected - {"SHA256SUMS"})
        for name, digest in sums.items():
            self.assertEqual(digest, sha256(files[NAME + "/" + name]), name)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
