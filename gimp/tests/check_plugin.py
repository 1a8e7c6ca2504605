#!/usr/bin/python3
"""GIMP 2.10's plug-in through GIMP itself: one gimp-console run in batch mode (Script-Fu), with a
profile of its own whose plug-in folder holds the plug-in (gimp3-tests/check_plugin3.py runs the
same cases, with these tables and checks, through GIMP 3):

  open    region-based pictures whose regions overlap with soft edges open as a layer per region
          that draws a pixel, named, placed and drawn as the converter's --regions PNG files, and
          GIMP's own composite of the layers, masks applied, is the decoded picture; a full-frame
          one opens as one RGB layer; a damaged file fails with the library's reason; the
          thumbnail procedure gives the picture's size, and refuses a file whose header claims
          more pixels than the limits allow
  edit    a layer hidden under others, made invisible and painted, then exported: the
          decompressed data differs from the original's only in that region's parts' pixels
  xcf     the same edit, a layer grown to the image's size, saved as XCF, opened again and
          exported: the same decompressed data
  refuse  a layer that is not a region or names none of the original's, an opacity below 100%,
          pixels outside the parts, a layer group: GIMP says why, and the older file stays as it
          was
  fresh   a new image of three overlapping layers exported: each region drawn alone is its
          layer; one opaque layer gives a full-frame file
  flat    a full-frame picture with a layer over it, partly cleared, exported like the original:
          each layer replaces what lies below where it is not transparent; a layer of soft
          edges is refused, the original having no transparency

With --screenshot, GIMP itself instead opens a sprite under Xvfb and the screen is saved there.

usage: check_plugin.py --plug-in FILE --cli CLI --make G00MAKE --data G00DATA [--screenshot PNG]
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

# name, g00-make arguments
PICTURES = [
    ("stack", ["--expressions", "3", "--size", "160x120", "--seed", "5"]),
    ("grid", ["--kind", "sprite", "--size", "150x110", "--seed", "2", "--region-size", "64"]),
    ("photo", ["--kind", "photo", "--size", "90x60"]),
]
MASKED = {"stack": [True, True, False, False]}  # regions a later one covers; grid's never overlap
EDITED_REGION = 1  # of "stack", partly under region 2
# "photo" (90x60, full-frame) with its own picture laid over it at (40, 30), a rectangle cleared
# out of that layer (left, top, width, height on the image): GIMP's own pictures, exported like
# the original; then with a layer of soft edges, which the full-frame original cannot take.
FLAT_AT, FLAT_CLEARED = (40, 30), (50, 35, 10, 10)
FLAT_SOFT = "regions/stack_002.png"
FRESH_LAYERS = [(1, 10, 10), (2, 40, 30), (3, 70, 50)]  # stack's region, left, top
# What spoils a copy of "stack", in Script-Fu (GIMP 2.10) and in Python (GIMP 3: image, and
# layer(name) for the layer of that name), and what GIMP must then say.
REFUSALS = [
    ('(gimp-item-set-name (layer-named image "region 002") "shadow")',
     'layer("region 002").set_name("shadow")',
     "layer 'shadow' is not a region"),
    ('(gimp-item-set-name (layer-named image "region 002") "region 009")',
     'layer("region 002").set_name("region 009")',
     "layer 'region 009' names a region the original does not have"),
    ('(gimp-layer-set-opacity (layer-named image "region 000") 50)',
     'layer("region 000").set_opacity(50)',
     "layer 'region 000' has an opacity of 50.0%"),
    ('(let ((layer (layer-named image "region 001"))) (gimp-layer-resize-to-image-size layer)'
     ' (gimp-drawable-fill layer FILL-WHITE))',
     'layer("region 001").resize_to_image_size(); layer("region 001").fill(Gimp.FillType.WHITE)',
     "pixels of layer 'region 001' lie outside its parts"),
    ('(let ((group (car (gimp-layer-group-new image)))) (gimp-image-insert-layer image group 0 0)'
     ' (gimp-item-set-name group "group"))',
     'group = Gimp.GroupLayer.new(image, "group"); image.insert_layer(group, None, 0)',
     "layer 'group' is a layer group"),
]

# One GIMP start runs every case, opening or writing about 35 files: a generous start on a loaded
# 2-core machine, and more for each file.
START_LIMIT, FILES_OPENED, SECONDS_PER_FILE = 180, 35, 15

SCHEME = r"""
(define results (open-output-file RESULTS))
(define (note . items) (write items results) (newline results))
(define (load path) (car (gimp-file-load RUN-NONINTERACTIVE path path)))
(define (layers-of image) (vector->list (cadr (gimp-image-get-layers image))))
(define (layer-named image name)
  (let find ((layers (layers-of image)))
    (if (string=? (car (gimp-item-get-name (car layers))) name) (car layers) (find (cdr layers)))))
