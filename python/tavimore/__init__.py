"""G00 images read and written from Python, through the C library libtavimore (ctypes: nothing
to compile). Pictures are RGBA, 4 bytes a pixel, straight alpha, top row first.

    header = tavimore.read_header(data)          # size and regions, without decoding
    picture = tavimore.decode(data)
    layers = tavimore.decode_layers(data)        # the picture and every region layer, one decode
    region, box = tavimore.draw_region(data, 2)
    data = tavimore.pack(picture, like=original)

Decoding is limited to max_pixels pixels: None (the default) is the library's limit, the one the
command-line programs apply; 0 is no limit. `import tavimore.pillow` lets Pillow open and save
G00 files.
"""
import ctypes
import enum
import os
from typing import List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

__all__ = ["Error", "Status", "Picture", "Box", "Header", "Layer", "Layers", "read_header", "decode",
           "decode_layers", "describe", "draw_region", "region_mask", "pack", "version"]


class Status(enum.IntEnum):
    """tavimore_status of tavimore.h."""
    OK = 0
    NOT_G00 = 1
    UNSUPPORTED_TYPE = 2
    EMPTY_PICTURE = 3
    TOO_LARGE = 4
    OUT_OF_MEMORY = 5
    TRUNCATED = 6
    DAMAGED_STREAM = 7
    DAMAGED_PARTS = 8
    NOT_PICTURE = 9
    PICTURE_TOO_LARGE = 10
    UNSUPPORTED_PICTURE = 11
    DAMAGED_PICTURE = 12
    BAD_CHECKSUM = 13
    SEVERAL_LAYERS = 14
    SIZE_DIFFERS = 15
    PIXELS_OUTSIDE = 16
    INVALID_ARGUMENT = 17
    TRANSPARENCY_LOST = 18
    TOO_MANY_PIXELS = 19
    TOO_MANY_REGIONS = 20
    NO_SUCH_REGION = 21
    REGION_TWICE = 22


class Error(OSError):
    """A failure of the library; the message is its reason ("the file is cut short"), status
    the Status and region the region concerned, when there is one."""

    def __init__(self, message, status=0, region=None):
        super().__init__(message)
        self.status = Status(status) if status in Status._value2member_map_ else status
        self.region = region


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


class Header(NamedTuple):
    """What the header and size fields say; a field the file does not reach is None."""
    status: Status  # what a decode with the same limit gives before it decodes anything
    type: Optional[int]
    width: Optional[int]
    height: Optional[int]
    region_count: Optional[int]  # a region-based file's records; 0 for a full-frame one
    compressed_length: Optional[int]
    decompressed_length: Optional[int]

    @property
    def reason(self) -> Optional[str]:
        """The status in words, None when it is OK."""
        return _reason(self.status) if self.status else None


class Layer(NamedTuple):
    region: int
    box: Box     # where the region's pixels lie on the whole picture
    rgba: bytes  # the region drawn alone, box.width * box.height pixels
    mask: bytes  # a byte a pixel: 255 where it shows, 0 where a later region replaces it


class Layers(NamedTuple):
    picture: Picture
    layers: List[Layer]  # every region that draws a pixel, in region order


class _Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_uint32), ("height", ctypes.c_uint32),
                ("region_count", ctypes.c_uint32), ("rgba", ctypes.POINTER(ctypes.c_uint8))]


class _Box(ctypes.Structure):
    _fields_ = [("left", ctypes.c_uint32), ("top", ctypes.c_uint32),
                ("width", ctypes.c_uint32), ("height", ctypes.c_uint32)]


class _Limits(ctypes.Structure):
    _fields_ = [("max_pixels", ctypes.c_uint64)]


class _Header(ctypes.Structure):
    _fields_ = [("fields", ctypes.c_uint32), ("type", ctypes.c_uint8), ("width", ctypes.c_uint32),
                ("height", ctypes.c_uint32), ("region_count", ctypes.c_uint32),
                ("compressed_length", ctypes.c_uint32), ("decompressed_length", ctypes.c_uint32)]


class _Layer(ctypes.Structure):
    _fields_ = [("region", ctypes.c_uint32), ("box", _Box), ("rgba", ctypes.POINTER(ctypes.c_uint8)),
                ("mask", ctypes.POINTER(ctypes.c_uint8))]


