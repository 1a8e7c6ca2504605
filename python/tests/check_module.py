#!/usr/bin/python3
"""The Python module and its Pillow plug-in (the Pillow of the Python running it) against the
converter, the packer and the reference decompressor: the module's calls agree with --info
--json and with each other; Image.open decodes nothing; every test picture opens as the
converter's PNG, frame k as region k - 1's --regions file; saved, it is the packer's file; a
region frame saved like the original changes that region's data alone; limits, junk, cut and
damaged files go as with Pillow's PNG plug-in.

usage: check_module.py --cli CLI --pack PACK --make G00MAKE --data G00DATA --samples DIR
       (python/ on PYTHONPATH, libtavimore.so.1 where the dynamic linker finds it)
"""
import argparse
import glob
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings

import PIL
from PIL import Image, ImageChops

import tavimore
import tavimore.pillow  # noqa: F401  (registers G00)

MADE = [  # name, g00-make arguments
    ("expressions", ["--expressions", "3", "--size", "160x120", "--seed", "4"]),
    ("grid", ["--kind", "sprite", "--size", "150x110", "--region-size", "64"]),
    ("empties", ["--kind", "sprite", "--size", "200x100", "--region-size", "32"]),
    ("lines", ["--kind", "lineart", "--size", "90x70", "--type", "2"]),
    ("photo", ["--kind", "photo", "--size", "90x60"]),
]
HIDDEN = 1  # expressions.g00: region 1 lies under region 2

decodes = []  # the library's decoding calls, by name


def count_decodes():
    for name in ("tavimore_decode_limited", "tavimore_decode_layers", "tavimore_draw_region"):
        call = getattr(tavimore._library, name)
        setattr(tavimore._library, name, lambda *a, call=call, name=name: decodes.append(name) or call(*a))


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def read(path):
    with open(path, "rb") as f:
        return f.read()


