#!/usr/bin/env python3
"""Zips a release folder so that the same files give the same bytes: entries in sorted order
under the folder's name, every time stamp SOURCE_DATE_EPOCH (UTC), fixed modes, no extra
fields, one compression level.

usage: build_zip.py OUTPUT.zip FOLDER"""
import os
import sys
import time
import zipfile

FILE_MODE, FOLDER_MODE = 0o644, 0o755


def entry(name, mode, stamp):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3  # Unix, so that the modes below are what unzip restores
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= 0o040000 << 16 | 0x10  # a folder, also to DOS readers
    else:
        info.external_attr |= 0o100000 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    output, folder = sys.argv[1], sys.argv[2].rstrip("/")
    # A zip's times are local times without a zone, in two-second steps from 1980 on.
    epoch = max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800)
    stamp = time.gmtime(epoch)[:6]
    top = os.path.basename(folder)
    names = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        relative = os.path.relpath(root, folder)
        prefix = top + "/" if relative == "." else top + "/" + relative.replace(os.sep, "/") + "/"
        names.append((prefix, None))
        names += [(prefix + name, os.path.join(root, name)) for name in files]
    with zipfile.ZipFile(output, "w", compresslevel=9) as archive:
        for name, path in sorted(names):
            if path is None:
                archive.writestr(entry(name, FOLDER_MODE, stamp), b"")
            else:
                with open(path, "rb") as f:
                    archive.writestr(entry(name, FILE_MODE, stamp), f.read())


if __name__ == "__main__":
    main()
