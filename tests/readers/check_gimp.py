"""GIMP (gimp-console batch mode, Script-Fu) opens every PSD as one RGBA layer at the origin
with the Canvas pixels, and its merged image with the written alpha and colours; and every PNG
with the written pixels (RGBA with the Canvas's own alpha, RGB); and every PSD with a layer
per region as those layers, each with its name, at its place, with its pixels."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

import samples

GIMP = "gimp-console"

# One batch command per file, so a file GIMP refuses does not stop the others (each command
# runs in a fresh interpreter, so each carries the definitions). The layer and
# the merged image are dumped as raw RGBA bytes; a text line records what GIMP made of the file.
# OUT.done, written once a file is through, tells the time limit (LIMITS) how far GIMP is.
DONE = r"""
(define (done out)
  (close-output-port (open-output-file (string-append out ".done"))))
"""

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
    (gimp-image-delete merged)
    (done out)))
"""

# Each PNG as one layer of raw bytes (4 or 3 a pixel), and its facts.
DUMP_PNG = r"""
(define (dump-png source out)
  (let* ((image (car (file-png-load RUN-NONINTERACTIVE source source)))
         (layers (gimp-image-get-layers image))
         (layer (aref (cadr layers) 0))
         (port #f))
    (file-raw-save2 RUN-NONINTERACTIVE image layer out "" 0 0)
    (set! port (open-output-file (string-append out ".txt")))
    (write (list (car layers) (car (gimp-image-width image)) (car (gimp-image-height image))
                 (car (gimp-drawable-bpp layer)) (car (gimp-image-get-precision image)))
           port)
    (close-output-port port)
    (gimp-image-delete image)
    (done out)))
"""

# Each layer of a PSD with a layer per region as raw bytes, OUT.N top layer first (GIMP's
# order), and one line per layer: its name, offsets, width, height and bytes per pixel.
DUMP_LAYERED = r"""
(define (dump-layered source out)
  (let* ((image (car (file-psd-load RUN-NONINTERACTIVE source source)))
         (layers (gimp-image-get-layers image))
         (port (open-output-file (string-append out ".txt"))))
    (let loop ((i 0))
      (if (< i (car layers))
          (let* ((layer (aref (cadr layers) i))
                 (alone (car (gimp-image-new (car (gimp-drawable-width layer))
                                             (car (gimp-drawable-height layer)) RGB)))
                 (copy (car (gimp-layer-new-from-drawable layer alone))))
            ; Raw saving writes the whole image: the layer goes alone into one of its size.
            (gimp-image-insert-layer alone copy 0 0)
            (gimp-layer-set-offsets copy 0 0)
            (file-raw-save2 RUN-NONINTERACTIVE alone copy
                            (string-append out "." (number->string i)) "" 0 0)
            (gimp-image-delete alone)
            (write (list (car (gimp-item-get-name layer)) (gimp-drawable-offsets layer)
                         (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))
                         (car (gimp-drawable-bpp layer)))
                   port)
            (newline port)
            (loop (+ i 1)))))
    (close-output-port port)
    (gimp-image-delete image)
    (done out)))
"""

PNG_KINDS = ((".png", 4), (".rgb.png", 3))


def check_layered(sample, out):
    expect_done(out, "file")
    with open(out + ".txt") as f:
        lines = [line for line in f.read().splitlines() if line.strip()]
    facts = []
    for line in lines:
        found = re.match(r'^\("([^"]*)" \((-?\d+) (-?\d+)\) (\d+) (\d+) (\d+)\)$', line.strip())
        if not found:
            raise samples.Mismatch("GIMP reports %r" % line)
        facts.append((found.group(1),) + tuple(int(v) for v in found.groups()[1:]))
    facts.reverse()  # GIMP lists the top layer first
    expected = [(l.name, l.left, l.top, l.width, l.height, 4) for l in sample.layers]
    if facts != expected:
        raise samples.Mismatch("GIMP reports name, offsets, size, bpp = %s, expected %s"
                               % (facts, expected))
    for i, layer in enumerate(sample.layers):
        with open("%s.%d" % (out, len(sample.layers) - 1 - i), "rb") as f:
            samples.expect_layer_pixels(np.frombuffer(f.read(), np.uint8), layer, layer.name)
    return ""

