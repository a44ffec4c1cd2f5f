#!/usr/bin/env python3
"""Builds the per-machine installer for QV_Printer7.fmx from packaging/QV_Printer7.wxs with
wixl, finishes the tables that wixl cannot write, and makes the package the same bytes every
time it is built from the same library at the same SOURCE_DATE_EPOCH.

usage: build_msi.py LIBRARY OUTPUT.msi [--epoch SECONDS]

The epoch defaults to SOURCE_DATE_EPOCH. The product version is the library's major and minor
version and, third, the epoch's day counted from 2000-01-01 (UTC), so that a later commit's
package is a newer version; the library's own version record is left as it is."""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

import olefile
import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
DESCRIPTOR = os.path.join(HERE, "QV_Printer7.wxs")
# Every product and package code is derived from this and from the finished package's bytes,
# so that a rebuild gives the same codes while any difference gives new ones.
UPGRADE_CODE = "{5C0D7A64-2F3B-4E8A-9B61-7D2E4F80A913}"  # as the descriptor gives it
NAMESPACE = uuid.UUID(UPGRADE_CODE)
# Windows Installer compares the first three fields of a product version, the third up to 65535.
DAY_ZERO = 946684800  # 2000-01-01 00:00 UTC
LONGEST_BUILD_FIELD = 65535
SECURE_PROPERTIES = "EXTENSIONSDIR;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED"
SUMMARY_STREAM = "\x05SummaryInformation"
PID_REVISION, PID_CREATED, PID_SAVED = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def library_version(path):
    """The library's file version from its version record, as four numbers."""
    fixed = pefile.PE(path, fast_load=False).VS_FIXEDFILEINFO[0]
    return (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
            fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)


def product_version(library, epoch):
    """MAJOR.MINOR.DAY: the library's first two fields and the epoch's day since DAY_ZERO."""
    day = (epoch - DAY_ZERO) // 86400
    if not 0 <= day <= LONGEST_BUILD_FIELD:
        sys.exit("the epoch %d gives the day %d, outside 0 to %d" % (epoch, day,
                                                                      LONGEST_BUILD_FIELD))
    major, minor = library_version(library)[:2]
    return "%d.%d.%d" % (major, minor, day)


def code(kind, *parts):
    return "{%s}" % str(uuid.uuid5(NAMESPACE, kind + ":" + ":".join(parts))).upper()


def run(command, cwd=None):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          cwd=cwd)
    if done.returncode != 0:
        sys.exit("%s failed:\n%s" % (command[0], done.stdout))


def set_summary(path, revision, epoch):
    """Sets the package code and both time stamps of the summary information in place: wixl
    writes a random package code and the current time, and msibuild the time again."""
    filetime = (epoch + 11644473600) * 10000000
    with olefile.OleFileIO(path, write_mode=True) as ole:
        data = bytearray(ole.openstream(SUMMARY_STREAM).read())
        (section,) = struct.unpack_from("<I", data, 44)
        (count,) = struct.unpack_from("<I", data, section + 4)
        seen = set()
        for i in range(count):
            pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
            at = section + offset
            (kind,) = struct.unpack_from("<I", data, at)
            if pid == PID_REVISION and kind == VT_LPSTR:
                (length,) = struct.unpack_from("<I", data, at + 4)
                text = revision.encode("ascii") + b"\0"
                if length != len(text):
                    sys.exit("unexpected package code field of %d bytes" % length)
                data[at + 8:at + 8 + length] = text
                seen.add(pid)
            elif pid in (PID_CREATED, PID_SAVED) and kind == VT_FILETIME:
                struct.pack_into("<Q", data, at + 4, filetime)
                seen.add(pid)
        if seen != {PID_REVISION, PID_CREATED, PID_SAVED}:
            sys.exit("summary information lacks fields %s" % sorted(
                {PID_REVISION, PID_CREATED, PID_SAVED} - seen))
        ole.write_stream(SUMMARY_STREAM, bytes(data))


def assemble(scratch, version, file_version, product, revision, epoch):
    """Makes the package in scratch, which holds the library, with the given product code and
    package code; answers its path."""
    package = os.path.join(scratch, "package.msi")
    if os.path.exists(package):
        os.remove(package)
    run(["wixl", "--arch", "x86", "-D", "Version=" + version, "-D", "ProductCode=" + product,
         "-D", "Source=QV_Printer7.fmx", "-o", package, DESCRIPTOR], cwd=scratch)
    # What wixl leaves out: the file's version and language (a versioned file is replaced by
    # version and carries no hash); at uninstall, the removal of the remembered folder's key and
    # of the default folders where they are left empty (a folder given instead is removed too
    # when empty, but not its parents); and the properties that an elevated installation takes
    # from the command line (wixl ignores Secure="yes").
    queries = [
        "UPDATE `File` SET `Version` = '%s', `Language` = '1033' "
        "WHERE `File` = 'PluginFile'" % file_version,
        "DELETE FROM `MsiFileHash`",
        "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) "
        "VALUES ('RememberedKey', 2, 'Software\\QV_Printer7', '-', 'Plugin')",
        "UPDATE `Property` SET `Value` = '%s' "
        "WHERE `Property` = 'SecureCustomProperties'" % SECURE_PROPERTIES,
        # Another build of the same version (the signed build of a commit over the unsigned
        # one) is a product of its own and replaces the one installed: the upgrade row's
        # maximum version counts as included (msidbUpgradeAttributesVersionMaxInclusive), which
        # wixl does not write for AllowSameVersionUpgrades. An older version is still refused:
        # the downgrade row detects only versions above this one.
        # The attributes are part of the row's key, so the row is made again.
        "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'",
        "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
        "VALUES ('%s', '%s', %d, 'WIX_UPGRADE_DETECTED')" % (UPGRADE_CODE, version, 1 | 0x200),
    ] + ["INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) "
         "VALUES ('Remove%s', 'Plugin', '%s', 2)" % (folder, folder)
         for folder in ("EXTENSIONSDIR", "HostFolder", "FileMakerFolder")]
    run(["msibuild", package] + [arg for query in queries for arg in ("-q", query)])
    set_summary(package, revision, epoch)
    return package


def build(library, output, epoch):
    version = product_version(library, epoch)
    file_version = ".".join(map(str, library_version(library)))
    with tempfile.TemporaryDirectory() as scratch:
        # The cabinet stores the file's date: give it the release's. wixl takes sources
        # relative to the folder it runs in.
        source = os.path.join(scratch, "QV_Printer7.fmx")
        shutil.copyfile(library, source)
        os.utime(source, (epoch, epoch))
        # Windows Installer takes two packages with one package code for the same package, so
        # the codes come from everything the package holds (tables, cabinet, summary, what the
        # tools of the day wrote): it is made once with fixed codes, and again with codes from
        # those bytes. The same content gives the same codes, any difference new ones. Each
        # build is a product of its own, so the signed build of a commit replaces the unsigned.
        unfinished = assemble(scratch, version, file_version, code("product", "unfinished"),
                              code("package", "unfinished"), epoch)
        with open(unfinished, "rb") as f:
            content = hashlib.sha256(f.read()).hexdigest()
        package = assemble(scratch, version, file_version, code("product", content),
                           code("package", content), epoch)
        shutil.copyfile(package, output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("library")
    parser.add_argument("output")
    parser.add_argument("--epoch", type=int, help="time stamp (default: SOURCE_DATE_EPOCH)")
    args = parser.parse_args()
    epoch = args.epoch if args.epoch is not None else int(os.environ["SOURCE_DATE_EPOCH"])
    build(args.library, args.output, epoch)


if __name__ == "__main__":
    main()
