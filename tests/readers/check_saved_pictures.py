"""The picture readers open what other programs save: one-layer PSD files saved by GIMP (packed
and raw), by Krita and by ImageMagick (its channels ZIP-compressed, by default and with
-compress Zip), grey PSD files saved by GIMP and ImageMagick (with transparency and without),
and PNG files written by ImageMagick (interlaced, 16-bit, palette, 2-bit grey) and Pillow. Each
must read back as the picture the program was given; a grey one as GIMP's PNG of it, or as
ImageMagick reads its own PSD's layer (its PNG writer rounds grey otherwise)."""

import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

import check_krita
import samples

WIDTH, HEIGHT = 37, 23


def source_picture():
    """Soft alpha over a gradient, a fully transparent band and an opaque corner."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    rgba = np.zeros((HEIGHT, WIDTH, 4), np.uint8)
    rgba[..., 0] = (x * 7) % 256
    rgba[..., 1] = (y * 11) % 256
    rgba[..., 2] = ((x + y) * 5) % 256
    rgba[..., 3] = np.clip(x * 8 + y * 3, 0, 255)
    rgba[:, :3, 3] = 0
    rgba[:5, -5:, 3] = 255
    return rgba


def read(reader, path, work):
    out = os.path.join(work, os.path.basename(path) + ".rgba")
    done = subprocess.run([reader, path, out], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise samples.Mismatch("refused: %s" % done.stdout.strip())
    w, h = map(int, done.stdout.split())
    if (w, h) != (WIDTH, HEIGHT):
        raise samples.Mismatch("read as %d x %d" % (w, h))
    return np.fromfile(out, np.uint8).reshape(h, w, 4)


def expect(got, expected, what):
    """Alpha everywhere; colours where the pixel is not fully transparent (programs may drop
    the colours under alpha 0)."""
    visible = expected[..., 3] > 0
    bad = np.argwhere((got[..., 3] != expected[..., 3]) |
                      (visible & np.any(got[..., :3] != expected[..., :3], axis=-1)))
    if bad.size:
        y, x = bad[0]
        raise samples.Mismatch("%s: %d pixels differ, first at x=%d y=%d: read %s, expected %s"
                               % (what, len(bad), x, y, list(got[y, x]), list(expected[y, x])))


GIMP_SAVE = r"""
(let* ((image (car (file-png-load RUN-NONINTERACTIVE "%s" "%s")))
       (layer (car (gimp-image-get-active-layer image))))
  (file-psd-save RUN-NONINTERACTIVE image layer "%s" "%s" %d 0)
  (gimp-image-delete image))
"""

# The picture made a grey image, saved as a packed PSD and as the PNG it is compared with.
GIMP_SAVE_GREY = r"""
(let* ((image (car (file-png-load RUN-NONINTERACTIVE "%s" "%s")))
       (layer (car (gimp-image-get-active-layer image))))
  (gimp-image-convert-grayscale image)
  (file-psd-save RUN-NONINTERACTIVE image layer "%s" "%s" 1 0)
  (file-png-save-defaults RUN-NONINTERACTIVE image layer "%s" "%s")
  (gimp-image-delete image))