# 150: 8-bit perceptual, the precision in which the bytes come out as stored.
EXPECTED_PRECISION = 150


def quoted(path):
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


def check(sample, out, with_png):
    expect_done(out, "file")
    with open(out + ".txt") as f:
        facts = f.read().replace("(", " ").replace(")", " ").split()
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

    for suffix, bpp in PNG_KINDS if with_png else ():
        png_out = out + suffix
        expect_done(png_out, suffix + " file")
        with open(png_out + ".txt") as f:
            facts = f.read().replace("(", " ").replace(")", " ").split()
        expected = ["1", w, h, str(bpp), str(EXPECTED_PRECISION)]
        if facts != expected:
            raise samples.Mismatch("GIMP reports layers, size, bpp, precision = %s for %s, "
                                   "expected %s" % (facts, suffix, expected))
        with open(png_out, "rb") as f:
            data = np.frombuffer(f.read(), np.uint8)
        if data.size != sample.width * sample.height * bpp:
            raise samples.Mismatch("%s: %d bytes from GIMP" % (suffix, data.size))
        if bpp == 4:
            samples.expect_equal(data.reshape(sample.height, sample.width, 4), sample.layer(), suffix)
        else:
            pixels = np.full((sample.height, sample.width, 4), 255, np.uint8)
            pixels[..., :3] = data.reshape(sample.height, sample.width, 3)
            samples.expect_equal(pixels, sample.opaque_layer(), suffix)
    return ""


def png_pictures(pictures):
    """GIMP starts two plug-in processes for every PNG it loads and dumps, seconds each on a busy
    machine, so it reads the PNGs of one picture of every fill (black, flat, ramp, noise, mixed)
    and every transparency (none, partial, full, half), the smallest of each, and the largest,
    whose stream spans several bands; Pillow, ImageMagick and pngcheck read them all."""
    by_size = sorted(pictures, key=lambda p: p.width * p.height)
    chosen = {"largest": by_size[-1]}
    for sample in by_size:
        _, _, fill, alpha = sample.name.split("_")
        chosen.setdefault(fill, sample)
        chosen.setdefault(alpha, sample)
    return sorted({id(p): p for p in chosen.values()}.values(), key=lambda p: p.name)


# GIMP's time limits, generous for a loaded 2-core machine: its start (a fresh profile asks every
# plug-in for its procedures), then each file from the end of the one before (GIMP starts a
# plug-in process for every file it loads and every raw dump it saves: seconds each on a busy
# machine). A run of many files has as long as its files need.
START_LIMIT = 180
FILE_LIMIT = 90

# Why a file has no result, when the time limit killed GIMP before it was through: OUT -> words.
KILLED = {}


def expect_done(out, what):
    if not os.path.exists(out + ".done"):
        raise samples.Mismatch(KILLED.get(out, "GIMP did not load the %s (no batch result)" % what))


