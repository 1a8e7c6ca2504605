"""G00 images read and written from Python, through the C library libtavimore (ctypes: nothing
to compile). Pictures are RGBA, 4 bytes a pixel, straight alpha, top row first.

    picture = tavimore.decode(open("pose.g00", "rb").read())
    region, box = tavimore.draw_region(data, 2)
    data = tavimore.pack(picture, like=original)

`import tavimore.pillow` lets Pillow open and save G00 files.
"""
import ctypes
import os
from typing import Mapping, NamedTuple, Optional, Sequence, Tuple, Union

__all__ = ["Error", "Picture", "Box", "decode", "describe", "draw_region", "region_mask", "pack",
           "version"]


class Error(Exception):
    """A failure of the library; the message is its reason ("the file is cut short")."""

    def __init__(self, message, status=0, region=None):
        super().__init__(message)
        self.status = status
        self.region = region  # the region concerned, when there is one


class Picture(NamedTuple):
    width: int
    height: int
    rgba: bytes
    region_count: int = 0  # regions of a region-based picture; 0 for a full-frame one


class Box(NamedTuple):
    left: int
    top: int
    width: int
    height: int


class _Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_uint32), ("height", ctypes.c_uint32),
                ("region_count", ctypes.c_uint32), ("rgba", ctypes.POINTER(ctypes.c_uint8))]


class _Box(ctypes.Structure):
    _fields_ = [("left", ctypes.c_uint32), ("top", ctypes.c_uint32),
                ("width", ctypes.c_uint32), ("height", ctypes.c_uint32)]


class _Part(ctypes.Structure):
    _fields_ = [("x", ctypes.c_uint32), ("y", ctypes.c_uint32),
                ("width", ctypes.c_uint32), ("height", ctypes.c_uint32)]


class _Entry(ctypes.Structure):
    _fields_ = [("index", ctypes.c_uint32), ("block_offset", ctypes.c_uint32),
                ("block_length", ctypes.c_int32), ("flags", ctypes.c_uint32),
                ("part_count", ctypes.c_uint32), ("parts_listed", ctypes.c_uint32),
                ("parts", ctypes.POINTER(_Part)), ("box", _Box)]


class _Record(ctypes.Structure):
    _fields_ = [("x1", ctypes.c_uint32), ("y1", ctypes.c_uint32), ("x2", ctypes.c_uint32),
                ("y2", ctypes.c_uint32), ("unread", ctypes.c_uint32 * 2)]


class _Description(ctypes.Structure):
    _fields_ = [("file_size", ctypes.c_uint64), ("fields", ctypes.c_uint32), ("type", ctypes.c_uint8),
                ("width", ctypes.c_uint32), ("height", ctypes.c_uint32),
                ("compressed_length", ctypes.c_uint32), ("decompressed_length", ctypes.c_uint32),
                ("region_count", ctypes.c_uint32), ("records_listed", ctypes.c_uint32),
                ("records", ctypes.POINTER(_Record)), ("entry_count", ctypes.c_uint32),
                ("entries_listed", ctypes.c_uint32), ("entries", ctypes.POINTER(_Entry)),
                ("result", ctypes.c_int)]


class _RegionPicture(ctypes.Structure):
    _fields_ = [("region", ctypes.c_uint32), ("left", ctypes.c_int32), ("top", ctypes.c_int32),
                ("image", ctypes.POINTER(_Image))]


class _Report(ctypes.Structure):
    _fields_ = [("region", ctypes.c_uint32), ("outside_count", ctypes.c_uint64), ("outside_box", _Box)]


_PIXELS_OUTSIDE = 16
_HAS_HEADER, _HAS_COMPRESSED, _HAS_DECOMPRESSED, _HAS_REGION_COUNT, _HAS_ENTRY_COUNT = 1, 2, 4, 8, 16
_ABSENT, _EMPTY_REGION, _PART_COUNT_READ = 1, 2, 4
_NO_REGION = 0xFFFFFFFF

