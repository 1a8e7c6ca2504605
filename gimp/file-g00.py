#!/usr/bin/env python3
"""GIMP 3's G00 file plug-in: a region-based picture opens as a layer per region, masked where a
later region replaces it, and goes back like the original, each region from its own layer. The
file's bytes ride along in a persistent parasite, so an XCF saved days earlier still exports like
the game's own file. It does what file-g00.c does for GIMP 2.10.

It is Python, not C: GIMP 3 brings Python 3 with GObject introspection on Windows and Linux
alike, so this one file runs on both over the library through the tavimore module (ctypes),
which lies beside it, as does the library on Windows (tavimore.dll). A C plug-in would have to
link GIMP's own DLLs, built for each GIMP release.
"""
import array
import os
import sys

import gi

gi.require_version("Gimp", "3.0")
gi.require_version("Gegl", "0.4")
from gi.repository import Gegl, Gimp, GLib, GObject  # noqa: E402

import tavimore  # noqa: E402

LOAD_PROC = "file-g00-load"
THUMB_PROC = "file-g00-load-thumb"
EXPORT_PROC = "file-g00-export"
ORIGINAL_PARASITE = "tavimore-g00-original"
PIXELS = "R'G'B'A u8"
AUTHOR, DATE = "Tavimore Works", "2026"


class Refusal(Exception):
    """Why the image cannot be written, in words for GIMP's message."""


def failed(procedure, message):
    return procedure.new_return_values(Gimp.PDBStatusType.EXECUTION_ERROR, GLib.Error(message))


def succeeded(*values):
    return Gimp.ValueArray.new_from_values(
        [GObject.Value(Gimp.PDBStatusType, Gimp.PDBStatusType.SUCCESS)] + list(values))


def read_file(file):
    with open(file.get_path(), "rb") as f:
        return f.read()


def put_pixels(drawable, pixels, pixel_format=PIXELS):
    buffer = drawable.get_buffer()
    buffer.set(Gegl.Rectangle.new(0, 0, drawable.get_width(), drawable.get_height()), pixel_format,
               pixels)
    buffer.flush()


def add_layer(image, name, width, height, rgba, kind, left=0, top=0):
    layer = Gimp.Layer.new(image, name, width, height, kind, 100.0, Gimp.LayerMode.NORMAL)
    image.insert_layer(layer, None, 0)
    layer.set_offsets(left, top)
    put_pixels(layer, rgba)
    return layer


def new_image(width, height):
    return Gimp.Image.new_with_precision(width, height, Gimp.ImageBaseType.RGB,
                                         Gimp.Precision.U8_NON_LINEAR)


# Parasite data crosses introspection as signed chars.
def parasite_of(data):
    return Gimp.Parasite.new(ORIGINAL_PARASITE, Gimp.PARASITE_PERSISTENT,
                             memoryview(data).cast("b"))


def parasite_bytes(parasite):
    return array.array("b", parasite.get_data()).tobytes()


def load(procedure, run_mode, file, metadata, flags, config, data):
    """One decode gives the picture and every region's layer and mask."""
    try:
        data = read_file(file)
        Gimp.progress_init("Opening '%s'" % file.get_parse_name())
        decoded = tavimore.decode_layers(data)
    except OSError as error:
        return failed(procedure, str(error)), flags
    picture = decoded.picture
    image = new_image(picture.width, picture.height)
    if picture.region_count == 0:
        add_layer(image, "Background", picture.width, picture.height, picture.rgba,
                  Gimp.ImageType.RGB_IMAGE)
    elif not decoded.layers:  # regions that draw nothing: a transparent picture
        add_layer(image, "Background", picture.width, picture.height, picture.rgba,
                  Gimp.ImageType.RGBA_IMAGE)
    for i, region in enumerate(decoded.layers):
        box = region.box
        layer = add_layer(image, "region %03d" % region.region, box.width, box.height, region.rgba,
                          Gimp.ImageType.RGBA_IMAGE, box.left, box.top)
        if b"\0" in region.mask:  # a layer nothing covers gets no mask
            mask = layer.create_mask(Gimp.AddMaskType.WHITE)
            layer.add_mask(mask)
            put_pixels(mask, region.mask, "Y' u8")
        Gimp.progress_update((i + 1) / len(decoded.layers))
    image.attach_parasite(parasite_of(data))
    Gimp.progress_end()
    return succeeded(GObject.Value(Gimp.Image, image)), flags


