"""A sprite whose expressions lie in overlapping regions with soft edges, written with a layer per
region (tavimore-cli --layers): GIMP, Krita, psd-tools and ImageMagick each composite its layers
into a picture, which must be the one the G00 file decodes to (tavimore-cli --png) at every
pixel. psd-tools composites in floating point and rounds some colours of faint pixels by one
even for a single layer, so its picture is compared with its own composite of the one-layer
PSD of the decoded picture. Prints each reader's count of differing pixels.

usage: check_layer_composites.py TAVIMORE_CLI G00_MAKE [PSD]   (PSD: count for that file instead)
"""

import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

import check_krita

GIMP_MERGE = r"""
(let* ((image (car (file-psd-load RUN-NONINTERACTIVE "%s" "%s")))
       (layer (car (gimp-image-merge-visible-layers image CLIP-TO-IMAGE))))
  (file-png-save RUN-NONINTERACTIVE image layer "%s" "%s" 0 9 0 0 0 0 0)
  (gimp-image-delete image))
"""


def gimp(psd, out, work):
    env = dict(os.environ, GIMP2_DIRECTORY=os.path.join(work, "gimp-profile"))
    subprocess.run(["gimp-console", "-i", "-d", "-f", "--no-shm", "-b", GIMP_MERGE % (psd, psd, out, out),
                    "-b", "(gimp-quit 0)"], env=env, capture_output=True, timeout=240)


def krita(psd, out, work):
    check_krita.export(psd, out, work)


def psd_tools(psd, out, work):
    from psd_tools import PSDImage
    PSDImage.open(psd).composite(force=True).save(out)


def imagemagick(psd, out, work):
    # Frame 0 is the merged image; the layers follow, each at its page offset.
    subprocess.run(["convert", psd, "-delete", "0", "-background", "none", "-layers", "merge",
                    "+repage", "PNG32:" + out], check=True, capture_output=True, timeout=60)


# Each reader, and whether it is compared with its own composite of the one-layer PSD.
READERS = [("GIMP", gimp, False), ("Krita", krita, False), ("psd-tools", psd_tools, True),
           ("ImageMagick", imagemagick, False)]


def differing(got, expected):
    """Pixels whose alpha differs, or whose colour differs where they are not transparent."""
    if got.shape != expected.shape:
        return expected.shape[0] * expected.shape[1]
    visible = expected[..., 3] > 0
    return int(np.count_nonzero((got[..., 3] != expected[..., 3]) |
                                (visible & np.any(got[..., :3] != expected[..., :3], axis=-1))))


def main():
    cli, make = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="tavimore-composites-")
    try:
        g00 = os.path.join(work, "sprite.g00")
        subprocess.run([make, "--expressions", "3", "--size", "96x80", g00], check=True,
                       capture_output=True)
        subprocess.run([cli, "-q", "--png", "-o", work, g00], check=True)
        decoded = np.asarray(Image.open(os.path.join(work, "sprite.png")).convert("RGBA"))
        flat = os.path.join(work, "flat")
        subprocess.run([cli, "-q", "-o", flat, g00], check=True)
        psd = sys.argv[3] if len(sys.argv) > 3 else os.path.join(work, "sprite.psd")
        if len(sys.argv) <= 3:
            subprocess.run([cli, "-q", "--layers", "-o", work, g00], check=True)
        failed = 0
        for name, composite, own in READERS:
            out = os.path.join(work, name + ".png")
            try:
                composite(psd, out, work)
                got = np.asarray(Image.open(out).convert("RGBA"))
                if own:
                    rounded = os.path.join(work, name + ".flat.png")
                    composite(os.path.join(flat, "sprite.psd"), rounded, work)
                    print("%s: %d pixels of the decoded picture differ in its composite of one layer"
                          % (name, differing(np.asarray(Image.open(rounded).convert("RGBA")), decoded)))
                    decoded_here = np.asarray(Image.open(rounded).convert("RGBA"))
                else:
                    decoded_here = decoded
            except Exception as e:  # the reader wrote nothing, or refused the file
                print("FAIL %s: %s" % (name, e))
                failed += 1
                continue
            count = differing(got, decoded_here)
            print("%s %s: %d pixels differ from the decoded picture" % ("pass" if count == 0 else "FAIL",
                                                                         name, count))
            failed += count != 0
        sys.exit(1 if failed else 0)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