(define (save image path) (file-g00-save RUN-NONINTERACTIVE image (car (layers-of image)) path path))
; A drawable's own pixels as raw bytes, without its mask, and its facts.
(define (dump drawable path)
  (let* ((alone (car (gimp-image-new (car (gimp-drawable-width drawable))
                                     (car (gimp-drawable-height drawable)) RGB)))
         (copy (car (gimp-layer-new-from-drawable drawable alone))))
    (gimp-image-insert-layer alone copy 0 0)
    (if (not (= -1 (car (gimp-layer-get-mask copy)))) (gimp-layer-remove-mask copy MASK-DISCARD))
    (gimp-layer-set-offsets copy 0 0)
    (file-raw-save2 RUN-NONINTERACTIVE alone copy path "" 0 0)
    (gimp-image-delete alone)
    (list (car (gimp-item-get-name drawable)) (gimp-drawable-offsets drawable)
          (car (gimp-drawable-width drawable)) (car (gimp-drawable-height drawable))
          (car (gimp-drawable-bpp drawable)) (not (= -1 (car (gimp-layer-get-mask drawable)))))))
(define (check-open name path out)
  (let* ((image (load path)) (merged (car (gimp-image-duplicate image))) (i 0))
    (for-each (lambda (layer)
                (note 'layer name (dump layer (string-append out "." (number->string i))))
                (set! i (+ i 1)))
              (reverse (layers-of image)))
    (note 'composite name (dump (car (gimp-image-merge-visible-layers merged CLIP-TO-IMAGE))
                                (string-append out ".composite")))
    (note 'parasites name (cadr (gimp-image-get-parasite-list image)))
    (gimp-image-delete merged)
    (gimp-image-delete image)))
(define (checked label thunk) (note label (catch 'refused (thunk) 'done)))
"""


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def run(command, **options):
    return subprocess.run(command, check=True, capture_output=True, **options)


def prepare(args, work):
    """The pictures, the converter's PNG and region files and their descriptions."""
    for name, making in PICTURES:
        run([args.make] + making + [os.path.join(work, name + ".g00")])
    paths = [os.path.join(work, name + ".g00") for name, _ in PICTURES]
    run([args.cli, "-q", "--png", "-o", os.path.join(work, "png")] + paths)
    run([args.cli, "-q", "--png", "--regions", "-o", os.path.join(work, "regions")] + paths[:2])
    described = run([args.cli, "--info", "--json"] + paths, text=True).stdout
    with open(paths[0], "rb") as f:
        cut = f.read()
    with open(os.path.join(work, "cut.g00"), "wb") as f:
        f.write(cut[:len(cut) // 2])
    with open(os.path.join(work, "bomb.g00"), "wb") as f:  # 65535 x 65535 claimed
        f.write(cut[:1] + b"\xff" * 4 + cut[5:])
    shutil.copy(paths[0], os.path.join(work, "older.g00"))  # what refused exports must keep
    return {os.path.basename(d["file"])[:-4]: d for d in json.loads(described)}


def profile_with(plug_in, work):
    """A GIMP 2.10 profile whose plug-in folder holds the plug-in."""
    profile = os.path.join(work, "profile")
    os.makedirs(os.path.join(profile, "plug-ins", "file-g00"))
    # A link, not a copy: the built plug-in finds the library relative to where it really lies.
    os.symlink(os.path.abspath(plug_in), os.path.join(profile, "plug-ins", "file-g00", "file-g00"))
    return profile


def batch(work):
    at = lambda name: quoted(os.path.join(work, name))
    lines = [SCHEME.replace("RESULTS", at("results.txt"))]
    for name, _ in PICTURES:
        lines.append("(check-open %s %s %s)" % (quoted(name), at(name + ".g00"), at("open-" + name)))
    lines.append("(checked 'cut (lambda () (load %s)))" % at("cut.g00"))
    lines.append("(note 'thumbnail (file-g00-load-thumb %s 64))" % at("stack.g00"))
    lines.append("(checked 'bomb (lambda () (file-g00-load-thumb %s 64)))" % at("bomb.g00"))
    lines.append("""(define (edit image)
  (let ((layer (layer-named image "region %03d")))
    (gimp-item-set-visible layer FALSE)
    (gimp-image-select-item image CHANNEL-OP-REPLACE layer)
    (gimp-drawable-invert layer FALSE)
    (gimp-selection-none image)))""" % EDITED_REGION)
    lines.append("(let ((image (load %s))) (edit image) (checked 'edit (lambda () (save image %s))))"
                 % (at("stack.g00"), at("edited.g00")))
    lines.append("""(let ((image (load %s)))
  (edit image)
  (gimp-layer-resize-to-image-size (layer-named image "region 002"))
  (gimp-xcf-save 0 image (car (layers-of image)) %s %s)
  (gimp-image-delete image)
  (set! image (car (gimp-xcf-load 0 %s %s)))
  (note 'xcf-parasites (cadr (gimp-image-get-parasite-list image)))
  (checked 'xcf (lambda () (save image %s))))""" % ((at("stack.g00"),) + (at("stack.xcf"),) * 4 + (at("xcf.g00"),)))
    for i, (spoil, _, _) in enumerate(REFUSALS):
        lines.append("(let ((image (load %s))) %s (checked 'refuse-%d (lambda () (save image %s))))"
                     % (at("stack.g00"), spoil, i, at("older.g00")))
    layers = " ".join("(let ((layer (car (gimp-file-load-layer RUN-NONINTERACTIVE image %s))))"
                      " (gimp-image-insert-layer image layer 0 0) (gimp-layer-set-offsets layer %d %d))"
                      % (at("regions/stack_%03d.png" % region), left, top)
                      for region, left, top in FRESH_LAYERS)
    lines.append("(let ((image (car (gimp-image-new 160 120 RGB)))) %s (checked 'fresh (lambda () (save image %s))))"
                 % (layers, at("fresh.g00")))
    lines.append("(let ((image (load %s))) (checked 'opaque (lambda () (save image %s))))"
                 % (at("png/photo.png"), at("opaque.g00")))
    (left, top), (x, y, width, height) = FLAT_AT, FLAT_CLEARED
    lines.append("""(let* ((image (load %s))
       (layer (car (gimp-file-load-layer RUN-NONINTERACTIVE image %s))))
  (gimp-image-insert-layer image layer 0 0)
  (gimp-layer-set-offsets layer %d %d)
  (gimp-layer-add-alpha layer)
  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE %d %d %d %d)
  (gimp-drawable-edit-clear layer)
  (gimp-selection-none image)
  (checked 'flat (lambda () (save image %s))))""" % (at("photo.g00"), at("png/photo.png"), left, top,
                                                     x, y, width, height, at("flat.g00")))
    lines.append("""(let* ((image (load %s))
       (layer (car (gimp-file-load-layer RUN-NONINTERACTIVE image %s))))
  (gimp-image-insert-layer image layer 0 0)
  (checked 'soft (lambda () (save image %s))))""" % (at("photo.g00"), at(FLAT_SOFT), at("soft.g00")))
    lines.append("(close-output-port results)")
    return "(begin %s)" % "\n".join(lines)


def parsed(line):
    """One list Script-Fu wrote: strings, numbers, booleans, symbols and lists of them."""
    tokens = re.findall(r'\(|\)|"(?:\\.|[^"\\])*"|[^\s()]+', line)
    def item(i):
        if tokens[i] == "(":
            items, i = [], i + 1
            while tokens[i] != ")":
                value, i = item(i)
                items.append(value)
            return items, i + 1
        token = tokens[i]
        if token.startswith('"'):
            return json.loads(token), i + 1
        if token in ("#t", "#f"):
            return token == "#t", i + 1
        return int(token) if re.fullmatch(r"-?\d+", token) else token, i + 1
    return item(0)[0]


def results(work):
    found = {}
    with open(os.path.join(work, "results.txt")) as f:
        for line in f:
            if line.strip():
                label, *rest = parsed(line)
                found.setdefault(label, []).append(rest)
    return found


def pixels(path, width, height):
    with open(path, "rb") as f:
        data = np.frombuffer(f.read(), np.uint8)
    return data.reshape(height, width, data.size // (width * height))


def png(path):
    return np.asarray(Image.open(path))


def visible(rgba):
    """Colours under alpha 0 do not count."""
    out = rgba.copy()
    out[out[..., 3] == 0] = 0
    return out


def on_canvas(rgba, left, top, width, height):
    canvas = np.zeros((height, width, 4), np.uint8)
    canvas[top:top + rgba.shape[0], left:left + rgba.shape[1]] = rgba
    return canvas


def check_open(work, described, found):
    layers = {}
    for name, facts in found.get("layer", []):
        layers.setdefault(name, []).append(facts)
    for name, info in described.items():
        got = layers.get(name, [])
        if info["type"] == 0:
            want = [["Background", [0, 0], info["width"], info["height"], 3, False]]
            if got != want:
                fail(f"{name}: GIMP opened {got}, expected {want}")
            if not np.array_equal(pixels(os.path.join(work, "open-photo.0"), info["width"], info["height"]),
                                  png(os.path.join(work, "png", name + ".png"))):
                fail(f"{name}: the layer's pixels are not the converter's")
            continue
        drawn = [e for e in info["entries"] if e["box"] is not None and e["index"] < info["region_count"]]
        want = [["region %03d" % e["index"], [e["box"]["left"], e["box"]["top"]], e["box"]["width"],
                 e["box"]["height"], 4] for e in drawn]
        if [g[:5] for g in got] != want:
            fail(f"{name}: GIMP's layers (name, offsets, size, bpp) are {got}, expected {want}")
        if [g[5] for g in got] != MASKED.get(name, [False] * len(got)):
            fail(f"{name}: masks on {[g[0] for g in got if g[5]]}, expected on the covered regions")
        for i, entry in enumerate(drawn):
            layer = pixels(os.path.join(work, f"open-{name}.{i}"), entry["box"]["width"], entry["box"]["height"])
            if not np.array_equal(layer, png(os.path.join(work, "regions", f"{name}_{entry['index']:03d}.png"))):
                fail(f"{name}: layer region {entry['index']:03d} is not the converter's region file")
        (_, (left, top), width, height, _, _), = [c for n, c in found["composite"] if n == name]
        composite = on_canvas(pixels(os.path.join(work, f"open-{name}.composite"), width, height),
                              left, top, info["width"], info["height"])
        differ = np.any(visible(composite) != visible(png(os.path.join(work, "png", name + ".png"))), axis=2)
        if differ.any():
            fail(f"{name}: GIMP's composite of the layers differs from the decoded picture at "
                 f"{int(differ.sum())} pixels")
    for name, parasites in found["parasites"]:
        if parasites != ["tavimore-g00-original"]:
            fail(f"{name}: the image's parasites are {parasites}")
    print(f"open: {len(described)} pictures as the converter's region files, composites equal")


def data(args, path):
    run([args.data, path, path + ".data"])
    with open(path + ".data", "rb") as f:
        return np.frombuffer(f.read(), np.uint8)


def region_pixels(info, region):
    """Where the region's parts' pixels lie in the decompressed data."""
    entry = info["entries"][region]
    at = entry["block_offset"] + 116
    spans = []
    for part in entry["parts"]:
        at += 92
        spans.append((at, at + part["width"] * part["height"] * 4))
        at = spans[-1][1]
    return spans


def check_edits(args, work, described, found, log):
    stack = os.path.join(work, "stack.g00")
    original = data(args, stack)
    if found["edit"] != [["done"]] or found["xcf"] != [["done"]]:
        fail(f"exports failed: edit {found['edit']}, xcf {found['xcf']}; GIMP says:\n{log}")
    edited = data(args, os.path.join(work, "edited.g00"))
    changed = np.flatnonzero(original != edited)
    inside = np.zeros(original.size, bool)
    for start, end in region_pixels(described["stack"], EDITED_REGION):
        inside[start:end] = True
    with open(stack, "rb") as f, open(os.path.join(work, "edited.g00"), "rb") as g:
        head = 9 + 24 * described["stack"]["region_count"]
        if f.read(head) != g.read(head):
            fail("the edited file's header or region table differs from the original's")
    if edited.size != original.size or changed.size == 0 or not inside[changed].all():
        fail(f"the edit of region {EDITED_REGION} changed {changed.size} bytes, "
             f"{int((~inside[changed]).sum())} of them outside its parts' pixels")
    if found["xcf-parasites"] != [[["tavimore-g00-original"]]]:
        fail(f"the XCF opened again has the parasites {found['xcf-parasites']}")
    if not np.array_equal(edited, data(args, os.path.join(work, "xcf.g00"))):
        fail("the same edit saved as XCF, opened again and exported gives other data")
    print(f"edit: {changed.size} bytes changed, all in region {EDITED_REGION}'s parts, the same "
          "through an XCF")


def check_refusals(work, found, log):
    with open(os.path.join(work, "stack.g00"), "rb") as f, open(os.path.join(work, "older.g00"), "rb") as g:
        if f.read() != g.read():
            fail("a refused export changed the older file")
    for i, (_, _, message) in enumerate(REFUSALS):
        if found.get(f"refuse-{i}") != [["refused"]] or message not in log:
            fail(f"GIMP did not refuse with \"{message}\": {found.get(f'refuse-{i}')}; GIMP says:\n{log}")
    if found["cut"] != [["refused"]] or "the file is cut short" not in log:
        fail("a file cut short did not fail with the library's reason")
    if found["thumbnail"][0][0][1:] != [160, 120]:
        fail(f"the thumbnail procedure gives {found['thumbnail']}")
    if found["bomb"] != [["refused"]] or "larger than the pixel limit" not in log:
        fail(f"the thumbnail of a file claiming 65535 x 65535 pixels gave {found['bomb']}")
    print(f"refuse: {len(REFUSALS)} exports refused with their reasons, the older file kept")


def check_fresh(args, work, found, log):
    if found["fresh"] != [["done"]] or found["opaque"] != [["done"]]:
        fail(f"fresh exports failed: {found['fresh']}, {found['opaque']}; GIMP says:\n{log}")
    fresh = os.path.join(work, "fresh.g00")
    run([args.cli, "-q", "--png", "--regions", "-o", os.path.join(work, "back"), fresh])
    info = json.loads(run([args.cli, "--info", "--json", fresh], text=True).stdout)[0]
    for index, (region, left, top) in enumerate(FRESH_LAYERS):
        layer = png(os.path.join(work, "regions", "stack_%03d.png" % region))
        box = info["entries"][index]["box"]
        drawn = png(os.path.join(work, "back", "fresh_%03d.png" % index))
        if not np.array_equal(visible(on_canvas(layer, left, top, 160, 120)),
                              visible(on_canvas(drawn, box["left"], box["top"], 160, 120))):
            fail(f"region {index} of the fresh file drawn alone is not its layer")
    opaque = os.path.join(work, "opaque.g00")
    with open(opaque, "rb") as f:
        if f.read(1) != b"\0":
            fail("one opaque layer did not give a full-frame file")
    run([args.cli, "-q", "--png", "-o", os.path.join(work, "back"), opaque])
    if not np.array_equal(png(os.path.join(work, "back", "opaque.png")), png(os.path.join(work, "png", "photo.png"))):
        fail("the full-frame file is not the layer")
    print(f"fresh: {len(FRESH_LAYERS)} layers come back region by region; one opaque layer full-frame")


def check_flat(args, work, found, log):
    if found["flat"] != [["done"]]:
        fail(f"the full-frame picture with a layer over it was not exported: {found['flat']}; "
             f"GIMP says:\n{log}")
    run([args.cli, "-q", "--png", "-o", os.path.join(work, "back"), os.path.join(work, "flat.g00")])
    photo = png(os.path.join(work, "png", "photo.png"))
    (left, top), (x, y, width, height) = FLAT_AT, FLAT_CLEARED
    want = photo.copy()
    want[top:, left:] = photo[:photo.shape[0] - top, :photo.shape[1] - left]
    want[y:y + height, x:x + width] = photo[y:y + height, x:x + width]
    if not np.array_equal(png(os.path.join(work, "back", "flat.png")), want):
        fail("the full-frame file is not the layers, each replacing what lies below")
    if found["soft"] != [["refused"]] or "the original is a full-frame picture without it" not in log:
        fail(f"a layer of soft edges over a full-frame picture was not refused: {found['soft']}")
    print("flat: the layers replace what lies below; soft edges refused for a full-frame original")


def session(profile):
    """GIMP's own first session, its window on the screen (as big as folder_view's), the docks
    wide enough for the layers' names."""
    with open("/etc/gimp/2.0/sessionrc") as f:
        text = f.read()
    text = text.replace("(position 200 100)\n    (size 1024 768)", "(position 0 0)\n    (size 1024 768)")
    with open(os.path.join(profile, "sessionrc"), "w") as f:
        f.write(text.replace('(right-docks-width "205")', '(right-docks-width "290")'))


def screenshot(args, work, profile, out):
    """GIMP with a sprite's regions open as layers, under Xvfb and openbox."""
    session(profile)
    sprite = os.path.join(work, "sprite.g00")
    run([args.make, "--expressions", "3", "--size", "420x400", "--seed", "5", sprite])
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "gdk-pixbuf", "tests"))
    from folder_view import start_screen
    # English words on the screen, whatever the system's locale: the title is how the window is
    # found, and the README shows it.
    env = dict(os.environ, GIMP2_DIRECTORY=profile, LANG="C.UTF-8", LC_ALL="C.UTF-8", LANGUAGE="C")
    started = start_screen(env)
    try:
        started.append(subprocess.Popen(["gimp", "--no-splash", "--no-shm", sprite],
                                        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for _ in range(180):
            time.sleep(1)
            windows = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True, text=True).stdout
            if "4 layers" in windows:
                break
        else:
            fail("GIMP did not show the sprite's 4 layers within 180 s")
        time.sleep(5)
        run(["import", "-display", env["DISPLAY"], "-window", "root", out])
    finally:
        for process in reversed(started):
            process.terminate()
            process.wait()
    print("screenshot:", out)


def main():
    parser = argparse.ArgumentParser()
    for option in ("plug-in", "cli", "make", "data"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        described = prepare(args, work)
        profile = profile_with(args.plug_in, work)
        if args.screenshot:
            return screenshot(args, work, profile, os.path.abspath(args.screenshot))
        limit = START_LIMIT + FILES_OPENED * SECONDS_PER_FILE
        try:
            gimp = subprocess.run(["gimp-console", "-i", "-d", "-f", "--no-shm", "-b", batch(work),
                                   "-b", "(gimp-quit 0)"], env=dict(os.environ, GIMP2_DIRECTORY=profile),
                                  capture_output=True, text=True, timeout=limit)
        except subprocess.TimeoutExpired:
            fail(f"gimp-console was killed by its time limit: still running after {limit} s")
        log = gimp.stdout + gimp.stderr
        if not os.path.exists(os.path.join(work, "results.txt")):
            fail("GIMP's batch run left no results:\n" + log)
        found = results(work)
        check_open(work, described, found)
        check_edits(args, work, described, found, log)
        check_refusals(work, found, log)
        check_fresh(args, work, found, log)
        check_flat(args, work, found, log)


if __name__ == "__main__":
    main()
