"""ImageMagick 6 opens every PSD with the merged image as [0] and the layer as [1], and every
BMP and PNG, with the written pixels; a PSD with a layer per region has each layer as a frame
of its own size at its place, with its name and pixels."""

import subprocess
import sys

import numpy as np

import samples

CONVERT = "/usr/bin/convert"
IDENTIFY = "/usr/bin/identify"


def magick(*args):
    done = subprocess.run(args, capture_output=True, timeout=60)
    if done.returncode != 0:
        raise samples.Mismatch("%s failed: %s" % (args[0], done.stderr.decode(errors="replace")))
    return done.stdout


def rgba(sample, source, *defines):
    return samples.as_pixels(magick(CONVERT, *defines, source, "-depth", "8", "rgba:-"),
                             sample, source)


def check(sample):
    frames = magick(IDENTIFY, "-format", "%p %w %h %g\n", sample.psd).decode().split()
    expected_frames = ["0", str(sample.width), str(sample.height),
                       "%dx%d+0+0" % (sample.width, sample.height)]
    expected_frames += ["1"] + expected_frames[1:]
    if frames != expected_frames:
        raise samples.Mismatch("identify shows %s, expected the merged image and one layer"
                               % frames)

    # The layer keeps its colour under alpha 0, so it must match everywhere.
    samples.expect_equal(rgba(sample, sample.psd + "[1]"), sample.layer(), "layer")
    # Stored merged bytes, and the merged image as ImageMagick shows it by default (with the
    # white taken back out of the colours).
    samples.expect_equal(rgba(sample, sample.psd + "[0]", "-define", "psd:alpha-unblend=off"),
                         sample.merged(), "merged image")
    samples.expect_unmatted(rgba(sample, sample.psd + "[0]"), sample, "merged image as shown")

    bmp = rgba(sample, sample.bmp, "-alpha", "opaque")
    layer = sample.layer().copy()
    layer[..., 3] = 255
    samples.expect_equal(bmp, layer, "BMP")

    for path, expected in ((sample.png, sample.layer()), (sample.rgb_png, sample.opaque_layer())):
        facts = magick(IDENTIFY, "-format", "%m %w %h %z", path).decode().split()
        if facts != ["PNG", str(sample.width), str(sample.height), "8"]:
            raise samples.Mismatch("identify shows %s for %s" % (facts, path))
        samples.expect_equal(rgba(sample, path), expected, path)
    return ""


def check_layered(sample):
    frames = magick(IDENTIFY, "-format", "%p %w %h %g %l\n", sample.psd).decode().splitlines()
    expected = ["0 %d %d %dx%d+0+0 " % (sample.width, sample.height, sample.width, sample.height)]
    expected += ["%d %d %d %dx%d+%d+%d %s" % (i + 1, l.width, l.height, l.width, l.height,
                                               l.left, l.top, l.name)
                 for i, l in enumerate(sample.layers)]
    if [f.rstrip() for f in frames] != [e.rstrip() for e in expected]:
        raise samples.Mismatch("identify shows %s, expected %s" % (frames, expected))
    for i, layer in enumerate(sample.layers):
        data = magick(CONVERT, "%s[%d]" % (sample.psd, i + 1), "-depth", "8", "rgba:-")
        samples.expect_layer_pixels(np.frombuffer(data, np.uint8), layer, layer.name)
    merged = magick(CONVERT, "-define", "psd:alpha-unblend=off", sample.psd + "[0]", "-depth", "8",
                    "rgba:-")
    samples.expect_equal(samples.as_pixels(merged, sample, "merged image"), sample.merged(),
                         "merged image")
    return ""


def main():
    run = samples.Run("ImageMagick")
    for sample in samples.load(sys.argv[1]):
        run.check(sample, lambda: check(sample))
    for sample in samples.load_layered(sys.argv[1]):
        run.check(sample, lambda: check_layered(sample))
    run.finish()


if __name__ == "__main__":
    main()
