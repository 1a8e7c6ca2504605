#!/usr/bin/python3
"""GIMP 3's plug-in (file-g00.py) through GIMP 3 itself, headless (gimp3.py): the cases and checks
of GIMP 2.10's check_plugin.py, run by session.py inside one GIMP start with the plug-in's folder
as installed (file-g00.py beside the tavimore module):

  open, edit, xcf, refuse, fresh,  as for GIMP 2.10: layers, masks and composites as the converter
  flat                             draws them, an edit of a covered region like the original, also
                                   through an XCF, the refusals with their reasons, fresh files,
                                   layers over a full-frame picture;
  thumbnail                        the picture's size, and a file whose header claims 65535 x 65535
                                   pixels refused with the library's reason (the time it took is
                                   reported).

usage: check_plugin3.py --plug-in FOLDER --cli CLI --make G00MAKE --data G00DATA
"""
import argparse
import json
import os
import shutil
import sys
import tempfile

import gimp3

here = os.path.dirname(os.path.abspath(__file__))
cases_folder = os.path.join(here, "..", "tests")
sys.path.insert(0, cases_folder)
import check_plugin as cases  # noqa: E402

# A start's limit, and more for each file the session opens or writes (check_plugin.py's count).
SECONDS_PER_FILE = 20

SESSION = """
import sys
sys.path.insert(0, %r)
session = %r
exec(compile(open(session).read(), session, "exec"), {"WORK": %r, "__name__": "session"})
"""


def main():
    parser = argparse.ArgumentParser()
    for option in ("plug-in", "cli", "make", "data"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tavimore-gimp3-")
    try:
        described = cases.prepare(args, work)
        command = SESSION % (cases_folder, os.path.join(here, "session.py"), work)
        ran = gimp3.run([command], work, plug_ins=[os.path.dirname(os.path.abspath(args.plug_in))],
                        limit=gimp3.START_LIMIT + cases.FILES_OPENED * SECONDS_PER_FILE)
        if ran.failure:
            cases.fail(ran.failure)
        if not os.path.exists(os.path.join(work, "results.json")):
            cases.fail("GIMP's batch run left no results; the end of its output:\n" + ran.tail())
        with open(os.path.join(work, "results.json")) as f:
            results = json.load(f)
        found, log = results["found"], ran.log + "\n" + "\n".join(results["messages"])
        cases.check_open(work, described, found)
        cases.check_edits(args, work, described, found, log)
        cases.check_refusals(work, found, log)
        cases.check_fresh(args, work, found, log)
        cases.check_flat(args, work, found, log)
        print("thumbnail: the file claiming 65535 x 65535 pixels refused in %.2f s"
              % found["bomb-seconds"][0][0])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
