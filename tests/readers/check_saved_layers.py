"""A sprite's --layers PSD opened and saved again by GIMP and by ImageMagick (which applies the
layer masks to the pixels it saves), unedited and with one pixel of a hidden face changed, and
by Krita unedited (it has no batch edits), then
packed --like the sprite: unedited, the same file; edited, every region drawn alone is the
original's but that face, which differs at that one pixel.

usage: check_saved_layers.py TAVIMORE_CLI TAVIMORE_PACK G00_MAKE
"""

import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

import check_krita

# The edit: (9, 9) of face 1's layer, under the middle of face 2.
GIMP_SAVE = r"""
(let* ((image (car (file-psd-load RUN-NONINTERACTIVE "%(psd)s" "%(psd)s"))))
  (when %(edit)s
    (let ((layer (car (gimp-image-get-layer-by-name image "region 001"))))
      (gimp-drawable-set-pixel layer 9 9 4 #(255 0 0 255))))
  (file-psd-save RUN-NONINTERACTIVE image (car (gimp-image-get-active-layer image)) "%(out)s" "%(out)s" 1 0)
  (gimp-image-delete image))
"""


def gimp(psd, out, edit, work):
    env = dict(os.environ, GIMP2_DIRECTORY=os.path.join(work, "gimp-profile"))
    script = GIMP_SAVE % {"psd": psd, "out": out, "edit": "#t" if edit else "#f"}
    subprocess.run(["gimp-console", "-i", "-d", "-f", "--no-shm", "-b", script, "-b", "(gimp-quit 0)"],
                   env=env, capture_output=True, timeout=240)


def imagemagick(psd, out, edit, work):
    # Frame 0 is the merged image, frame 2 the layer "region 001".
    draw = ["(", "-clone", "2", "-fill", "#FF0000", "-draw", "point 9,9", ")", "-swap", "2", "+delete"]
    subprocess.run(["convert", psd] + (draw if edit else []) + [out], check=True, timeout=60)


def krita(psd, out, edit, work):
    check_krita.export(psd, out, work)


def regions(cli, g00, folder):
    subprocess.run([cli, "-q", "--regions", "--png", "-o", folder, g00], check=True)
    return {name: np.asarray(Image.open(os.path.join(folder, name))) for name in sorted(os.listdir(folder))}


def main():
    cli, pack, make = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="tavimore-saved-layers-")
    failed = 0
    try:
        g00 = os.path.join(work, "chara.g00")
        subprocess.run([make, "--expressions", "3", "--size", "64x56", "--seed", "5", g00], check=True,
                       capture_output=True)
        subprocess.run([cli, "-q", "--layers", "-o", work, g00], check=True)
        original = regions(cli, g00, os.path.join(work, "regions"))
        for name, save, edits in (("GIMP", gimp, (False, True)), ("ImageMagick", imagemagick, (False, True)),
                                  ("Krita", krita, (False,))):
            for edit in edits:
                label = "%s, %s" % (name, "one hidden pixel edited" if edit else "unedited")
                folder = os.path.join(work, "%s-%d" % (name, edit))
                os.makedirs(folder)
                saved = os.path.join(folder, "chara.psd")
                save(os.path.join(work, "chara.psd"), saved, edit, work)
                done = subprocess.run([pack, "-q", "--like", g00, "-o", folder, saved], capture_output=True,
                                      text=True)
                packed = os.path.join(folder, "chara.g00")
                if done.returncode != 0:
                    problem = done.stderr.strip()
                elif not edit:
                    problem = None if open(packed, "rb").read() == open(g00, "rb").read() else "not the same file"
                else:
                    back = regions(cli, packed, os.path.join(folder, "regions"))
                    changed = [n for n in original if not np.array_equal(original[n], back.get(n))]
                    problem = None
                    if changed != ["chara_001.png"]:
                        problem = "regions changed: %s" % changed
                    else:
                        y, x = np.nonzero(np.any(original[changed[0]] != back[changed[0]], axis=-1))
                        if list(zip(x, y)) != [(9, 9)]:
                            problem = "face 1 changed at %s" % list(zip(x, y))
                print("%s %s%s" % ("FAIL" if problem else "pass", label, ": " + problem if problem else ""))
                failed += problem is not None
    finally:
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
