#!/usr/bin/python3
"""The Python module and its Pillow plug-in, with Debian's Pillow, against the converter and the
packer:

  tavimore.describe gives the fields of --info --json; every test picture opens as the
  converter's PNG (mode and pixels), its regions and their boxes
  as --info --json gives them, each frame after the first the region's --regions file at its box;
  an edited picture saved like the original is tavimore-pack --like's file byte for byte, and one
  saved fresh is tavimore-pack's; a region edited through tavimore.pack(regions=...) comes back
  drawn alone as edited, the others unchanged; failures raise tavimore.Error with the reason.

usage: check_module.py --cli CLI --pack PACK --make G00MAKE --samples DIR   (python/ on PYTHONPATH,
       libtavimore.so.1 where the dynamic linker finds it)
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

import tavimore
import tavimore.pillow  # noqa: F401  (registers G00)

MADE = [  # name, g00-make arguments
    ("expressions", ["--expressions", "3", "--size", "160x120", "--seed", "4"]),
    ("grid", ["--kind", "sprite", "--size", "150x110", "--region-size", "64"]),
    ("lines", ["--kind", "lineart", "--size", "90x70", "--type", "2"]),
    ("photo", ["--kind", "photo", "--size", "90x60"]),
]


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


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
    for option in ("cli", "pack", "make", "samples"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
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
            check_open(work, path, name, info)
            check_save(args, work, path, name)
        check_regions(os.path.join(work, "expressions.g00"))
        print(f"module: {len(pictures)} pictures open as the converter's PNG and save as the packer's")
    finally:
        shutil.rmtree(work)


def check_open(work, path, name, info):
    with open(path, "rb") as f:
        fields = tavimore.describe(f.read())
    if {key: info[key] for key in fields} != fields:
        fail(f"{name}: tavimore.describe differs from --info --json: {fields}")
    im = Image.open(path)
    want = Image.open(os.path.join(work, "png", name + ".png"))
    if im.mode != want.mode or im.tobytes() != want.tobytes():
        fail(f"{name}: {im.mode} {im.size} differs from the converter's {want.mode} {want.size}")
    boxes = [(e["index"], tuple(e["box"].values())) for e in info["entries"]
             if e["box"] and (info["region_count"] or 0) > e["index"]]
    if [(r["region"], r["box"]) for r in im.info["regions"]] != boxes or im.n_frames != 1 + len(boxes):
        fail(f"{name}: regions {im.info['regions']}, {im.n_frames} frames; --info gives {boxes}")
    for frame, (region, box) in enumerate(boxes, 1):
        im.seek(frame)
        alone = Image.new("RGBA", im.size, (0, 0, 0, 0))
        alone.paste(Image.open(os.path.join(work, "regions", f"{name}_{region:03d}.png")), box[:2])
        if (im.info["region"], im.info["box"]) != (region, box) or im.tobytes() != alone.tobytes():
            fail(f"{name}: frame {frame} is not region {region:03d} drawn alone at {box}")


def check_save(args, work, path, name):
    picture = edited(Image.open(path))
    png = os.path.join(work, name + "-edited.png")
    picture.save(png)
    for like, folder in ((path, "like"), (None, "fresh")):
        options = {"like": like} if like else {}
        picture.save(os.path.join(work, f"{name}-{folder}.g00"), **options)
        run(args.pack, "-q", *(["--like", like] if like else []), "-o", os.path.join(work, folder), png)
        with open(os.path.join(work, f"{name}-{folder}.g00"), "rb") as ours, \
                open(os.path.join(work, folder, name + "-edited.g00"), "rb") as packers:
            if ours.read() != packers.read():
                fail(f"{name}: saved {folder}, the file is not tavimore-pack's")


def check_regions(path):
    with open(path, "rb") as f:
        original = f.read()
    face, box = tavimore.draw_region(original, 1)
    painted = bytes(255 - b if i % 4 != 3 and face.rgba[i | 3] else b for i, b in enumerate(face.rgba))
    packed = tavimore.pack(regions={1: (box.left, box.top, face._replace(rgba=painted))}, like=original)
    for region in range(4):
        want = painted if region == 1 else tavimore.draw_region(original, region)[0].rgba
        if tavimore.draw_region(packed, region)[0].rgba != want:
            fail(f"packed by region, region {region} drawn alone is not what was given")
    errors = [(lambda: tavimore.decode(original[:100]), "the file is cut short"),
              (lambda: tavimore.pack(regions={1: (0, 0, face._replace(rgba=b"\xff" * len(painted)))},
                                     like=original), "pixels of region 001 lie outside its parts")]
    for call, reason in errors:
        try:
            call()
            fail(f"no tavimore.Error for {reason!r}")
        except tavimore.Error as error:
            if reason not in str(error):
                fail(f"tavimore.Error says {error}, not {reason!r}")


if __name__ == "__main__":
    main()