class Batch:
    """One gimp-console run in batch mode over files, each of which leaves OUT.done when through,
    under the time limits: killed when a file takes longer than FILE_LIMIT after the one before
    (or after GIMP's START_LIMIT), and then says so."""

    def __init__(self, name, commands, outs, work):
        self.name, self.outs = name, outs
        args = [GIMP, "-i", "-d", "-f", "--no-shm"]
        for command in commands + ["(gimp-quit 0)"]:
            args += ["-b", command]
        env = dict(os.environ, GIMP2_DIRECTORY=os.path.join(work, "profile-" + name))
        # A session of its own: the time limit ends GIMP's plug-in processes with it.
        self.process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        self.lines = []
        self.reader = threading.Thread(target=self.read)
        self.reader.start()
        self.started = self.moved = time.monotonic()
        self.progress = 0
        self.killed = None

    def read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode(errors="replace").rstrip("\n"))

    def watch(self, now):
        """Whether GIMP still runs; kills it past its time limit."""
        if self.process.poll() is not None:
            return False
        done = [os.path.exists(out + ".done") for out in self.outs]
        # A file through, or a batch command ended (one whose file GIMP refused leaves no mark).
        progress = sum(done) + sum(line.startswith("batch command") for line in self.lines)
        if progress != self.progress:
            self.progress, self.moved = progress, now
        limit = FILE_LIMIT + (START_LIMIT if self.progress == 0 else 0)
        if now - self.moved <= limit:
            return True
        os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        last = max((i for i, through in enumerate(done) if through), default=-1)
        on = os.path.basename(self.outs[last + 1]) if last + 1 < len(self.outs) else "quitting"
        if self.progress == 0:
            when = ("no file through %d s after its start (%d s for its start, %d s for the first "
                    "file)" % (now - self.started, START_LIMIT, FILE_LIMIT))
        else:
            when = ("no file through in the %d s after the one before (the limit of one file); "
                    "%d of %d through" % (FILE_LIMIT, sum(done), len(self.outs)))
        self.killed = "%s (%s files) was killed by its time limit: %s; it was on %s" % (
            GIMP, self.name, when, on)
        for out, through in zip(self.outs, done):
            if not through:
                KILLED[out] = "GIMP was killed by its time limit before it was through this file"
        return False

    def finish(self):
        """Prints GIMP's error lines and why it failed; False when it did."""
        self.process.wait()
        self.reader.join()
        for line in self.lines:
            if "error" in line.lower():
                print("gimp: " + line)
        if self.killed:
            print("FAIL: " + self.killed)
            return False
        if self.process.returncode != 0:
            print("FAIL: %s (%s files) exited with %d" % (GIMP, self.name, self.process.returncode))
            return False
        return True


def main():
    folder = sys.argv[1]
    pictures = samples.load(folder)
    layered = samples.load_layered(folder)
    work = tempfile.mkdtemp(prefix="tavimore-gimp-")
    try:
        png_set = png_pictures(pictures)
        psd_commands, psd_outs = [], []
        for sample in pictures:
            out = os.path.join(work, sample.name)
            psd_commands.append("(begin %s %s (dump %s %s))" % (
                DONE, DUMP, quoted(os.path.abspath(sample.psd)), quoted(out)))
            psd_outs.append(out)
        for sample in layered:
            out = os.path.join(work, os.path.basename(sample.name))
            psd_commands.append("(begin %s %s (dump-layered %s %s))" % (
                DONE, DUMP_LAYERED, quoted(os.path.abspath(sample.psd)), quoted(out)))
            psd_outs.append(out)
        # Every PNG in one command: GIMP reads them without trouble, and a file it refused
        # would leave this and the later ones without a result, which fails them.
        png_outs = [os.path.join(work, sample.name + suffix)
                    for sample in png_set for suffix, _ in PNG_KINDS]
        png_commands = ["(begin %s %s %s)" % (DONE, DUMP_PNG, " ".join(
            "(dump-png %s %s)" % (quoted(os.path.abspath(sample.path(suffix))),
                                  quoted(os.path.join(work, sample.name + suffix)))
            for sample in png_set for suffix, _ in PNG_KINDS))]
        # The PSD and the PNG files in two GIMPs at once, each with its own profile.
        batches = [Batch("PSD", psd_commands, psd_outs, work),
                   Batch("PNG", png_commands, png_outs, work)]
        while any([batch.watch(time.monotonic()) for batch in batches]):
            time.sleep(0.5)
        ended = [batch.finish() for batch in batches]

        run = samples.Run("GIMP")
        for sample in pictures:
            run.check(sample, lambda: check(sample, os.path.join(work, sample.name),
                                            any(sample is p for p in png_set)))
        for sample in layered:
            run.check(sample, lambda: check_layered(
                sample, os.path.join(work, os.path.basename(sample.name))))
        if not all(ended):
            run.failed.append("(gimp-console)")
        run.finish()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
