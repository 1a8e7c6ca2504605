"""Krita (krita --export on an Xvfb display) opens a few of the PSDs and exports the picture it builds
from the layer as PNG; that must be the Canvas pixels, colours under alpha 0 included.

Of the PSD files with a layer per region, those whose layers do not overlap are opened too:
the picture must be each layer's pixels at its place, transparent elsewhere (the colours
under alpha 0 are not compared, since Krita composes the layers).

Krita takes seconds per file, so only files picked for their layouts are opened: the single
pixel, an odd layer info length with raw and with packed blocks, the widest, and a fully
transparent one.
"""

import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

import samples

PICKS = [
    ("1 x 1", lambda s: s.width == 1 and s.height == 1),
    ("odd info, raw colour blocks", lambda s: s.info_parity == "odd" and "raw" in s.layer_blocks),
    ("odd info, all packed", lambda s: s.info_parity == "odd" and set(s.layer_blocks) == {"packed"}),
    ("even info, all packed", lambda s: s.info_parity == "even" and set(s.layer_blocks) == {"packed"}),
    ("widest", None),
    ("fully transparent", lambda s: s.alpha_kind == "full"),
]

# Krita says so when it reads a layer info length that is odd, and then reads on.
ODD_NOTICE = "layerInfoSectionSize is NOT even"


def pick(pictures):
    chosen = []
    for label, test in PICKS:
        if test is None:
            found = max(pictures, key=lambda s: (s.width, s.alpha_kind == "partial"))
        else:
            found = next((s for s in pictures if test(s) and s not in chosen), None)
        if found is None:
            raise SystemExit("FAIL: no picture is %s" % label)
        if found not in chosen:
            chosen.append(found)
    return chosen


def start_display():
    """An Xvfb of our own; -displayfd lets the server pick a free display, so runs started at
    the same time by other tests cannot collide on a number. Without -noreset the server resets
    whenever one Krita quits, and the next may meet it closed."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "640x480x24",
                               "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        server.kill()
        raise SystemExit("FAIL: Xvfb did not start")
    return server, ":" + number


def export(source, out, work):
    """krita --export of source to out (its format by its extension), on a display of its own."""
    server, display = start_display()
    home = os.path.join(work, "home")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"), DISPLAY=display)
    try:
        subprocess.run(["krita", "--nosplash", "--export", "--export-filename", out, source], env=env,
                       capture_output=True, timeout=120)
    finally:
        server.terminate()
        server.wait(timeout=30)


def check(sample, work, display, expected=None):
    out = os.path.join(work, os.path.basename(sample.name) + ".png")
    home = os.path.join(work, "home")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"), DISPLAY=display)
    done = subprocess.run(["krita", "--nosplash",
                           "--export", "--export-filename", out, os.path.abspath(sample.psd)],
                          env=env, capture_output=True, timeout=120)
    log = (done.stdout + done.stderr).decode(errors="replace")
    if done.returncode != 0 or not os.path.exists(out):
        raise samples.Mismatch("krita exited with %d and no PNG: %s"
                               % (done.returncode, log.strip()[-400:]))
    with Image.open(out) as image:
        if image.mode != "RGBA":
            raise samples.Mismatch("exported as %s" % image.mode)
        pixels = samples.as_pixels(np.asarray(image), sample, "PNG")
    if expected is None:
        samples.expect_equal(pixels, sample.layer(), "exported picture")
    else:
        # Krita composes several layers into its picture, which drops the colours under
        # alpha 0: those are compared by their alpha only.
        samples.expect_equal(pixels[..., 3:], expected[..., 3:], "exported alpha")
        samples.expect_equal(pixels, expected, "exported picture", expected[..., 3] > 0)
    noticed = ODD_NOTICE in log
    if noticed and sample.info_parity == "even":
        raise samples.Mismatch("Krita reads an odd layer info length in it")
    return "Krita noticed the odd layer info length and read on" if noticed else ""


def main():
    pictures = pick(samples.load(sys.argv[1]))
    work = tempfile.mkdtemp(prefix="tavimore-krita-")
    server, display = start_display()
    try:
        run = samples.Run("Krita")
        for sample in pictures:
            run.check(sample, lambda: check(sample, work, display))
        for sample in samples.load_layered(sys.argv[1]):
            if not sample.overlapping():
                run.check(sample, lambda: check(sample, work, display, sample.placed()))
    finally:
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)
    run.finish()


if __name__ == "__main__":
    main()