class _Layers(ctypes.Structure):
    _fields_ = [("picture", _Image), ("layer_count", ctypes.c_uint32), ("layers", ctypes.POINTER(_Layer))]


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


_HAS_HEADER, _HAS_COMPRESSED, _HAS_DECOMPRESSED, _HAS_REGION_COUNT, _HAS_ENTRY_COUNT = 1, 2, 4, 8, 16
_ABSENT, _EMPTY_REGION, _PART_COUNT_READ = 1, 2, 4
_NO_REGION = 0xFFFFFFFF

_BYTES = ctypes.c_void_p  # a file or picture in memory: bytes, or an address (see _buffer)
_OUT = (ctypes.POINTER(ctypes.POINTER(ctypes.c_uint8)), ctypes.POINTER(ctypes.c_size_t))
_SIGNATURES = {
    "tavimore_status_text": ([ctypes.c_int], ctypes.c_char_p),
    "tavimore_version": ([], ctypes.c_char_p),
    "tavimore_free": ([ctypes.c_void_p], None),
    "tavimore_read_header": ([_BYTES, ctypes.c_size_t, ctypes.POINTER(_Limits), ctypes.POINTER(_Header)],
                             ctypes.c_int),
    "tavimore_decode_limited": ([_BYTES, ctypes.c_size_t, ctypes.POINTER(_Limits),
                                 ctypes.POINTER(ctypes.POINTER(_Image))], ctypes.c_int),
    "tavimore_decode_layers": ([_BYTES, ctypes.c_size_t, ctypes.POINTER(_Limits),
                                ctypes.POINTER(ctypes.POINTER(_Layers))], ctypes.c_int),
    "tavimore_draw_region": ([_BYTES, ctypes.c_size_t, ctypes.c_uint32,
                              ctypes.POINTER(ctypes.POINTER(_Image)), ctypes.POINTER(_Box)], ctypes.c_int),
    "tavimore_region_mask": ([_BYTES, ctypes.c_size_t, ctypes.c_uint32,
                              ctypes.POINTER(ctypes.POINTER(ctypes.c_uint8)), ctypes.POINTER(_Box)], ctypes.c_int),
    "tavimore_describe": ([_BYTES, ctypes.c_size_t, ctypes.POINTER(ctypes.POINTER(_Description))],
                          ctypes.c_int),
    "tavimore_pack": ([ctypes.POINTER(_Image), *_OUT], ctypes.c_int),
    "tavimore_pack_like": ([_BYTES, ctypes.c_size_t, ctypes.POINTER(_Image), ctypes.c_int, *_OUT],
                           ctypes.c_int),
    "tavimore_pack_like_regions": ([_BYTES, ctypes.c_size_t, ctypes.POINTER(_RegionPicture),
                                    ctypes.c_size_t, ctypes.c_int, *_OUT, ctypes.POINTER(_Report)], ctypes.c_int),
    "tavimore_pack_regions": ([ctypes.POINTER(_RegionPicture), ctypes.c_size_t, ctypes.c_uint32,
                               ctypes.c_uint32, *_OUT], ctypes.c_int),
}


def _load():
    # Beside the package first (a plug-in's folder, an unpacked zip), then where the system looks.
    name = "tavimore.dll" if os.name == "nt" else "libtavimore.so.1"
    here = os.path.dirname(os.path.abspath(__file__))
    for folder in (here, os.path.dirname(here)):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            library = ctypes.CDLL(path)
            break
    else:
        library = ctypes.CDLL(name)
    for function, (arguments, result) in _SIGNATURES.items():
        entry = getattr(library, function)
        entry.argtypes = arguments
        entry.restype = result
    return library


_library = _load()


def version() -> str:
    """The library's version, "1.2.0"."""
    return _library.tavimore_version().decode()


def _reason(status):
    return _library.tavimore_status_text(status).decode()


def _check(status, region=None):
    if status != Status.OK:
        reason = _reason(status)
        if region is not None and status in (Status.NO_SUCH_REGION, Status.REGION_TWICE):
            reason = f"region {region:03d} {reason}"
        raise Error(reason, status, region)


