#!/usr/bin/python3
"""GIMP 3's plug-in installed each way README.md and docs/gimp-python.md give, done for real, and
then GIMP 3 opening a G00 file through it from where it was put, with no library path set:

  cmake --install BUILD --prefix DIR   a temporary prefix, and /usr into a DESTDIR (the library
                                       comes as a link beside the plug-in into the prefix's own)
  cp -rL BUILD/gimp3/file-g00 ~/.config/GIMP/3.0/plug-ins/   with a temporary HOME

Each GIMP start (gimp3.py) has the folder the plug-in was put in as its extra plug-in folder.

usage: check_install3.py BUILD G00MAKE
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

import gimp3

OPEN = """
from gi.repository import Gimp, Gio
image = Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, Gio.File.new_for_path(%r))
with open(%r, "w") as f:
    f.write("%%d %%d" %% (image.get_width(), image.get_height()) if image else "refused")
"""


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def opens(plug_ins, sprite, work, how):
    """GIMP with the plug-in in plug_ins opens the sprite."""
    size = os.path.join(work, "size")
    if os.path.exists(size):
        os.remove(size)
    ran = gimp3.run([OPEN % (sprite, size)], work, plug_ins=[plug_ins])
    if ran.failure:
        fail("%s: %s" % (how, ran.failure))
    got = open(size).read() if os.path.exists(size) else "nothing"
    if got != "96 64":
        fail("%s: GIMP opened the 96x64 sprite as %s; the end of its output:\n%s"
             % (how, got, ran.tail()))
    print("%s: GIMP 3 opens a G00 file through the plug-in put in %s" % (how, plug_ins))


def main():
    build, make = os.path.abspath(sys.argv[1]), sys.argv[2]
    env = {name: value for name, value in os.environ.items() if name != "LD_LIBRARY_PATH"}
    os.environ.clear()
    os.environ.update(env)
    work = tempfile.mkdtemp(prefix="tavimore-gimp3-install-")
    try:
        sprite = os.path.join(work, "sprite.g00")
        subprocess.run([make, "--kind", "sprite", "--size", "96x64", sprite], check=True,
                       stdout=subprocess.DEVNULL)
        places = ((os.path.join(work, "prefix"), None), ("/usr", os.path.join(work, "root")))
        for prefix, destdir in places:
            subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                           stdout=subprocess.DEVNULL, env=dict(env, DESTDIR=destdir) if destdir else env)
            installed = glob.glob((destdir or "") + prefix + "/lib/**/gimp/3.0/plug-ins/file-g00/"
                                  "file-g00.py", recursive=True)
            if len(installed) != 1:
                fail("cmake --install --prefix %s put file-g00.py at %s" % (prefix, installed))
            opens(os.path.dirname(os.path.dirname(installed[0])), sprite, work,
                  "cmake --install --prefix %s%s" % (prefix, " (DESTDIR)" if destdir else ""))
        home = os.path.join(work, "home")
        subprocess.run(["sh", "-c", "mkdir -p ~/.config/GIMP/3.0/plug-ins && "
                        "cp -rL \"$1\"/gimp3/file-g00 ~/.config/GIMP/3.0/plug-ins/", "sh", build],
                       check=True, env=dict(env, HOME=home))
        opens(os.path.join(home, ".config", "GIMP", "3.0", "plug-ins"), sprite, work, "cp -rL")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