def edited(im):
    """Colours inverted in the left half, alpha kept."""
    out = im.copy()
    half = (0, 0, im.width // 2, im.height)
    inverted = ImageChops.invert(out.crop(half).convert("RGB"))
    if im.mode == "RGBA":
        inverted = Image.merge("RGBA", (*inverted.split(), out.crop(half).getchannel("A")))
    out.paste(inverted, half[:2])
    return out


def main():
    parser = argparse.ArgumentParser()
    for option in ("cli", "pack", "make", "data", "samples"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    count_decodes()
    work = tempfile.mkdtemp()
    try:
        for name, making in MADE:
            run(args.make, *making, os.path.join(work, name + ".g00"))
        for sample in glob.glob(os.path.join(args.samples, "*.g00")):
            shutil.copy(sample, work)
        pictures = sorted(glob.glob(os.path.join(work, "*.g00")))
        run(args.cli, "-q", "--png", "-o", os.path.join(work, "png"), *pictures)
        run(args.cli, "-q", "--png", "--regions", "-o", os.path.join(work, "regions"), *pictures)
        described = json.loads(run(args.cli, "--info", "--json", *pictures))
        for path, info in zip(pictures, described):
            name = os.path.basename(path)[:-4]
            check_calls(read(path), name, info)
            check_open(work, path, name, info)
            check_save(args, work, path, name)
        check_refusals(work)
        check_region_save(args, work)
        check_regions(os.path.join(work, "expressions.g00"))
        print(f"module and Pillow {PIL.__version__}: {len(pictures)} pictures open as the converter's "
              "PNG and save as the packer's; refusals and limits as for PNG")
    finally:
        shutil.rmtree(work)


def check_calls(data, name, info):
    fields = tavimore.describe(data)
    if {key: info[key] for key in fields} != fields:
        fail(f"{name}: tavimore.describe differs from --info --json: {fields}")
    header = tavimore.read_header(data)
    if header.status or header[1:] != (info["type"], info["width"], info["height"], info["region_count"] or 0,
                                       info["compressed_length"], info["decompressed_length"]):
        fail(f"{name}: read_header gives {header}")
    layers = tavimore.decode_layers(data)
    alone = [(layer.region, *tavimore.draw_region(data, layer.region), tavimore.region_mask(data, layer.region)[0])
             for layer in layers.layers]
    if layers.picture != tavimore.decode(data) or [(l.region, l.rgba, l.box, l.mask) for l in layers.layers] != \
            [(r, p.rgba, box, mask) for r, p, box, mask in alone] or len(alone) != len(drawn(info)):
        fail(f"{name}: decode_layers is not decode, draw_region and region_mask")
    packed = tavimore.pack(layers.picture)
    if not info["region_count"] and (tavimore.read_header(packed).type, tavimore.decode(packed)) != (0, layers.picture):
        fail(f"{name}: the decoded full frame does not pack back to a full frame")


def drawn(info):
    """The regions that draw a pixel, and their boxes."""
    return {e["index"]: tuple(e["box"].values()) for e in info["entries"]
            if e["box"] and e["index"] < (info["region_count"] or 0)}


def check_open(work, path, name, info):
    im = opened(path)
    before = len(decodes)
    want = Image.open(os.path.join(work, "png", name + ".png"))
    if im.mode != want.mode or im.tobytes() != want.tobytes():
        fail(f"{name}: {im.mode} {im.size} differs from the converter's {want.mode} {want.size}")
    regions, boxes = info["region_count"] or 0, drawn(info)
    if (im.n_frames, im.is_animated) != (1 + regions, regions > 0):
        fail(f"{name}: {im.n_frames} frames, animated {im.is_animated}; --info gives {regions} regions")
    for frame in range(1, im.n_frames):
        im.seek(frame)
        alone = Image.new("RGBA", im.size, (0, 0, 0, 0))
        box = boxes.get(frame - 1)
        if box:
            alone.paste(Image.open(os.path.join(work, "regions", f"{name}_{frame - 1:03d}.png")), box[:2])
        pixels = im.tobytes()
        if (im.tell(), im.info["region"], im.info["box"]) != (frame, frame - 1, box) or pixels != alone.tobytes():
            fail(f"{name}: frame {frame} is not region {frame - 1:03d} drawn alone at {box}")
    im.seek(0)
    if im.tobytes() != want.tobytes() or len(decodes) - before > 2:
        fail(f"{name}: frame 0 again is not the picture, or {decodes[before:]} for the frames")


def check_save(args, work, path, name):
    picture = edited(Image.open(path))
    png = os.path.join(work, name + "-edited.png")
    picture.save(png)
    for like, folder in ((path, "like"), (None, "fresh")):
        options = {"like": like} if like else {}
        picture.save(os.path.join(work, f"{name}-{folder}.g00"), **options)
        run(args.pack, "-q", *(["--like", like] if like else []), "-o", os.path.join(work, folder), png)
        if read(os.path.join(work, f"{name}-{folder}.g00")) != read(os.path.join(work, folder, name + "-edited.g00")):
            fail(f"{name}: saved {folder}, the file is not tavimore-pack's")


def opened(source):
    """Image.open, which must decode nothing."""
    before = len(decodes)
    try:
        return Image.open(source)
    finally:
        if len(decodes) != before:
            fail(f"Image.open({source}) decoded: {decodes[before:]}")


def outcome(content):
    """What Pillow does with a file: Image.open's exception, load()'s, or the warnings and pixels."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            im = opened(io.BytesIO(content))
        except Exception as error:  # its type is what is compared
            return "open: " + type(error).__name__
        try:
            im.load()
        except OSError as error:
            return "load: " + str(error)
        return [w.category.__name__ for w in caught], im.convert("RGBA").tobytes()


def check_refusals(work):
    data = read(os.path.join(work, "expressions.g00"))
    png = read(os.path.join(work, "png", "expressions.png"))
    junk = b"\x02" + random.Random(2).randbytes(104)
    bomb = bytes([0]) + struct.pack("<HHII", 30000, 30000, 8, 0)
    damaged = data[:200] + bytes(b ^ 0xFF for b in data[200:260]) + data[260:]
    for name, content, want in [
            ("junk", junk, "open: UnidentifiedImageError"), ("cut in its regions", data[:40], "open: Unidentified"),
            ("a 30000 x 30000 header", bomb, "open: DecompressionBombError"),
            ("cut", data[:len(data) // 2], "load: the file is cut short"),
            ("damaged", damaged, "load: the compressed data is damaged"),
            ("a cut PNG, as the cut G00 file", png[:len(png) // 2], "load: ")]:
        if not isinstance(outcome(content), str) or not outcome(content).startswith(want):
            fail(f"{name}: Pillow gives {outcome(content)!r}, not {want!r}")
    pixels, default = 160 * 120, Image.MAX_IMAGE_PIXELS
    try:  # no warning, a warning, an error, no limit
        for Image.MAX_IMAGE_PIXELS in (pixels, pixels - 1, pixels // 2 - 1, None):
            if outcome(data) != outcome(png):
                fail(f"MAX_IMAGE_PIXELS {Image.MAX_IMAGE_PIXELS}: {str(outcome(data))[:40]}, PNG {str(outcome(png))[:40]}")
    finally:
        Image.MAX_IMAGE_PIXELS = default
    accepted = [tavimore.pillow._accept(prefix) for prefix in (data[:16], b"\x01" + data[1:16], b"\x03" + data[1:16],
                                                                data[:1] + bytes(2) + data[3:16])]
    if accepted != [True, False, False, False]:
        fail(f"Pillow's first look: {accepted} for a region file, types 1 and 3, no width")


def raised(call):
    try:
        call()
    except OSError as error:
        return error
    return None


def data_of(args, work, content):
    path = os.path.join(work, "data.g00")
    with open(path, "wb") as f:
        f.write(content)
    run(args.data, path, path + ".data")
    return read(path + ".data")


def check_region_save(args, work):
    """Region HIDDEN edited through its frame: only its block of the decompressed data changes;
    with the last region edited too, saving every frame at once is saving the two in turn."""
    path = os.path.join(work, "expressions.g00")
    original = read(path)
    im = Image.open(path)
    frames = [im.copy() for k in range(im.n_frames) if im.seek(k) is None]
    saved = [original]
    for frame in frames[1 + HIDDEN], frames[-1]:
        face = ImageChops.invert(frame.convert("RGB")).convert("RGBA")
        frame.paste(face, mask=frame.getchannel("A"))
        one = io.BytesIO()
        frame.save(one, "G00", like=saved[-1])
        saved.append(one.getvalue())
    every = io.BytesIO()
    frames[0].save(every, "G00", like=path, save_all=True, append_images=frames[1:])
    entry = tavimore.describe(original)["entries"][HIDDEN]
    start, end = entry["block_offset"], entry["block_offset"] + entry["block_length"]
    old, new = data_of(args, work, original), data_of(args, work, saved[1])
    if old[:start] != new[:start] or old[end:] != new[end:] or old[start:end] == new[start:end]:
        fail(f"region {HIDDEN:03d} saved through its frame: other bytes of the data changed, or none of its own")
    if every.getvalue() != saved[-1]:
        fail("two frames edited and saved at once are not the two saved in turn")
    im, fresh = Image.open(os.path.join(work, "empties.g00")), io.BytesIO()
    im.save(fresh, "G00", save_all=True)
    again = Image.open(fresh)
    if again.n_frames != im.n_frames or any(again.seek(k) or im.seek(k) or again.tobytes() != im.tobytes()
                                            for k in range(1, im.n_frames)):
        fail("empties: its frames saved at once in a fresh file are not its frames again")


def check_regions(path):
    original = read(path)
    face, box = tavimore.draw_region(original, 1)
    painted = bytes(255 - b if i % 4 != 3 and face.rgba[i | 3] else b for i, b in enumerate(face.rgba))
    packed = tavimore.pack(regions={1: (box.left, box.top, face._replace(rgba=painted))}, like=original)
    for region in range(4):
        want = painted if region == 1 else tavimore.draw_region(original, region)[0].rgba
        if tavimore.draw_region(packed, region)[0].rgba != want:
            fail(f"packed by region, region {region} drawn alone is not what was given")
    errors = [(lambda: tavimore.decode(original[:100]), "the file is cut short"),
              (lambda: tavimore.pack(regions={1: (0, 0, face._replace(rgba=b"\xff" * len(painted)))},
                                     like=original), "pixels of region 001 lie outside its parts"),
              (lambda: tavimore.pack(regions={9: (0, 0, face)}, like=original), "region 009 names a region")]
    for call, reason in errors:
        error = raised(call)
        if not isinstance(error, tavimore.Error) or reason not in str(error):
            fail(f"tavimore.Error says {error}, not {reason!r}")


if __name__ == "__main__":
    main()
