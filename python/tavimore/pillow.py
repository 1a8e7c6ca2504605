"""G00 for Pillow: `import tavimore.pillow`, then

    im = Image.open("pose.g00")      # RGBA (region-based) or RGB (full-frame), as the converter's PNG
    im.info["regions"]               # [{"region": 0, "box": (left, top, width, height)}, ...]
    im.seek(1)                       # frames 1 and up: each region that draws a pixel, drawn alone
                                     # at full size; im.info["region"], im.info["box"]
    im.save("new.g00")               # fresh
    im.save("new.g00", like="pose.g00")   # like the original: only its parts' pixels change

Frame 0 is the whole picture. A file named .g00 that cannot be read raises tavimore.Error with
the library's reason; other files are left to Pillow's other formats.
"""
from PIL import Image, ImageFile

import tavimore

FORMAT = "G00"


def _accept(prefix):
    # The header holds only a type byte and the size: the decoder decides.
    return len(prefix) >= 5 and prefix[0] in (0, 1, 2)


class G00ImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "G00 image"

    def _open(self):
        data = self.fp.read()
        try:
            picture = tavimore.decode(data)
        except tavimore.Error as error:
            if str(self.filename).lower().endswith(".g00"):
                raise
            raise SyntaxError(str(error))
        self._data = data
        self._whole = picture
        self._size = (picture.width, picture.height)
        self.mode = "RGBA" if picture.region_count else "RGB"
        self.info["regions"] = [
            {"region": entry["index"], "box": tuple(entry["box"].values())}
            for entry in tavimore.describe(data)["entries"]
            if entry["box"] is not None and entry["index"] < picture.region_count]
        regions = self.info["regions"]
        self.n_frames = 1 + len(regions)
        self.is_animated = False
        self._frame = 0
        self._pending = picture
        self.tile = []

    def load(self):
        # The pixels are decoded already: Pillow's own loading would map the file itself.
        if self._pending is not None:
            rgba = Image.frombytes("RGBA", self.size, self._pending.rgba)
            self.im = (rgba if self.mode == "RGBA" else rgba.convert("RGB")).im
            self._pending = None
            if self.fp is not None and self._exclusive_fp and self._close_exclusive_fp_after_loading:
                self.fp.close()
            self.fp = None
        return Image.Image.load(self)

    def seek(self, frame):
        if not self._seek_check(frame):
            return
        self._frame = frame
        self.info.pop("region", None)
        self.info.pop("box", None)
        if frame == 0:
            self._pending = self._whole
        else:
            found = self.info["regions"][frame - 1]
            alone, box = tavimore.draw_region(self._data, found["region"])
            canvas = Image.new("RGBA", self.size, (0, 0, 0, 0))
            canvas.paste(Image.frombytes("RGBA", (alone.width, alone.height), alone.rgba), box[:2])
            self.info["region"] = found["region"]
            self.info["box"] = tuple(box)
            self._pending = tavimore.Picture(self.size[0], self.size[1], canvas.tobytes())

    def tell(self):
        return self._frame


def _save(im, fp, filename):
    picture = im.convert("RGBA")
    pixels = tavimore.Picture(picture.width, picture.height, picture.tobytes())
    like = im.encoderinfo.get("like")
    if like is not None and not isinstance(like, (bytes, bytearray)):
        with open(like, "rb") as f:
            like = f.read()
    fp.write(tavimore.pack(pixels, like=like, drop_outside=bool(im.encoderinfo.get("drop_outside"))))


Image.register_open(FORMAT, G00ImageFile, _accept)
Image.register_save(FORMAT, _save)
Image.register_extension(FORMAT, ".g00")
Image.register_mime(FORMAT, "image/x-g00")
