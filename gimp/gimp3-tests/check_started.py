#!/usr/bin/python3
"""GIMP 3 starts headless with a fresh profile (gimp3.py: gimp-console-3.0, the Python batch
interpreter, a time limit for the start) and lists its plug-in procedures through the PDB:
among them the file procedures of its C plug-ins, Python's batch interpreter and Script-Fu's.
The harness of the GIMP 3 tests, ready for a plug-in: --plug-in adds a folder of plug-ins and
--expect a procedure that must then be listed as a plug-in's.

usage: check_started.py [--plug-in FOLDER]... [--expect PROCEDURE]... [--display]
"""
import argparse
import json
import os
import shutil
import sys
import tempfile

import gimp3

# Procedures every GIMP 3.0 lists as plug-ins': C file plug-ins, Python's, Script-Fu's.
EXPECTED = ["file-png-load", "file-psd-load", "file-png-export", "python-fu-eval",
            "plug-in-script-fu-eval"]

# Run by GIMP's Python: the version and every procedure with its kind, as JSON.
LIST = r"""
import json
from gi.repository import Gimp
pdb = Gimp.get_pdb()
names = pdb.query_procedures(*[".*"] * 8)
kinds = {name: pdb.lookup_procedure(name).get_proc_type().value_nick for name in names}
with open(%r, "w") as f:
    json.dump({"version": Gimp.version(), "kinds": kinds}, f)
"""


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plug-in", action="append", default=[], dest="plug_ins")
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("--display", action="store_true",
                        help="gimp-3.0 -i under an X server of its own instead of gimp-console-3.0")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tavimore-gimp3-")
    try:
        listing = os.path.join(work, "procedures.json")
        ran = gimp3.run([LIST % listing], work, plug_ins=args.plug_ins, display=args.display)
        if ran.failure:
            fail(ran.failure)
        if not os.path.exists(listing):
            fail("%s ended without listing its procedures; the end of its output:\n%s"
                 % (ran.program, ran.tail()))
        with open(listing) as f:
            found = json.load(f)
        if not found["version"].startswith("3."):
            fail("GIMP %s started, not GIMP 3" % found["version"])
        plug_in = sorted(name for name, kind in found["kinds"].items() if kind == "plugin")
        missing = [name for name in EXPECTED + args.expect if name not in plug_in]
        if missing:
            fail("GIMP %s lists %d plug-in procedures, not %s"
                 % (found["version"], len(plug_in), ", ".join(missing)))
        print("GIMP %s started headless (%s) in %.0f s and lists %d procedures, %d of them "
              "plug-ins' (%s among them)"
              % (found["version"], ran.program, ran.seconds, len(found["kinds"]), len(plug_in),
                 ", ".join(EXPECTED + args.expect)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