class _Buffer:
    """Bytes-like input as an address the library reads from, without a copy when Python lets
    one have it; keep the object while the library runs."""

    def __init__(self, data):
        if isinstance(data, bytes):
            self.keep = data
            self.address = ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value
        else:
            view = memoryview(data).cast("B")
            if view.readonly:
                self.keep = bytes(view)
                self.address = ctypes.cast(ctypes.c_char_p(self.keep), ctypes.c_void_p).value
            else:
                self.keep = (ctypes.c_uint8 * len(view)).from_buffer(view) if len(view) else None
                self.address = ctypes.addressof(self.keep) if len(view) else None
        self.size = len(self.keep) if self.keep is not None else 0
        if self.address is None:  # empty: the library still needs a pointer
            self.keep = ctypes.c_uint8()
            self.address = ctypes.addressof(self.keep)


def _array(address, size):
    """The library's bytes at address as a ctypes array (a buffer of any size, unlike
    ctypes.string_at, whose size is a C int)."""
    return (ctypes.c_uint8 * size).from_address(address) if size else b""


def _copied(address, size) -> bytes:
    return bytes(_array(address, size))


def _address(pointer):
    return ctypes.cast(pointer, ctypes.c_void_p).value


def _limits(max_pixels):
    return None if max_pixels is None else ctypes.byref(_Limits(max_pixels))


def read_header(data, max_pixels: Optional[int] = None) -> Header:
    """The header and size fields, read without decoding; status is what decode(data,
    max_pixels) gives before it decodes anything (Status.OK, TRUNCATED, NOT_G00,
    UNSUPPORTED_TYPE, EMPTY_PICTURE, TOO_MANY_PIXELS, TOO_LARGE or DAMAGED_PARTS). Never raises
    for what the file holds: a beginning of a file gives the fields it reaches."""
    buffer = _Buffer(data)
    h = _Header()
    status = _library.tavimore_read_header(buffer.address, buffer.size, _limits(max_pixels), ctypes.byref(h))
    if status == Status.INVALID_ARGUMENT:
        _check(status)
    has = lambda flag, value: value if h.fields & flag else None
    return Header(Status(status), has(_HAS_HEADER, h.type), has(_HAS_HEADER, h.width),
                  has(_HAS_HEADER, h.height),
                  h.region_count if h.fields & _HAS_REGION_COUNT else has(_HAS_COMPRESSED, 0),
                  has(_HAS_COMPRESSED, h.compressed_length), has(_HAS_DECOMPRESSED, h.decompressed_length))


class _Decoded:
    """The library's decoded picture, freed on close; `pixels` is its RGBA as a buffer."""

    def __init__(self, data, max_pixels):
        buffer = _Buffer(data)
        self._image = ctypes.POINTER(_Image)()
        _check(_library.tavimore_decode_limited(buffer.address, buffer.size, _limits(max_pixels),
                                                ctypes.byref(self._image)))
        image = self._image.contents
        self.width, self.height, self.region_count = image.width, image.height, image.region_count
        self.pixels = _array(_address(image.rgba), image.width * image.height * 4)

    def close(self):
        self.pixels = None
        _library.tavimore_free(self._image)
        self._image = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def decode(data, max_pixels: Optional[int] = None) -> Picture:
    """The whole picture of a G00 file."""
    with _Decoded(data, max_pixels) as decoded:
        return Picture(decoded.width, decoded.height, bytes(decoded.pixels), decoded.region_count)


def decode_layers(data, max_pixels: Optional[int] = None) -> Layers:
    """The whole picture and every region that draws a pixel, from one decode: each drawn alone,
    cut to its box, with its mask (as draw_region and region_mask give them). A full-frame file
    gives no layer."""
    buffer = _Buffer(data)
    pointer = ctypes.POINTER(_Layers)()
    _check(_library.tavimore_decode_layers(buffer.address, buffer.size, _limits(max_pixels),
                                           ctypes.byref(pointer)))
    try:
        result = pointer.contents
        image = result.picture
        picture = Picture(image.width, image.height,
                          _copied(_address(image.rgba), image.width * image.height * 4), image.region_count)
        layers = []
        for layer in result.layers[:result.layer_count]:
            b = layer.box
            pixels = b.width * b.height
            layers.append(Layer(layer.region, Box(b.left, b.top, b.width, b.height),
                                _copied(_address(layer.rgba), pixels * 4), _copied(_address(layer.mask), pixels)))
        return Layers(picture, layers)
    finally:
        _library.tavimore_free(pointer)


