"""G00 for Pillow: `import tavimore.pillow`, then

    im = Image.open("pose.g00")      # RGBA (region-based) or RGB (full-frame), as the converter's PNG
    im.n_frames                      # 1 + the regions of the file's region table
    im.seek(3)                       # frame k: region k - 1 drawn alone at full size;
                                     # im.info["region"], and once loaded im.info["box"]
    im.save("new.g00")               # fresh
    im.save("new.g00", like="pose.g00")   # like the original: frame 0 refills every region,
                                          # a region frame (info["region"]) only its own
    im.save("new.g00", like="pose.g00", save_all=True)   # every region from its frame

Image.open reads the header alone, so Pillow's decompression bomb check comes before any
decoding; the pixels are decoded when loaded, with Image.MAX_IMAGE_PIXELS as the limit. A file
that is not G00 is left to Pillow's other formats; one that is cut or damaged opens, and its
load() raises tavimore.Error (an OSError) with the library's reason.
"""
from PIL import Image, ImageFile, ImageSequence

import tavimore

FORMAT = "G00"

# The library's words for a file that is no G00 picture it reads: left to the other formats.
_NOT_OURS = (tavimore.Status.NOT_G00, tavimore.Status.UNSUPPORTED_TYPE, tavimore.Status.EMPTY_PICTURE)
_MODE_IS_PROPERTY = isinstance(getattr(Image.Image, "mode", None), property)  # Pillow 10.1 and later


def _accept(prefix):
    # Only the beginning of the file: cut short is all it can be beyond its own fields.
    return tavimore.read_header(prefix, max_pixels=0).status not in _NOT_OURS


def _tile(size, args):
    tile = ("G00", (0, 0) + size, 0, args)
    return [ImageFile._Tile(*tile) if hasattr(ImageFile, "_Tile") else tile]


def _max_pixels():
    # Pillow's own limit: it refuses more than twice MAX_IMAGE_PIXELS, or nothing when None.
    return 0 if Image.MAX_IMAGE_PIXELS is None else 2 * Image.MAX_IMAGE_PIXELS


class _Layers:
    """A region file's layers, decoded once for all its frames."""

    def __init__(self):
        self.decoded = None

    def get(self, fp):
        if self.decoded is None:
            self.decoded = tavimore.decode_layers(fp.read(), _max_pixels())
        return self.decoded


class G00Decoder(ImageFile.PyDecoder):
    """Frame 0 (region None): the whole picture; frame k: region k - 1 alone."""

    _pulls_fd = True

    def decode(self, buffer):
        layers, region = self.args
        rawmode = "RGBA" if self.mode == "RGBA" else "RGBX"
        if region is None and layers.decoded is None:
            with tavimore._Decoded(self.fd.read(), _max_pixels()) as decoded:
                self.set_as_raw(decoded.pixels, rawmode)
            return -1, 0
        decoded = layers.get(self.fd)
        if region is None:
            self.set_as_raw(decoded.picture.rgba, rawmode)
            return -1, 0
        self.im.paste((0, 0, 0, 0), (0, 0) + self.im.size)
        for layer in decoded.layers:
            if layer.region == region:
                left, top, width, height = layer.box
                alone = Image.frombytes("RGBA", (width, height), layer.rgba)
                self.im.paste(alone.im, (left, top, left + width, top + height))
        return -1, 0


class G00ImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "G00 image"

    def _open(self):
        # The header and its size fields, read as far as they reach (a few KB at most, so junk
        # is not read whole); never the pixels.
        data = b""
        while True:
            more = self.fp.read(max(16, len(data)))
            data += more
            header = tavimore.read_header(data, max_pixels=0)
            if header.compressed_length is not None or header.status in _NOT_OURS or not more \
                    or len(data) >= 65536:
                break
        if header.status in _NOT_OURS:
            raise SyntaxError(f"not a G00 file: {header.reason}")
        if header.compressed_length is None:
            raise SyntaxError("not a G00 file: it ends within its header")
        self._size = (header.width, header.height)
        mode = "RGBA" if header.region_count else "RGB"
        if _MODE_IS_PROPERTY:
            self._mode = mode
        else:
            self.mode = mode
        self.n_frames = 1 + header.region_count
        self.is_animated = self.n_frames > 1
        if self.is_animated:
            self._close_exclusive_fp_after_loading = False
        self._fp = self.fp
        self._layers = _Layers()
        self._frame = 0
        self.tile = _tile(self.size, (self._layers, None))

    def seek(self, frame):
        if not self._seek_check(frame):
            return
        self._frame = frame
        self.fp = self._fp
        self.info.pop("box", None)
        if frame == 0:
            self.info.pop("region", None)
            self.tile = _tile(self.size, (self._layers, None))
        else:
            self.info["region"] = frame - 1
            self.tile = _tile(self.size, (self._layers, frame - 1))

    def tell(self):
        return self._frame

    def load_end(self):
        if self._frame != 0:
            drawn = [layer.box for layer in self._layers.decoded.layers if layer.region == self._frame - 1]
            self.info["box"] = tuple(drawn[0]) if drawn else None


def _picture(im):
    rgba = im.convert("RGBA")
    return tavimore.Picture(rgba.width, rgba.height, rgba.tobytes())


def _original(im):
    like = im.encoderinfo.get("like")
    if like is None or isinstance(like, (bytes, bytearray, memoryview)):
        return like
    with open(like, "rb") as f:
        return f.read()


def _save(im, fp, filename):
    like = _original(im)
    outside = bool(im.encoderinfo.get("drop_outside"))
    region = im.info.get("region")
    if like is not None and region is not None:
        packed = tavimore.pack(regions={region: (0, 0, _picture(im))}, like=like, drop_outside=outside)
    else:
        packed = tavimore.pack(_picture(im), like=like, drop_outside=outside)
    fp.write(packed)


def _save_all(im, fp, filename):
    current = im.tell()
    try:
        frames = [_picture(frame) for frame in ImageSequence.Iterator(im)]
    finally:
        im.seek(current)
    frames += [_picture(extra) for extra in im.encoderinfo.get("append_images", [])]
    if len(frames) == 1:
        return _save(im, fp, filename)
    like = _original(im)
    regions = frames[1:]
    if like is None:
        packed = tavimore.pack(regions=[(0, 0, picture) for picture in regions], size=(im.width, im.height))
    else:
        packed = tavimore.pack(regions=dict(enumerate((0, 0, picture) for picture in regions)), like=like,
                               drop_outside=bool(im.encoderinfo.get("drop_outside")))
    fp.write(packed)


Image.register_open(FORMAT, G00ImageFile, _accept)
Image.register_decoder(FORMAT, G00Decoder)
Image.register_save(FORMAT, _save)
Image.register_save_all(FORMAT, _save_all)
Image.register_extension(FORMAT, ".g00")
Image.register_mime(FORMAT, "image/x-g00")
