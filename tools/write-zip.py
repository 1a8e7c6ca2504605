#!/usr/bin/env python3
"""Writes a zip of a folder that is the same bytes on every machine.

usage: write-zip.py ZIP TOP FOLDER EPOCH

Every file of FOLDER goes into ZIP under TOP/, in sorted order, deflated at level 9, with the
time EPOCH (UTC) and the permissions rw-r--r-- (rwxr-xr-x for programs); no owners, no extra
time fields.
"""
import os
import sys
import time
import zipfile


def main():
    zip_path, top, folder, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    # The zip format's times start in 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    names = []
    for parent, _, files in os.walk(folder):
        names += [os.path.relpath(os.path.join(parent, f), folder) for f in files]
    with zipfile.ZipFile(zip_path + ".part", "w") as archive:
        for name in sorted(n.replace(os.sep, "/") for n in names):
            path = os.path.join(folder, name)
            entry = zipfile.ZipInfo(top + "/" + name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions below are read
            mode = 0o755 if os.access(path, os.X_OK) else 0o644
            entry.external_attr = (0o100000 | mode) << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)
    os.replace(zip_path + ".part", zip_path)


if __name__ == "__main__":
    main()