def thumbnail(procedure, file, size, config, data):
    """The whole picture, no larger than size on its longer side. The header is read first, so
    that a file whose size fields exceed the limits is refused before any decoding."""
    try:
        data = read_file(file)
        header = tavimore.read_header(data)
        if header.status != tavimore.Status.OK:
            return failed(procedure, header.reason)
        picture = tavimore.decode(data)
    except OSError as error:
        return failed(procedure, str(error))
    kind = Gimp.ImageType.RGBA_IMAGE if picture.region_count else Gimp.ImageType.RGB_IMAGE
    image = new_image(picture.width, picture.height)
    add_layer(image, "Background", picture.width, picture.height, picture.rgba, kind)
    if size > 0 and max(picture.width, picture.height) > size:
        scale = size / max(picture.width, picture.height)
        image.scale(max(1, round(picture.width * scale)), max(1, round(picture.height * scale)))
    return succeeded(GObject.Value(Gimp.Image, image),
                     GObject.Value(GObject.TYPE_INT, picture.width),
                     GObject.Value(GObject.TYPE_INT, picture.height),
                     GObject.Value(Gimp.ImageType, kind),
                     # Which regions draw a pixel, and so become layers, takes more than a decode.
                     GObject.Value(GObject.TYPE_INT, 0 if picture.region_count else 1))


def exportable(layer):
    """What every layer must be for its pixels to go into the file as GIMP shows them."""
    name = layer.get_name()
    if layer.is_group():
        raise Refusal("layer '%s' is a layer group: merge it into one layer" % name)
    if layer.get_opacity() < 100.0:
        raise Refusal("layer '%s' has an opacity of %.1f%%: set it to 100%%, since the game shows "
                      "its pixels as they are" % (name, layer.get_opacity()))
    if layer.get_mode() not in (Gimp.LayerMode.NORMAL, Gimp.LayerMode.NORMAL_LEGACY):
        raise Refusal("layer '%s' is not in the normal mode: set it to normal, since the game "
                      "shows its pixels as they are" % name)


class Layer:
    """A layer's name, place and pixels, RGBA of its own size."""

    def __init__(self, layer):
        exportable(layer)
        self.name = layer.get_name()
        _, self.left, self.top = layer.get_offsets()
        width, height = layer.get_width(), layer.get_height()
        rgba = layer.get_buffer().get(Gegl.Rectangle.new(0, 0, width, height), 1.0, PIXELS,
                                      Gegl.AbyssPolicy.NONE)
        self.picture = tavimore.Picture(width, height, rgba)


def region_number(name):
    """"region 007" gives 7."""
    digits = name[7:]
    if len(name) == 10 and name.startswith("region ") and digits.isascii() and digits.isdigit():
        return int(digits)
    raise Refusal("layer '%s' is not a region: merge it into the region layer it belongs to, or "
                  "remove it" % name)


_SHOWN = bytes([0] + [255] * 255)


def flattened(layers, width, height):
    """The layers on a transparent picture of the image's size, each replacing what lies below
    where it is not transparent, as file-g00.c does: one opaque layer gives itself."""
    canvas = 0
    size = width * height * 4
    for layer in layers:
        picture = layer.picture
        x0, x1 = max(0, layer.left), min(width, layer.left + picture.width)
        y0, y1 = max(0, layer.top), min(height, layer.top + picture.height)
        if x0 >= x1 or y0 >= y1:
            continue
        placed = bytearray(size)
        span = (x1 - x0) * 4
        for y in range(y0, y1):
            at = ((y - layer.top) * picture.width + x0 - layer.left) * 4
            to = (y * width + x0) * 4
            placed[to:to + span] = picture.rgba[at:at + span]
        # Whole-picture integers: a pixel's four bytes are taken where its alpha is not 0.
        shown = bytes(placed[3::4]).translate(_SHOWN)
        mask = bytearray(size)
        for channel in range(4):
            mask[channel::4] = shown
        mask = int.from_bytes(mask, "little")
        canvas = (canvas & ~mask) | (int.from_bytes(placed, "little") & mask)
    return tavimore.Picture(width, height, canvas.to_bytes(size, "little"))