_OUT = (ctypes.POINTER(ctypes.POINTER(ctypes.c_uint8)), ctypes.POINTER(ctypes.c_size_t))
_SIGNATURES = {
    "tavimore_status_text": ([ctypes.c_int], ctypes.c_char_p),
    "tavimore_version": ([], ctypes.c_char_p),
    "tavimore_free": ([ctypes.c_void_p], None),
    "tavimore_decode": ([ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.POINTER(_Image))], ctypes.c_int),
    "tavimore_draw_region": ([ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint32,
                              ctypes.POINTER(ctypes.POINTER(_Image)), ctypes.POINTER(_Box)], ctypes.c_int),
    "tavimore_region_mask": ([ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint32,
                              ctypes.POINTER(ctypes.POINTER(ctypes.c_uint8)), ctypes.POINTER(_Box)], ctypes.c_int),
    "tavimore_describe": ([ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.POINTER(_Description))],
                          ctypes.c_int),
    "tavimore_pack": ([ctypes.POINTER(_Image), *_OUT], ctypes.c_int),
    "tavimore_pack_like": ([ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(_Image), ctypes.c_int, *_OUT],
                           ctypes.c_int),
    "tavimore_pack_like_regions": ([ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(_RegionPicture),
                                    ctypes.c_size_t, ctypes.c_int, *_OUT, ctypes.POINTER(_Report)], ctypes.c_int),
    "tavimore_pack_regions": ([ctypes.POINTER(_RegionPicture), ctypes.c_size_t, ctypes.c_uint32,
                               ctypes.c_uint32, *_OUT], ctypes.c_int),
}


def _load():
    library = ctypes.CDLL("tavimore.dll" if os.name == "nt" else "libtavimore.so.1")
    for name, (arguments, result) in _SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = result
    return library


_library = _load()


def version() -> str:
    """The library's version, "1.1.0"."""
    return _library.tavimore_version().decode()


def _reason(status):
    return _library.tavimore_status_text(status).decode()


def _check(status, region=None):
    if status != 0:
        raise Error(_reason(status), status, region)


def _bytes(data) -> bytes:
    return bytes(data) if not isinstance(data, bytes) else data


def _taken(image_pointer) -> Picture:
    """The library's image as a Picture; the library's copy is freed."""
    try:
        image = image_pointer.contents
        size = image.width * image.height * 4
        return Picture(image.width, image.height, ctypes.string_at(image.rgba, size), image.region_count)
    finally:
        _library.tavimore_free(image_pointer)


def _taken_bytes(out, size) -> bytes:
    try:
        return ctypes.string_at(out, size.value)
    finally:
        _library.tavimore_free(out)


def decode(data: bytes) -> Picture:
    """The whole picture of a G00 file."""
    data = _bytes(data)
    image = ctypes.POINTER(_Image)()
    _check(_library.tavimore_decode(data, len(data), ctypes.byref(image)))
    return _taken(image)


def draw_region(data: bytes, region: int) -> Tuple[Picture, Box]:
    """Region `region` drawn alone, cut to the box of the pixels it draws, and that box on the
    whole picture. A region that draws no pixel fails ("the picture has no pixels")."""
    data = _bytes(data)
    image = ctypes.POINTER(_Image)()
    box = _Box()
    _check(_library.tavimore_draw_region(data, len(data), region, ctypes.byref(image), ctypes.byref(box)), region)
    return _taken(image), Box(box.left, box.top, box.width, box.height)


def region_mask(data: bytes, region: int) -> Tuple[bytes, Box]:
    """A byte per pixel of draw_region's box: 255 where the region shows in the whole picture, 0
    where a later region replaces it."""
    data = _bytes(data)
    mask = ctypes.POINTER(ctypes.c_uint8)()
    box = _Box()
    _check(_library.tavimore_region_mask(data, len(data), region, ctypes.byref(mask), ctypes.byref(box)), region)
    try:
        return ctypes.string_at(mask, box.width * box.height), Box(box.left, box.top, box.width, box.height)
    finally:
        _library.tavimore_free(mask)


