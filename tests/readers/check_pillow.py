"""Pillow opens every BMP and PNG with the written pixels (the RGBA PNG with the Canvas's own
alpha, colours under alpha 0 included), and shows the PSD merged image as stored.

Pillow's PSD reader walks the layer channel blocks on open and skips a pad byte after a block
that ends at an odd offset, which these files do not have; some versions then give up on
such a file. That is recorded, not failed; a file Pillow opens must show the right pixels.
"""

import sys

import numpy as np
from PIL import Image

import samples


def check_bmp(sample):
    with Image.open(sample.bmp) as image:
        if image.format != "BMP" or image.mode != "RGB":
            raise samples.Mismatch("BMP opened as %s %s" % (image.format, image.mode))
        pixels = np.asarray(image.convert("RGBA"))
    expected = sample.layer().copy()
    expected[..., 3] = 255
    samples.expect_equal(samples.as_pixels(pixels, sample, "BMP"), expected, "BMP")


def check_png(sample):
    for path, mode, expected in ((sample.png, "RGBA", sample.layer()),
                                 (sample.rgb_png, "RGB", sample.opaque_layer())):
        with Image.open(path) as image:
            if image.format != "PNG" or image.mode != mode:
                raise samples.Mismatch("%s opened as %s %s" % (path, image.format, image.mode))
            pixels = np.asarray(image.convert("RGBA"))
        samples.expect_equal(samples.as_pixels(pixels, sample, path), expected, path)


def check(sample, run):
    check_bmp(sample)
    check_png(sample)
    try:
        image = Image.open(sample.psd)
        image.load()
    except Exception as e:
        if not sample.odd_block_end():
            raise
        run.note("%s: Pillow cannot open the PSD (a layer channel block ends at an odd "
                 "offset): %s: %s" % (sample.name, type(e).__name__, e))
        return "BMP only"
    with image:
        if image.format != "PSD" or image.mode != "RGBA" or len(image.layers) != 1:
            raise samples.Mismatch("PSD opened as %s %s with %d layers"
                                   % (image.format, image.mode, len(image.layers)))
        merged = samples.as_pixels(np.asarray(image), sample, "merged image")
    samples.expect_equal(merged, sample.merged(), "merged image")
    return ""


def main():
    run = samples.Run("Pillow")
    for sample in samples.load(sys.argv[1]):
        run.check(sample, lambda: check(sample, run))
    run.finish()


if __name__ == "__main__":
    main()
