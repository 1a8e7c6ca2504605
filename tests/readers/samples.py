"""The pictures written by write_samples and the comparisons the reader checks share."""

import json
import os
import sys

import numpy as np

PSD_LAYER_START = 178


class Sample:
    def __init__(self, folder, entry):
        self.folder = folder
        self.name = entry["name"]
        self.width = entry["width"]
        self.height = entry["height"]
        self.alpha_kind = entry["alpha"]
        self.layer_info_length = entry["layer_info_length"]
        self.layer_blocks = entry["layer_blocks"]
        self.layer_block_lengths = entry["layer_block_lengths"]
        self.merged_block = entry["merged_block"]
        self.psd_size = entry["psd_size"]

    def path(self, suffix):
        return os.path.join(self.folder, self.name + suffix)

    @property
    def psd(self):
        return self.path(".psd")

    @property
    def bmp(self):
        return self.path(".bmp")

    @property
    def png(self):
        """RGBA, with the Canvas's own alpha."""
        return self.path(".png")

    @property
    def rgb_png(self):
        return self.path(".rgb.png")

    def _rgba(self, suffix):
        data = np.fromfile(self.path(suffix), np.uint8)
        return data.reshape(self.height, self.width, 4)

    def layer(self):
        """The Canvas as straight R, G, B, A."""
        return self._rgba(".layer.rgba")

    def opaque_layer(self):
        """The Canvas colours with alpha 255, as BMP and RGB PNG readers give them."""
        layer = self.layer().copy()
        layer[..., 3] = 255
        return layer

    def merged(self):
        """The layer flattened on white, with its alpha."""
        return self._rgba(".merged.rgba")

    @property
    def info_parity(self):
        return "odd" if self.layer_info_length % 2 else "even"

    def odd_block_end(self):
        """Whether a layer channel block ends at an odd file offset."""
        at = PSD_LAYER_START
        for length in self.layer_block_lengths:
            at += length
            if at % 2:
                return True
        return False

    def describe(self):
        return "%s (info %s, layer %s, merged %s)" % (
            self.name, self.info_parity, "/".join(self.layer_blocks), self.merged_block)


def load(folder):
    with open(os.path.join(folder, "manifest.json")) as f:
        return [Sample(folder, entry) for entry in json.load(f)]


def as_pixels(data, sample, what):
    """The reader's bytes as height x width x 4, or an explanation of why they are not."""
    data = np.frombuffer(data, np.uint8) if isinstance(data, (bytes, bytearray)) else np.asarray(data)
    if data.size != sample.width * sample.height * 4:
        raise Mismatch("%s: %d bytes where %d x %d RGBA pixels were expected"
                       % (what, data.size, sample.width, sample.height))
    return data.reshape(sample.height, sample.width, 4)


class Mismatch(Exception):
    pass


def first_difference(got, expected, where, what):
    bad = np.argwhere(where & np.any(got != expected, axis=-1))
    if bad.size:
        y, x = bad[0]
        raise Mismatch("%s: %d pixels differ, first at x=%d y=%d: read %s, expected %s"
                       % (what, len(bad), x, y, list(got[y, x]), list(expected[y, x])))


def expect_equal(got, expected, what, where=None):
    """Exact RGBA equality, over all pixels or those where `where` holds."""
    if where is None:
        where = np.ones(expected.shape[:2], bool)
    first_difference(got, expected, where, what)


def expect_unmatted(got, sample, what):
    """The merged image as a reader shows it after taking the white back out of its colours.

    Such readers divide by the alpha, so their rounding leaves the value they show within one
    step of the stored one: flattening what they show again must land within 1 of the
    expected merged value. Opaque and fully transparent pixels are shown as stored.
    """
    expected = sample.merged()
    alpha = expected[..., 3].astype(np.int64)
    expect_equal(got[..., 3:], expected[..., 3:], what + " alpha")
    edge = (alpha == 0) | (alpha == 255)
    expect_equal(got, expected, what + " at alpha 0 and 255", edge)
    soft = ~edge
    again = got[..., :3].astype(np.float64) * alpha[..., None] / 255 + 255 - alpha[..., None]
    off = np.abs(again - expected[..., :3]) > 1 + 1e-9
    bad = np.argwhere(soft & np.any(off, axis=-1))
    if bad.size:
        y, x = bad[0]
        raise Mismatch("%s: %d soft pixels do not flatten back, first at x=%d y=%d: read %s, "
                       "merged %s" % (what, len(bad), x, y, list(got[y, x]),
                                      list(expected[y, x])))