def packed_like(original, layers, image):
    header = tavimore.read_header(original)
    if header.status != tavimore.Status.OK:
        raise Refusal("the original kept with the image: " + header.reason)
    if header.type == 0:
        picture = flattened(layers, image.get_width(), image.get_height())
        try:
            return tavimore.pack(picture, like=original)
        except tavimore.Error as error:
            if error.status == tavimore.Status.TRANSPARENCY_LOST:
                raise Refusal("the image %s: make it opaque" % error) from None
            raise
    regions = {region_number(layer.name): (layer.left, layer.top, layer.picture) for layer in layers}
    try:
        return tavimore.pack(regions=regions, like=original)
    except tavimore.Error as error:
        if error.region is None:
            raise
        # The module's "region 007" is the layer of that name.
        region = "region %03d" % error.region
        text = str(error).replace(region, "layer '%s'" % region, 1)
        if error.status == tavimore.Status.PIXELS_OUTSIDE:
            text += (", where the game shows nothing: make them transparent, or keep the layer "
                     "inside its parts")
        raise Refusal(text) from None


def packed_fresh(layers, image):
    """One layer that covers the image becomes a full-frame file when opaque; any other layers a
    region each, bottom to top."""
    width, height = image.get_width(), image.get_height()
    only = layers[0].picture
    if len(layers) == 1 and (layers[0].left, layers[0].top) == (0, 0) and \
            (only.width, only.height) == (width, height):
        return tavimore.pack(only)
    return tavimore.pack(regions=[(layer.left, layer.top, layer.picture) for layer in layers],
                         size=(width, height))


def write_whole(path, data):
    """Written under another name and renamed: a refusal or a failure leaves an older file as it
    was."""
    folder, name = os.path.split(path)
    temporary = os.path.join(folder, ".%s.%d.tmp" % (name, os.getpid()))
    try:
        with open(temporary, "wb") as f:
            f.write(data)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def export(procedure, run_mode, image, file, options, metadata, config, data):
    # GIMP's export copy has the layers' effects merged, their masks kept (they only show what the
    # game shows), and the original's parasite.
    exported, image = options.get_image(image)
    try:
        Gimp.progress_init("Exporting '%s'" % file.get_parse_name())
        stack = image.get_layers()[::-1]  # bottom first
        if not stack:
            raise Refusal("the image has no layer")
        layers = []
        for i, layer in enumerate(stack):
            layers.append(Layer(layer))
            Gimp.progress_update(0.5 * (i + 1) / len(stack))
        parasite = image.get_parasite(ORIGINAL_PARASITE)
        if parasite is not None:
            out = packed_like(parasite_bytes(parasite), layers, image)
        else:
            out = packed_fresh(layers, image)
        write_whole(file.get_path(), out)
    except (Refusal, OSError) as error:
        return failed(procedure, str(error))
    finally:
        Gimp.progress_end()
        if exported == Gimp.ExportReturn.EXPORT:
            image.delete()
    return succeeded()


class G00(Gimp.PlugIn):
    def do_set_i18n(self, name):
        return False

    def do_query_procedures(self):
        return [THUMB_PROC, LOAD_PROC, EXPORT_PROC]  # the load procedure names the thumbnail's

    def do_create_procedure(self, name):
        if name == LOAD_PROC:
            procedure = Gimp.LoadProcedure.new(self, name, Gimp.PDBProcType.PLUGIN, load, None)
            procedure.set_documentation(
                "Loads G00 images",
                "Region-based pictures open with a layer per region, masked where a later region "
                "replaces it; the file's bytes stay with the image for exporting like the original.",
                name)
            procedure.set_thumbnail_loader(THUMB_PROC)
        elif name == THUMB_PROC:
            procedure = Gimp.ThumbnailProcedure.new(self, name, Gimp.PDBProcType.PLUGIN, thumbnail,
                                                    None)
            procedure.set_documentation("Loads a preview of a G00 image", "The whole picture, scaled.",
                                        name)
        else:
            procedure = Gimp.ExportProcedure.new(self, name, Gimp.PDBProcType.PLUGIN, False, export,
                                                 None)
            procedure.set_documentation(
                "Exports G00 images",
                "An image opened from a G00 file is written like it, each region from the layer "
                "named after it; any other image is written fresh, a region per layer, or "
                "full-frame from one opaque layer.",
                name)
            procedure.set_image_types("*")
            can = Gimp.ExportCapabilities
            procedure.set_capabilities(can.CAN_HANDLE_RGB | can.CAN_HANDLE_ALPHA | can.CAN_HANDLE_LAYERS
                                       | can.CAN_HANDLE_LAYER_MASKS, None, None)
        if name != THUMB_PROC:
            procedure.set_menu_label("G00 image")
            procedure.set_format_name("G00")
            procedure.set_mime_types("image/x-g00")
            procedure.set_extensions("g00")
        procedure.set_attribution(AUTHOR, AUTHOR, DATE)
        return procedure


Gimp.main(G00.__gtype__, sys.argv)
