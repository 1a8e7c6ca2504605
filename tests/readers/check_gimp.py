"""GIMP (gimp-console batch mode, Script-Fu) opens every PSD as one RGBA layer at the origin
with the Canvas pixels, and its merged image with the written alpha and colours."""

import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

import samples

GIMP = "gimp-console"

# One batch command per file, so a file GIMP refuses does not stop the others (each command
# runs in a fresh interpreter, so each carries the definition). The layer and
# the merged image are dumped as raw RGBA bytes; a text line records what GIMP made of the file.
DUMP = r"""
(define (dump source out)
  (let* ((image (car (file-psd-load RUN-NONINTERACTIVE source source)))
         (layers (gimp-image-get-layers image))
         (layer (aref (cadr layers) 0))
         (merged (car (file-psd-load-merged RUN-NONINTERACTIVE source source)))
         (mlayers (gimp-image-get-layers merged))
         (mlayer (aref (cadr mlayers) 0))
         (port #f))
    (file-raw-save2 RUN-NONINTERACTIVE image layer (string-append out ".layer") "" 0 0)
    (file-raw-save2 RUN-NONINTERACTIVE merged mlayer (string-append out ".merged") "" 0 0)
    (set! port (open-output-file (string-append out ".txt")))
    (write (list (car layers) (car (gimp-image-width image)) (car (gimp-image-height image))
                 (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))
                 (gimp-drawable-offsets layer) (car (gimp-drawable-bpp layer))
                 (car (gimp-image-get-precision image))
                 (car mlayers) (car (gimp-drawable-width mlayer))
                 (car (gimp-drawable-height mlayer)) (car (gimp-drawable-bpp mlayer)))
           port)
    (close-output-port port)
    (gimp-image-delete image)
    (gimp-image-delete merged)))
"""

# 150: 8-bit perceptual, the precision in which the bytes come out as stored.
EXPECTED_PRECISION = 150


def quoted(path):
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


def check(sample, out):
    try:
        with open(out + ".txt") as f:
            facts = f.read().replace("(", " ").replace(")", " ").split()
    except FileNotFoundError:
        raise samples.Mismatch("GIMP did not load the file (no batch result)")
    w, h = str(sample.width), str(sample.height)
    expected = ["1", w, h, w, h, "0", "0", "4", str(EXPECTED_PRECISION), "1", w, h, "4"]
    if facts != expected:
        raise samples.Mismatch("GIMP reports layers, image size, layer size, offsets, bpp, "
                               "precision, merged layers, size, bpp = %s, expected %s"
                               % (facts, expected))
    with open(out + ".layer", "rb") as f:
        layer = samples.as_pixels(f.read(), sample, "layer")
    # GIMP keeps straight colours, so even those under alpha 0 come back.
    samples.expect_equal(layer, sample.layer(), "layer")
    with open(out + ".merged", "rb") as f:
        merged = samples.as_pixels(f.read(), sample, "merged image")
    # GIMP takes the white back out of the merged colours when it loads them.
    samples.expect_unmatted(merged, sample, "merged image")
    return ""


def main():
    folder = sys.argv[1]
    pictures = samples.load(folder)
    work = tempfile.mkdtemp(prefix="tavimore-gimp-")
    try:
        env = dict(os.environ, GIMP2_DIRECTORY=os.path.join(work, "profile"))
        commands = []
        for sample in pictures:
            commands.append("(begin %s (dump %s %s))" % (DUMP, quoted(os.path.abspath(sample.psd)),
                                              quoted(os.path.join(work, sample.name))))
        commands.append("(gimp-quit 0)")
        args = [GIMP, "-i", "-d", "-f", "--no-shm"]
        for command in commands:
            args += ["-b", command]
        done = subprocess.run(args, env=env, capture_output=True, timeout=240)
        log = (done.stdout + done.stderr).decode(errors="replace")
        errors = [line for line in log.splitlines() if "error" in line.lower()]
        for line in errors:
            print("gimp: " + line)

        run = samples.Run("GIMP")
        for sample in pictures:
            run.check(sample, lambda: check(sample, os.path.join(work, sample.name)))
        if done.returncode != 0:
            print("FAIL: gimp-console exited with %d" % done.returncode)
            run.failed.append("(gimp-console)")
        run.finish()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