class Run:
    """Collects per-file results; the process fails if any file failed."""

    def __init__(self, reader):
        self.reader = reader
        self.failed = []
        self.passed = []
        self.notes = []

    def check(self, sample, fn):
        try:
            detail = fn()
        except Mismatch as e:
            self.failed.append(sample.name)
            print("FAIL %s: %s" % (sample.describe(), e))
        except Exception as e:  # a reader that throws has rejected the file
            self.failed.append(sample.name)
            print("FAIL %s: %s: %s" % (sample.describe(), type(e).__name__, e))
        else:
            self.passed.append(sample)
            print("pass %s%s" % (sample.describe(), ": " + detail if detail else ""))

    def note(self, text):
        self.notes.append(text)
        print("note: " + text)

    def finish(self):
        odd = sum(1 for s in self.passed if s.info_parity == "odd")
        print("%s: %d files passed (%d with an odd layer info length), %d failed"
              % (self.reader, len(self.passed), odd, len(self.failed)))
        if self.passed and odd == 0:
            print("FAIL: no file with an odd layer info length was read")
            self.failed.append("(odd layer info)")
        if not self.passed and not self.failed:
            print("FAIL: no files")
            self.failed.append("(none)")
        sys.exit(1 if self.failed else 0)


class LayeredLayer:
    def __init__(self, document, number, entry):
        self.document = document
        self.number = number
        self.name = entry["name"]
        self.left = entry["left"]
        self.top = entry["top"]
        self.width = entry["width"]
        self.height = entry["height"]

    def pixels(self):
        """The layer's own pixels as straight R, G, B, A."""
        data = np.fromfile(self.document.path(".%d.rgba" % self.number), np.uint8)
        return data.reshape(self.height, self.width, 4)


class LayeredSample:
    """A PSD with a layer per region: every layer must be read with its name, at its place."""

    info_parity = "even"  # the layered writer keeps the layer info length even

    def __init__(self, folder, entry):
        self.folder = folder
        self.name = "layered/" + entry["name"]
        self.width = entry["width"]
        self.height = entry["height"]
        self.layers = [LayeredLayer(self, i, e) for i, e in enumerate(entry["layers"])]

    def path(self, suffix):
        return os.path.join(self.folder, os.path.basename(self.name) + suffix)

    @property
    def psd(self):
        return self.path(".psd")

    def merged(self):
        data = np.fromfile(self.path(".merged.rgba"), np.uint8)
        return data.reshape(self.height, self.width, 4)

    def placed(self):
        """The layers drawn at their places, bottom to top, on a transparent picture, for
        documents whose layers do not overlap."""
        picture = np.zeros((self.height, self.width, 4), np.uint8)
        for layer in self.layers:
            picture[layer.top:layer.top + layer.height, layer.left:layer.left + layer.width] = \
                layer.pixels()
        return picture

    def overlapping(self):
        boxes = [(l.left, l.top, l.left + l.width, l.top + l.height) for l in self.layers]
        return any(a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]
                   for i, a in enumerate(boxes) for b in boxes[i + 1:])

    def describe(self):
        return "%s (%d layers)" % (self.name, len(self.layers))


def load_layered(folder):
    folder = os.path.join(folder, "layered")
    with open(os.path.join(folder, "manifest.json")) as f:
        return [LayeredSample(folder, entry) for entry in json.load(f)]


def expect_layer_pixels(got, layer, what):
    expected = layer.pixels()
    data = np.asarray(got)
    if data.size != expected.size:
        raise Mismatch("%s: %d bytes where %d x %d RGBA pixels were expected"
                       % (what, data.size, layer.width, layer.height))
    expect_equal(data.reshape(expected.shape), expected, what)