def describe(data: bytes) -> dict:
    """What the file holds, as far as it can be read, with the names of `tavimore-cli --info
    --json` (fields that could not be read are None) and "reason": None when the file decodes,
    else why not."""
    data = _bytes(data)
    pointer = ctypes.POINTER(_Description)()
    _check(_library.tavimore_describe(data, len(data), ctypes.byref(pointer)))
    try:
        d = pointer.contents
        field = lambda flag, value: value if d.fields & flag else None
        header = d.fields & _HAS_HEADER
        entries = []
        for e in d.entries[:d.entries_listed]:
            entries.append({
                "index": e.index, "block_offset": e.block_offset, "block_length": e.block_length,
                "absent": bool(e.flags & _ABSENT), "empty_region": bool(e.flags & _EMPTY_REGION),
                "part_count": e.part_count if e.flags & _PART_COUNT_READ else None,
                "parts": [{"x": p.x, "y": p.y, "width": p.width, "height": p.height}
                          for p in e.parts[:e.parts_listed]],
                "box": {"left": e.box.left, "top": e.box.top, "width": e.box.width,
                        "height": e.box.height} if e.box.width else None})
        return {
            "file_size": d.file_size, "type": d.type if header else None,
            "width": d.width if header else None, "height": d.height if header else None,
            "compressed_length": field(_HAS_COMPRESSED, d.compressed_length),
            "decompressed_length": field(_HAS_DECOMPRESSED, d.decompressed_length),
            "region_count": field(_HAS_REGION_COUNT, d.region_count),
            "regions": [{"index": i, "x1": r.x1, "y1": r.y1, "x2": r.x2, "y2": r.y2, "unread": list(r.unread)}
                        for i, r in enumerate(d.records[:d.records_listed])],
            "entry_count": field(_HAS_ENTRY_COUNT, d.entry_count),
            "entries": entries,
            "reason": _reason(d.result) if d.result else None,
        }
    finally:
        _library.tavimore_free(pointer)


def _image(picture: Picture):
    """A _Image over the picture's own bytes (kept alive by the caller's reference)."""
    rgba = _bytes(picture.rgba)
    if len(rgba) != picture.width * picture.height * 4:
        raise Error(f"the picture holds {len(rgba)} bytes, not {picture.width} x {picture.height} x 4")
    buffer = (ctypes.c_uint8 * len(rgba)).from_buffer_copy(rgba) if rgba else (ctypes.c_uint8 * 1)()
    return _Image(picture.width, picture.height, 0, buffer), buffer


Placed = Tuple[int, int, Picture]  # left, top, picture


def pack(picture: Optional[Picture] = None, *, like: Optional[bytes] = None,
         regions: Union[Sequence[Placed], Mapping[int, Placed], None] = None,
         size: Optional[Tuple[int, int]] = None, drop_outside: bool = False) -> bytes:
    """A G00 file, as bytes:

    pack(picture)                     fresh: full-frame when every pixel is opaque, else one region
    pack(picture, like=original)      like the original G00 file, only its parts' pixels taken
    pack(regions={2: (left, top, picture), ...}, like=original)
                                      like the original, each region given refilled from its own
                                      picture placed at (left, top); the others keep their pixels
    pack(regions=[(left, top, picture), ...], size=(width, height))
                                      fresh, one region per picture, bottom to top

    Pixels no part of the original holds fail it (Error.region says which region's) unless
    drop_outside.
    """
    out = ctypes.POINTER(ctypes.c_uint8)()
    out_size = ctypes.c_size_t()
    outside = 1 if drop_outside else 0
    if (picture is None) == (regions is None):
        raise Error("give either a picture or regions")
    if picture is not None:
        image, _buffer = _image(picture)
        if like is None:
            _check(_library.tavimore_pack(ctypes.byref(image), ctypes.byref(out), ctypes.byref(out_size)))
        else:
            like = _bytes(like)
            _check(_library.tavimore_pack_like(like, len(like), ctypes.byref(image), outside,
                                               ctypes.byref(out), ctypes.byref(out_size)))
        return _taken_bytes(out, out_size)

    placed = list(regions.items()) if isinstance(regions, Mapping) else list(enumerate(regions))
    kept = [_image(p) for _, (_, _, p) in placed]
    array = (_RegionPicture * max(1, len(placed)))()
    for i, ((number, (left, top, _)), (image, _)) in enumerate(zip(placed, kept)):
        array[i] = _RegionPicture(number, left, top, ctypes.pointer(image))
    if like is None:
        if size is None:
            raise Error("a fresh file of regions needs its size")
        _check(_library.tavimore_pack_regions(array, len(placed), size[0], size[1],
                                              ctypes.byref(out), ctypes.byref(out_size)))
        return _taken_bytes(out, out_size)
    like = _bytes(like)
    report = _Report()
    status = _library.tavimore_pack_like_regions(like, len(like), array, len(placed), outside,
                                                 ctypes.byref(out), ctypes.byref(out_size), ctypes.byref(report))
    region = None if report.region == _NO_REGION else report.region
    if status == _PIXELS_OUTSIDE:
        box = report.outside_box
        raise Error(f"{report.outside_count} pixels of region {region:03d} lie outside its parts, within "
                    f"({box.left}, {box.top}) to ({box.left + box.width - 1}, {box.top + box.height - 1})",
                    status, region)
    _check(status, region)
    return _taken_bytes(out, out_size)