"""


def as_rgba(path):
    with Image.open(path) as image:
        return np.asarray(image.convert("RGBA"))


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def check_named(self, name, fn):
        try:
            fn()
        except Exception as e:  # a Mismatch, or a file the program did not write
            self.failed += 1
            print("FAIL %s: %s" % (name, e))
        else:
            self.passed += 1
            print("pass " + name)

    def finish(self):
        print("saved pictures: %d read back, %d failed" % (self.passed, self.failed))
        sys.exit(1 if self.failed or not self.passed else 0)


def main():
    reader, work = sys.argv[1], tempfile.mkdtemp(prefix="tavimore-saved-")
    run = Checks()
    try:
        picture = source_picture()
        png = os.path.join(work, "source.png")
        Image.fromarray(picture, "RGBA").save(png)
        opaque = picture.copy()
        opaque[..., 3] = 255

        # GIMP: the PNG opened as one layer, saved as PSD with PackBits (1) and raw (0) channels.
        commands = []
        for compression in (1, 0):
            psd = os.path.join(work, "gimp-%d.psd" % compression)
            commands += ["-b", GIMP_SAVE % (png, png, psd, psd, compression)]
        grey_psd, grey_png = os.path.join(work, "gimp-grey.psd"), os.path.join(work, "gimp-grey.png")
        commands += ["-b", GIMP_SAVE_GREY % (png, png, grey_psd, grey_psd, grey_png, grey_png)]
        env = dict(os.environ, GIMP2_DIRECTORY=os.path.join(work, "gimp-profile"))
        subprocess.run(["gimp-console", "-i", "-d", "-f", "--no-shm"] + commands +
                       ["-b", "(gimp-quit 0)"], env=env, capture_output=True, timeout=240)
        for compression, name in ((1, "packed"), (0, "raw")):
            path = os.path.join(work, "gimp-%d.psd" % compression)
            run.check_named("GIMP PSD, %s" % name,
                            lambda: expect(read(reader, path, work), picture, "GIMP PSD"))
        run.check_named("GIMP PSD, grey",
                        lambda: expect(read(reader, grey_psd, work), as_rgba(grey_png),
                                       "GIMP grey PSD"))

        # Krita: the PNG exported as PSD, on a display of its own.
        server, display = check_krita.start_display()
        try:
            krita_psd = os.path.join(work, "krita.psd")
            home = os.path.join(work, "home")
            env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                       XDG_CACHE_HOME=os.path.join(home, ".cache"), DISPLAY=display)
            subprocess.run(["krita", "--nosplash", "--export", "--export-filename", krita_psd, png],
                           env=env, capture_output=True, timeout=120)
        finally:
            server.terminate()
            server.wait(timeout=30)
        run.check_named("Krita PSD",
                        lambda: expect(read(reader, krita_psd, work), picture, "Krita PSD"))

        # ImageMagick's PSD encoder: the layer's channels are ZIP-compressed either way.
        for what, options in (("default", []), ("-compress Zip", ["-compress", "Zip"])):
            path = os.path.join(work, "imagemagick-%s.psd" % what.strip("-").replace(" ", "-"))
            subprocess.run(["convert", png] + options + [path], check=True, timeout=60)
            run.check_named("ImageMagick PSD, " + what,
                            lambda path=path: expect(read(reader, path, work), picture,
                                                     "ImageMagick PSD"))
        # Grey, with the picture's transparency and without any; the last frame ImageMagick
        # reads from the file is its layer.
        for what, options in (("grey", []), ("grey without alpha", ["-alpha", "off"])):
            path = os.path.join(work, "imagemagick-%s.psd" % what.replace(" ", "-"))
            subprocess.run(["convert", png] + options + ["-colorspace", "Gray", path], check=True,
                           timeout=60)

            def compare(path=path):
                frames = subprocess.run(["convert", path, "-depth", "8", "RGBA:-"], check=True,
                                        capture_output=True, timeout=60).stdout
                layer = np.frombuffer(frames[-WIDTH * HEIGHT * 4:], np.uint8)
                expect(read(reader, path, work), layer.reshape(HEIGHT, WIDTH, 4), "ImageMagick PSD")
            run.check_named("ImageMagick PSD, " + what, compare)

        # ImageMagick's PNG encoder: 16-bit samples are the 8-bit ones times 257, so they must
        # round back to them; the palette and grey ones are compared with Pillow's reading.
        writes = [
            ("interlaced RGBA", ["-interlace", "PNG"], "PNG32:", picture),
            ("16-bit RGBA, interlaced", ["-interlace", "PNG"], "PNG64:", picture),
            ("16-bit RGB", ["-alpha", "off"], "PNG48:", opaque),
            ("palette with tRNS", [], "PNG8:", None),
            ("2-bit grey", ["-alpha", "off", "-colorspace", "Gray", "-depth", "2"], "PNG:", None),
        ]
        for what, options, prefix, expected in writes:
            path = os.path.join(work, what.replace(" ", "-").replace(",", "") + ".png")
            subprocess.run(["convert", png] + options + [prefix + path], check=True, timeout=60)

            def compare(path=path, expected=expected, what=what):
                if expected is None:
                    with Image.open(path) as image:
                        expected = np.asarray(image.convert("RGBA"))
                expect(read(reader, path, work), expected, what)
            run.check_named("ImageMagick PNG, " + what, compare)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    run.finish()


if __name__ == "__main__":
    main()
