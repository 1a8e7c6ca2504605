#!/usr/bin/python3
"""A folder of G00 files in PCManFM's icon view on a private X screen (Xvfb, openbox), with the
loader given through a loader cache and the MIME entry through a MIME database of their own.
The window must show every picture's thumbnail: the converter's PNG scaled to 128 pixels (by
gdk-pixbuf, as libfm does; flattened on the view's white) is found in it. The window is
saved as OUTPUT, the README's docs/thumbnails.png.

usage: folder_view.py --module SO --mime XML --cli CLI --make G00MAKE --samples DIR
                      --damaged FILE OUTPUT
"""
import argparse
import os
import shutil
import signal
import subprocess
import tempfile
import time

import check_loader

# name, generator, size, G00 type
PICTURES = [
    ("evening", "photo", "320x240", 0),
    ("shapes", "flat", "256x192", 0),
    ("sketch", "lineart", "200x260", 2),
    ("blob", "sprite", "180x180", 2),
    ("panorama", "photo", "420x120", 0),
]
LIBFM_CONF = """[config]
show_thumbnail=1
thumbnail_local=1
thumbnail_max=0
[ui]
big_icon_size=128
thumbnail_size=128
"""
PCMANFM_CONF = """[ui]
win_width=800
win_height=560
view_mode=icon
show_hidden=0
side_pane_mode=places
"""


def start_screen(env):
    """Xvfb on a display it picks itself, and openbox; returns both processes."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=[write_end],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        env["DISPLAY"] = ":" + pipe.readline().strip()
    openbox = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return [xvfb, openbox]


def pixels(pixbuf):
    """The pixbuf as an array of rows, without the rowstride's padding."""
    import numpy
    return numpy.frombuffer(check_loader.rows(pixbuf), numpy.uint8).reshape(
        pixbuf.get_height(), pixbuf.get_width(), pixbuf.get_n_channels()).astype(numpy.int32)


def thumbnails_of(png):
    """The picture as libfm may show it at 128 pixels (its short side rounded either way),
    flattened on white."""
    GdkPixbuf, _ = check_loader.pixbuf_module()
    picture = GdkPixbuf.Pixbuf.new_from_file(png)
    w, h = picture.get_width(), picture.get_height()
    scale = 128 / max(w, h)
    sizes = {(max(1, rounding(w * scale)), max(1, rounding(h * scale))) for rounding in (int, round)}
    thumbnails = []
    for width, height in sizes:
        thumbnail = pixels(picture.scale_simple(width, height, GdkPixbuf.InterpType.BILINEAR))
        if thumbnail.shape[2] == 4:
            alpha = thumbnail[:, :, 3:4]
            thumbnail = (thumbnail[:, :, :3] * alpha + 255 * (255 - alpha) + 127) // 255
        thumbnails.append(thumbnail)
    return thumbnails


def shown(screen, thumbnail):
    """Whether the screen holds the thumbnail: its middle row found, then the whole compared."""
    from numpy.lib.stride_tricks import sliding_window_view
    height, width, _ = thumbnail.shape
    if screen.shape[0] < height or screen.shape[1] < width:
        return False
    middle = thumbnail[height // 2]
    for y in range(height // 2, screen.shape[0] - (height - height // 2) + 1):
        rows = sliding_window_view(screen[y], (width, 3))[:, 0]
        for x in (abs(rows - middle).mean(axis=(1, 2)) < 2).nonzero()[0]:
            top = y - height // 2
            if abs(screen[top:top + height, x:x + width] - thumbnail).mean() < 2:
                return True
    return False


def main():
    parser = argparse.ArgumentParser()
    for option in ("module", "mime", "cli", "make", "samples", "damaged"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("output")
    args = parser.parse_args()
    for program, package in (("pcmanfm", "pcmanfm"), ("Xvfb", "xvfb"), ("openbox", "openbox"),
                             ("xwininfo", "x11-utils"), ("import", "imagemagick")):
        if shutil.which(program) is None:
            check_loader.fail(f"{program} is missing: install {package}")
    with tempfile.TemporaryDirectory(prefix="tavimore-") as work:
        check_loader.use_loader(args.module, args.mime, work)
        folder = os.path.join(work, "G00 pictures")
        os.makedirs(folder)
        for name, kind, size, g00_type in PICTURES:
            check_loader.tool([args.make, "--kind", kind, "--size", size, "--type", str(g00_type),
                               "--seed", "7", os.path.join(folder, name + ".g00")],
                              check=True, stdout=subprocess.DEVNULL)
        for sample in sorted(os.listdir(args.samples)):
            if sample.endswith(".g00"):
                shutil.copy(os.path.join(args.samples, sample), folder)
        pictures = {os.path.join(folder, name) for name in os.listdir(folder)}
        check_loader.tool([args.cli, "-q", "--png", "-o", os.path.join(work, "png")] + sorted(pictures),
                          check=True)
        expected = {p: thumbnails_of(os.path.join(work, "png", os.path.basename(p)[:-4] + ".png"))
                    for p in pictures}
        shutil.copy(args.damaged, os.path.join(folder, "damaged.g00"))

        env = dict(os.environ, HOME=os.path.join(work, "home"), LANG="C.UTF-8", LC_ALL="C.UTF-8",
                   XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_CACHE_HOME=os.path.join(work, "cache"), NO_AT_BRIDGE="1")
        env.pop("LD_PRELOAD", None)
        for path, text in ((os.path.join(work, "config", "libfm", "libfm.conf"), LIBFM_CONF),
                           (os.path.join(work, "config", "pcmanfm", "default", "pcmanfm.conf"),
                            PCMANFM_CONF)):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        processes = start_screen(env)
        try:
            time.sleep(1)
            processes.append(subprocess.Popen(["pcmanfm", folder], env=env,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            tree = ""
            deadline = time.time() + 30
            while '"G00 pictures"' not in tree and time.time() < deadline:
                time.sleep(0.5)
                tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True,
                                      text=True).stdout
            window = next(line.split()[0] for line in tree.splitlines() if '"G00 pictures"' in line)
            GdkPixbuf, _ = check_loader.pixbuf_module()
            missing = sorted(pictures)
            deadline = time.time() + 60
            while missing and time.time() < deadline:
                time.sleep(1)
                subprocess.run(["import", "-window", window, "-frame", args.output], env=env,
                               check=True)
                screen = pixels(GdkPixbuf.Pixbuf.new_from_file(args.output))[:, :, :3]
                missing = [p for p in missing if not any(shown(screen, t) for t in expected[p])]
            if missing:
                check_loader.fail(f"PCManFM does not show the thumbnails of {missing}")
        finally:
            for process in reversed(processes):
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
    print(f"folder view: PCManFM shows the thumbnails of {len(pictures)} pictures; {args.output} written")


if __name__ == "__main__":
    main()
