"""psd-tools opens every PSD: one pixel layer at the origin with the four channels, its stored
channel data exact, and the stored merged image exact; and every PSD with a layer per region:
each layer with its name, at its place, with its pixels, in the order written."""

import logging
import sys

import numpy as np
from psd_tools import PSDImage
from psd_tools.constants import ChannelID

import samples


class Warnings(logging.Handler):
    def __init__(self):
        super().__init__(logging.WARNING)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def check(sample, warnings):
    warnings.messages.clear()
    psd = PSDImage.open(sample.psd)
    if psd.size != (sample.width, sample.height) or psd.depth != 8 or psd.channels != 4:
        raise samples.Mismatch("document %s, depth %d, %d channels"
                               % (psd.size, psd.depth, psd.channels))
    layers = list(psd)
    if len(layers) != 1:
        raise samples.Mismatch("%d layers" % len(layers))
    layer = layers[0]
    if layer.kind != "pixel" or layer.offset != (0, 0) or layer.size != psd.size:
        raise samples.Mismatch("layer %s at %s, size %s" % (layer.kind, layer.offset, layer.size))

    info = psd._record.layer_and_mask_information.layer_info
    ids = [int(c.id) for c in info.layer_records[0].channel_info]
    if ids != [ChannelID.TRANSPARENCY_MASK, 0, 1, 2]:
        raise samples.Mismatch("layer channels %s" % ids)
    planes = {i: np.frombuffer(data.get_data(sample.width, sample.height, 8), np.uint8)
              for i, data in zip(ids, info.channel_image_data[0])}
    stored = np.stack([planes[0], planes[1], planes[2], planes[-1]], axis=-1)
    samples.expect_equal(samples.as_pixels(stored, sample, "channels"), sample.layer(),
                         "layer channel data")
    samples.expect_equal(samples.as_pixels(np.asarray(layer.topil().convert("RGBA")), sample,
                                           "layer image"),
                         sample.layer(), "layer image")

    merged = psd._record.image_data.get_data(psd._record.header)
    merged = np.stack([np.frombuffer(p, np.uint8) for p in merged], axis=-1)
    samples.expect_equal(samples.as_pixels(merged, sample, "merged data"), sample.merged(),
                         "merged data")
    # topil takes the white back out of the merged colours.
    shown = samples.as_pixels(np.asarray(psd.topil()), sample, "merged image")
    samples.expect_unmatted(shown, sample, "merged image as shown")
    # psd-tools looks for the global layer mask information only when 17 bytes or more follow
    # the layer info, and otherwise takes its zero length for a block signature and warns.
    tail = sample.psd_size - (42 + sample.layer_info_length)
    known = "Invalid signature (b'\\x00\\x00\\x00\\x00')"
    unexpected = [m for m in warnings.messages if not (tail < 17 and m == known)]
    if unexpected:
        raise samples.Mismatch("warned: " + "; ".join(unexpected))
    return "; ".join("known warning: " + m for m in warnings.messages)


def check_layered(sample, warnings):
    warnings.messages.clear()
    psd = PSDImage.open(sample.psd)
    if psd.size != (sample.width, sample.height) or psd.channels != 4:
        raise samples.Mismatch("document %s, %d channels" % (psd.size, psd.channels))
    layers = list(psd)
    if len(layers) != len(sample.layers):
        raise samples.Mismatch("%d layers, expected %d" % (len(layers), len(sample.layers)))
    for got, layer in zip(layers, sample.layers):
        if (got.name, got.offset, got.size) != (layer.name, (layer.left, layer.top),
                                                (layer.width, layer.height)):
            raise samples.Mismatch("layer %r at %s, size %s; expected %r at %s, size %s" % (
                got.name, got.offset, got.size, layer.name, (layer.left, layer.top),
                (layer.width, layer.height)))
        samples.expect_layer_pixels(got.topil().convert("RGBA"), layer, layer.name)
    merged = psd._record.image_data.get_data(psd._record.header)
    merged = np.stack([np.frombuffer(p, np.uint8) for p in merged], axis=-1)
    samples.expect_equal(merged.reshape(sample.height, sample.width, 4), sample.merged(),
                         "merged data")
    if warnings.messages:
        raise samples.Mismatch("warned: " + "; ".join(warnings.messages))
    return ""


def main():
    warnings = Warnings()
    logging.getLogger("psd_tools").addHandler(warnings)
    logging.getLogger("psd_tools").propagate = False
    run = samples.Run("psd-tools")
    for sample in samples.load(sys.argv[1]):
        run.check(sample, lambda: check(sample, warnings))
    for sample in samples.load_layered(sys.argv[1]):
        run.check(sample, lambda: check_layered(sample, warnings))
    run.finish()


if __name__ == "__main__":
    main()