def draw_region(data, region: int) -> Tuple[Picture, Box]:
    """Region `region` drawn alone, cut to the box of the pixels it draws, and that box on the
    whole picture. A region that draws no pixel fails ("width or height is 0")."""
    buffer = _Buffer(data)
    image = ctypes.POINTER(_Image)()
    box = _Box()
    _check(_library.tavimore_draw_region(buffer.address, buffer.size, region, ctypes.byref(image),
                                         ctypes.byref(box)))
    try:
        i = image.contents
        picture = Picture(i.width, i.height, _copied(_address(i.rgba), i.width * i.height * 4), i.region_count)
    finally:
        _library.tavimore_free(image)
    return picture, Box(box.left, box.top, box.width, box.height)


def region_mask(data, region: int) -> Tuple[bytes, Box]:
    """A byte per pixel of draw_region's box: 255 where the region shows in the whole picture, 0
    where a later region replaces it."""
    buffer = _Buffer(data)
    mask = ctypes.POINTER(ctypes.c_uint8)()
    box = _Box()
    _check(_library.tavimore_region_mask(buffer.address, buffer.size, region, ctypes.byref(mask),
                                         ctypes.byref(box)))
    try:
        return _copied(_address(mask), box.width * box.height), Box(box.left, box.top, box.width, box.height)
    finally:
        _library.tavimore_free(mask)


def describe(data) -> dict:
    """What the file holds, as far as it can be read, with the names of `tavimore-cli --info
    --json` (fields that could not be read are None) and "reason": None when the file decodes,
    else why not."""
    buffer = _Buffer(data)
    pointer = ctypes.POINTER(_Description)()
    _check(_library.tavimore_describe(buffer.address, buffer.size, ctypes.byref(pointer)))
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
    """A _Image over the picture's own bytes, and what keeps them alive while it is used."""
    buffer = _Buffer(picture.rgba)
    if buffer.size != picture.width * picture.height * 4:
        raise Error(f"the picture holds {buffer.size} bytes, not {picture.width} x {picture.height} x 4",
                    Status.INVALID_ARGUMENT)
    image = _Image(picture.width, picture.height, 0, ctypes.cast(buffer.address, ctypes.POINTER(ctypes.c_uint8)))
    return image, buffer


def _taken_bytes(out, size) -> bytes:
    try:
        return _copied(_address(out), size.value)
    finally:
        _library.tavimore_free(out)


Placed = Tuple[int, int, Picture]  # left, top, picture


def pack(picture: Optional[Picture] = None, *, like=None,
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
        raise Error("give either a picture or regions", Status.INVALID_ARGUMENT)
    if picture is not None:
        image, _kept = _image(picture)
        if like is None:
            _check(_library.tavimore_pack(ctypes.byref(image), ctypes.byref(out), ctypes.byref(out_size)))
        else:
            original = _Buffer(like)
            _check(_library.tavimore_pack_like(original.address, original.size, ctypes.byref(image), outside,
                                               ctypes.byref(out), ctypes.byref(out_size)))
        return _taken_bytes(out, out_size)

    placed = list(regions.items()) if isinstance(regions, Mapping) else list(enumerate(regions))
    kept = [_image(p) for _, (_, _, p) in placed]
    array = (_RegionPicture * max(1, len(placed)))()
    for i, ((number, (left, top, _)), (image, _)) in enumerate(zip(placed, kept)):
        array[i] = _RegionPicture(number, left, top, ctypes.pointer(image))
    if like is None:
        if size is None:
            raise Error("a fresh file of regions needs its size", Status.INVALID_ARGUMENT)
        _check(_library.tavimore_pack_regions(array, len(placed), size[0], size[1],
                                              ctypes.byref(out), ctypes.byref(out_size)))
        return _taken_bytes(out, out_size)
    original = _Buffer(like)
    report = _Report()
    status = _library.tavimore_pack_like_regions(original.address, original.size, array, len(placed), outside,
                                                 ctypes.byref(out), ctypes.byref(out_size), ctypes.byref(report))
    region = None if report.region == _NO_REGION else report.region
    if status == Status.PIXELS_OUTSIDE:
        box = report.outside_box
        raise Error(f"{report.outside_count} pixels of region {region:03d} lie outside its parts, within "
                    f"({box.left}, {box.top}) to ({box.left + box.width - 1}, {box.top + box.height - 1})",
                    status, region)
    _check(status, region)
    return _taken_bytes(out, out_size)
