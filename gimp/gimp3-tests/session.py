"""Run inside GIMP 3 by check_plugin3.py (Python batch interpreter, WORK set before): the cases of
check_plugin.py through GIMP's own file calls, their results written to WORK/results.json in the
form check_plugin.py's checks read, raw pixels beside it."""
import json
import os
import time

from gi.repository import Gegl, Gimp, Gio

from check_plugin import (EDITED_REGION, FLAT_AT, FLAT_CLEARED, FLAT_SOFT, FRESH_LAYERS, PICTURES,
                          REFUSALS)

pdb = Gimp.get_pdb()
found = {}
messages = []  # every refusal GIMP gave, for the checks that look for a reason


def note(label, *values):
    found.setdefault(label, []).append(list(values))


def at(name):
    return Gio.File.new_for_path(os.path.join(WORK, name))  # noqa: F821 (set by the batch command)


def refused():
    messages.append(pdb.get_last_error())
    return "refused"


def load(name):
    return Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, at(name))


def save(image, name):
    return "done" if Gimp.file_save(Gimp.RunMode.NONINTERACTIVE, image, at(name), None) else refused()


def named(image, name):
    return next(layer for layer in image.get_layers() if layer.get_name() == name)


def dump(drawable, name):
    """A drawable's own pixels (without its mask) as raw bytes, and its facts."""
    width, height = drawable.get_width(), drawable.get_height()
    pixel_format = "R'G'B'A u8" if drawable.has_alpha() else "R'G'B' u8"
    with open(os.path.join(WORK, name), "wb") as f:  # noqa: F821
        f.write(drawable.get_buffer().get(Gegl.Rectangle.new(0, 0, width, height), 1.0, pixel_format,
                                          Gegl.AbyssPolicy.NONE))
    _, left, top = drawable.get_offsets()
    return [drawable.get_name(), [left, top], width, height, 4 if drawable.has_alpha() else 3,
            drawable.get_mask() is not None]


def edit(image):
    layer = named(image, "region %03d" % EDITED_REGION)
    layer.set_visible(False)
    image.select_item(Gimp.ChannelOps.REPLACE, layer)
    layer.invert(False)
    Gimp.Selection.none(image)


def thumbnail(name, size):
    procedure = pdb.lookup_procedure("file-g00-load-thumb")
    config = procedure.create_config()
    config.set_property("file", at(name))
    config.set_property("thumb-size", size)
    started = time.monotonic()
    result = procedure.run(config)
    took = time.monotonic() - started
    if result.index(0) != Gimp.PDBStatusType.SUCCESS:
        return refused(), took
    image = result.index(1)
    got = [image.get_id(), result.index(2), result.index(3)]
    image.delete()
    return got, took


for name, _ in PICTURES:
    image = load(name + ".g00")
    for i, layer in enumerate(reversed(image.get_layers())):
        note("layer", name, dump(layer, "open-%s.%d" % (name, i)))
    merged = image.duplicate()
    note("composite", name, dump(merged.merge_visible_layers(Gimp.MergeType.CLIP_TO_IMAGE),
                                 "open-%s.composite" % name))
    note("parasites", name, image.get_parasite_list())
    merged.delete()
    image.delete()
note("cut", "done" if load("cut.g00") else refused())
got, _ = thumbnail("stack.g00", 64)
note("thumbnail", got)
got, took = thumbnail("bomb.g00", 64)
note("bomb", got)
note("bomb-seconds", took)

image = load("stack.g00")
edit(image)
note("edit", save(image, "edited.g00"))
image.delete()
image = load("stack.g00")
edit(image)
named(image, "region 002").resize_to_image_size()
Gimp.file_save(Gimp.RunMode.NONINTERACTIVE, image, at("stack.xcf"), None)
image.delete()
image = load("stack.xcf")
note("xcf-parasites", image.get_parasite_list())
note("xcf", save(image, "xcf.g00"))
image.delete()

for i, (_, spoil, _) in enumerate(REFUSALS):
    image = load("stack.g00")
    exec(spoil, {"Gimp": Gimp, "image": image, "layer": lambda name: named(image, name)})
    note("refuse-%d" % i, save(image, "older.g00"))
    image.delete()

image = Gimp.Image.new(160, 120, Gimp.ImageBaseType.RGB)
for region, left, top in FRESH_LAYERS:
    layer = Gimp.file_load_layer(Gimp.RunMode.NONINTERACTIVE, image, at("regions/stack_%03d.png" % region))
    image.insert_layer(layer, None, 0)
    layer.set_offsets(left, top)
note("fresh", save(image, "fresh.g00"))
image.delete()
image = load("png/photo.png")
note("opaque", save(image, "opaque.g00"))
image.delete()

def over_photo(picture):
    image = load("photo.g00")
    layer = Gimp.file_load_layer(Gimp.RunMode.NONINTERACTIVE, image, at(picture))
    image.insert_layer(layer, None, 0)
    return image, layer


image, layer = over_photo("png/photo.png")
layer.set_offsets(*FLAT_AT)
layer.add_alpha()
image.select_rectangle(Gimp.ChannelOps.REPLACE, *FLAT_CLEARED)
layer.edit_clear()
Gimp.Selection.none(image)
note("flat", save(image, "flat.g00"))
image.delete()
image, _ = over_photo(FLAT_SOFT)
note("soft", save(image, "soft.g00"))
image.delete()

with open(os.path.join(WORK, "results.json"), "w") as f:  # noqa: F821
    json.dump({"found": found, "messages": messages}, f)
