#!/usr/bin/python3
"""The gdk-pixbuf loader through its real clients, with a loader cache made for the given module
and a MIME database holding the given entry (nothing of the system is changed):

  pixbuf       GdkPixbuf in this process loads each test picture as the converter's PNG,
               RGBA for region-based pictures and RGB for full frames, pixel for pixel
  hostile      each file of the corpus loads when the converter takes it, and otherwise fails
               with the library's reason for it and the error code of its cause; none crashes
               (run under the sanitizers' runtime when the loader is built with them)
  untyped      a GdkPixbufLoader given no type takes the test pictures as G00 by their bytes;
               a 13-byte file claiming 16384 x 16384 is refused as soon as its header is
               written, after its size was told, and a damaged and a cut file fail at the end;
               a caller that stops at the size gets no error
  recognition  the MIME magic and the loader's signatures take a header exactly when the
               library judges it a G00 picture's (of any size)
  thumbnailer  gdk-pixbuf-thumbnailer -s 128 gives the picture scaled, within the scaler's
               rounding, at its aspect, and writes nothing for the refused files
  entry        the thumbnailer entry's Exec line run as a file manager runs it, for the MIME
               type the database gives a .g00 file

usage: check_loader.py --module SO --mime XML --entry THUMBNAILER --cli CLI --make G00MAKE
                       [--hostile DIR] [--library LIBTAVIMORE] CHECK...
"""
import argparse
import ctypes
import json
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

QUERY_LOADERS = "/usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/gdk-pixbuf-query-loaders"
TOOLS = {  # what each check runs, and the Debian package that brings it
    QUERY_LOADERS: "libgdk-pixbuf-2.0-0",
    "gdk-pixbuf-thumbnailer": "libgdk-pixbuf2.0-bin",
    "update-mime-database": "shared-mime-info",
}
# name, generator, size, G00 type: both kinds, wide, tall, and smaller than a thumbnail
PICTURES = [
    ("sprite", "sprite", "300x200", 2),
    ("photo", "photo", "400x100", 0),
    ("lines", "lineart", "90x333", 2),
    ("small", "sprite", "40x30", 2),
]


def tool(command, host=False, **options):
    """Runs a program; only those that load the loader (host) keep the sanitizers' runtime this
    process may have been given for it, since the sanitizers' own programs carry theirs."""
    env = dict(os.environ)
    if not host:
        env.pop("LD_PRELOAD", None)
    return subprocess.run(command, env=env, **options)


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def prepare(args, work):
    """Test pictures, the converter's PNG files, the loader cache and the MIME database."""
    for program, package in TOOLS.items():
        if shutil.which(program) is None:
            fail(f"{program} is missing: install {package}")
    try:
        import gi  # noqa: F401
    except ImportError:
        fail("python3-gi and gir1.2-gdkpixbuf-2.0 are not installed")
    pictures = []
    for name, kind, size, g00_type in PICTURES:
        path = os.path.join(work, name + ".g00")
        tool([args.make, "--kind", kind, "--size", size, "--type", str(g00_type), path],
                       check=True, stdout=subprocess.DEVNULL)
        pictures.append((path, g00_type))
    tool([args.cli, "-q", "--png", "-o", os.path.join(work, "png")] + [p for p, _ in pictures],
                   check=True)
    use_loader(args.module, args.mime, work)
    return pictures


def use_loader(module, mime, work):
    """A loader cache of the module and a MIME database of the entry, in work, for this
    process and the programs it starts."""
    cache = tool([QUERY_LOADERS, os.path.abspath(module)], host=True, check=True,
                 capture_output=True, text=True).stdout
    if '"image/x-g00"' not in cache:
        fail("gdk-pixbuf-query-loaders does not list image/x-g00 for the module:\n" + cache)
    with open(os.path.join(work, "loaders.cache"), "w") as f:
        f.write(cache)
    packages = os.path.join(work, "share", "mime", "packages")
    os.makedirs(packages)
    shutil.copy(mime, packages)
    tool(["update-mime-database", os.path.dirname(packages)], check=True,
         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["GDK_PIXBUF_MODULE_FILE"] = os.path.join(work, "loaders.cache")
    os.environ["XDG_DATA_DIRS"] = os.path.join(work, "share") + ":/usr/share"


def pixbuf_module():
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib
    return GdkPixbuf, GLib


def rows(pixbuf):
    """The pixels without the rowstride's padding."""
    data = pixbuf.get_pixels()
    width = pixbuf.get_width() * pixbuf.get_n_channels()
    stride = pixbuf.get_rowstride()
    return b"".join(data[y * stride:y * stride + width] for y in range(pixbuf.get_height()))


def png_of(work, path):
    return os.path.join(work, "png", os.path.basename(path)[:-4] + ".png")


def check_pixbuf(args, work, pictures):
    GdkPixbuf, _ = pixbuf_module()
    for path, g00_type in pictures:
        info = GdkPixbuf.Pixbuf.get_file_info(path)
        if info[0] is None or info[0].get_name() != "g00":
            fail(f"{path}: GdkPixbuf does not pick the g00 loader")
        got = GdkPixbuf.Pixbuf.new_from_file(path)
        want = GdkPixbuf.Pixbuf.new_from_file(png_of(work, path))
        if got.get_has_alpha() != (g00_type == 2):
            fail(f"{path}: alpha {got.get_has_alpha()} for a type {g00_type} picture")
        if (got.get_width(), got.get_height(), got.get_n_channels()) != \
                (want.get_width(), want.get_height(), want.get_n_channels()) or rows(got) != rows(want):
            fail(f"{path}: the pixels differ from the converter's PNG")
    print(f"pixbuf: {len(pictures)} pictures equal the converter's PNG files")


def library_of(args):
    library = ctypes.CDLL(args.library)
    library.tavimore_status_text.restype = ctypes.c_char_p
    return library


def reason_of(library, data):
    """The library's words for what tavimore_decode gives the file; None when it decodes."""
    image = ctypes.c_void_p()
    status = library.tavimore_decode(data, ctypes.c_size_t(len(data)), ctypes.byref(image))
    library.tavimore_free(image)
    return library.tavimore_status_text(status).decode() if status else None


def loaded(loader, data, sizes=None):
    """Writes the file into the loader and closes it: None, or the GError."""
    _, GLib = pixbuf_module()
    if sizes is not None:
        loader.connect("size-prepared", lambda _, width, height: sizes.append((width, height)))
    try:
        loader.write(data)
        loader.close()
        return None
    except GLib.Error as error:
        return error


def check_hostile(args, work, pictures):
    """Each file fails exactly when the converter fails it, with the library's own text for
    what tavimore_decode gives it and the error code of the cause the corpus lists."""
    GdkPixbuf, GLib = pixbuf_module()
    error = GdkPixbuf.PixbufError
    codes = {"truncated": error.CORRUPT_IMAGE, "damagedStream": error.CORRUPT_IMAGE,
             "damagedParts": error.CORRUPT_IMAGE, "emptyPicture": error.CORRUPT_IMAGE,
             "notG00": error.UNKNOWN_TYPE, "unsupportedType": error.UNKNOWN_TYPE,
             "tooLarge": error.INSUFFICIENT_MEMORY, "ok-or-outOfMemory": error.INSUFFICIENT_MEMORY}
    library = library_of(args)
    causes = dict(line.split()[:2] for line in open(os.path.join(args.hostile, "expected.txt")))
    names = [name for name in causes if name.endswith(".g00")]
    paths = [os.path.join(args.hostile, name) for name in names]
    described = tool([args.cli, "--info", "--json", "--max-pixels=0"] + paths,
                               capture_output=True, text=True)
    converts = {os.path.basename(d["file"]): d["reason"] is None for d in json.loads(described.stdout)}
    for name, path in zip(names, paths):
        data = open(path, "rb").read()
        failure = loaded(GdkPixbuf.PixbufLoader.new_with_type("g00"), data)
        message = failure and failure.message
        reason = reason_of(library, data)
        # An empty file never reaches the loader: gdk-pixbuf gives its own words.
        if converts[name] != (message is None) or (data and message != reason):
            fail(f"{name}: the loader says {message!r}, the library {reason!r}, "
                 f"the converter {'takes' if converts[name] else 'refuses'} it")
        if data and failure and failure.code != codes.get(causes[name]):
            fail(f"{name}: error {failure.message!r} ({failure.code}) is no {causes[name]}")
    print(f"hostile: {len(names)} files, each failed with the library's reason and its "
          "cause's code, or loaded")


def refused_files(work, pictures):
    """A 13-byte file claiming 16384 x 16384 (an empty stream: a black picture within the
    limits), a full frame whose first item copies from before the picture, and a region-based
    one cut in half: paths, bytes and the error code of their cause."""
    GdkPixbuf, _ = pixbuf_module()
    error = GdkPixbuf.PixbufError
    sprite, photo = (open(next(p for p, t in pictures if t == g00_type), "rb").read()
                     for g00_type in (2, 0))
    files = [("bomb", struct.pack("<BHHII", 0, 16384, 16384, 8, 0), error.INSUFFICIENT_MEMORY),
             ("damaged", photo[:13] + b"\0\xff\xff" + photo[16:], error.CORRUPT_IMAGE),
             ("cut", sprite[:len(sprite) // 2], error.CORRUPT_IMAGE)]
    for name, data, _ in files:
        with open(os.path.join(work, name + ".g00"), "wb") as f:
            f.write(data)
    return [(os.path.join(work, name + ".g00"), data, code) for name, data, code in files]


def check_untyped(args, work, pictures):
    GdkPixbuf, GLib = pixbuf_module()
    library = library_of(args)
    for path, _ in pictures:
        loader = GdkPixbuf.PixbufLoader.new()
        failure = loaded(loader, open(path, "rb").read())
        if failure or loader.get_format().get_name() != "g00":
            fail(f"{path}: a loader without a type does not take it as G00: {failure}")
    refused = refused_files(work, pictures)
    for path, data, code in refused:
        header, sizes = struct.unpack("<HH", data[1:5]), []
        failure = loaded(GdkPixbuf.PixbufLoader.new(), data, sizes)
        if failure is None or failure.code != code or failure.message != reason_of(library, data) \
                or sizes != [header]:
            fail(f"{path}: sizes {sizes} and {failure}, not {header} and {code.value_nick}")
        # A caller that wants the size alone (gdk_pixbuf_get_file_info) gets it and no error.
        stopped = GdkPixbuf.PixbufLoader.new()
        stopped.connect("size-prepared", lambda loader, *_: loader.set_size(0, 0))
        failure = loaded(stopped, data)
        if failure or stopped.get_pixbuf() or GdkPixbuf.Pixbuf.get_file_info(path)[1:] != header:
            fail(f"{path}: stopped at its size, the loader gives {failure or 'a pixbuf'}")
    try:  # refused from its header, not once the file is whole
        GdkPixbuf.PixbufLoader.new_with_type("g00").write(refused[0][1][:5])
        fail("a header of 16384 x 16384 is taken until the file ends")
    except GLib.Error as error:
        if error.code != GdkPixbuf.PixbufError.INSUFFICIENT_MEMORY:
            fail(f"the header of 16384 x 16384 gives {error}")
    print(f"untyped: {len(pictures)} pictures taken by their bytes; the bomb refused at its "
          "header, the damaged and cut files at the end; the size given alone when asked")


def check_recognition(args, work, pictures):
    """Every type byte class, and each bit of width and height alone, against the library's
    judgement of the header: the MIME database of the entry alone (so that no other type's magic
    takes a header first), and the signatures as gdk-pixbuf-query-loaders lists them, matched by
    gdk-pixbuf's rules (mask ' ' equal, '!' not equal, 'z' zero, 'n' not zero, others any)."""
    library = library_of(args)
    sides = [0] + [1 << bit for bit in range(16)]
    headers = [struct.pack("<BHHII", g00_type, width, height, 8, 0)
               for g00_type in (0, 1, 2, 3, 0x80, 0xfd, 0xff) for width in sides for height in sides]
    refusals = {1, 2, 3}  # TAVIMORE_NOT_G00, _UNSUPPORTED_TYPE, _EMPTY_PICTURE: no picture's header
    fields = (ctypes.c_uint32 * 8)()  # a tavimore_header
    wanted = [library.tavimore_read_header(h, ctypes.c_size_t(len(h)), None, fields) not in refusals
              for h in headers]
    alone = dict(os.environ, XDG_DATA_DIRS=os.path.join(work, "share"),
                 XDG_DATA_HOME=os.path.join(work, "nothing"))
    alone.pop("LD_PRELOAD", None)
    guess = ("import sys; from gi.repository import Gio; "
             "print(*(Gio.content_type_guess(None, bytes.fromhex(h))[0] for h in sys.argv[1:]))")
    guessed = subprocess.run(["/usr/bin/python3", "-c", guess] + [h.hex() for h in headers],
                             env=alone, check=True, capture_output=True, text=True).stdout.split()
    cache = open(os.environ["GDK_PIXBUF_MODULE_FILE"], encoding="latin-1").read()
    patterns = [(prefix.encode("latin-1").decode("unicode_escape").encode("latin-1"), mask)
                for prefix, mask in re.findall(r'^"((?:[^"\\]|\\.)*)" "([^"]*)" \d+$', cache, re.M)]

    def signed(data):
        return any(len(data) >= len(prefix) and all(
            m == " " and d == p or m == "!" and d != p or m == "z" and d == 0 or m == "n" and d != 0
            or m not in " !zn" for p, m, d in zip(prefix, mask.ljust(len(prefix)), data))
            for prefix, mask in patterns)

    for header, want, mime in zip(headers, wanted, guessed):
        if (mime == "image/x-g00") != want or signed(header) != want:
            fail(f"header {header[:5].hex()}: the library {'takes' if want else 'refuses'} it, the "
                 f"MIME magic gives {mime}, the signatures {'match' if signed(header) else 'do not'}")
    print(f"recognition: {len(headers)} headers, {sum(wanted)} taken, magic and signatures agree "
          "with the library")


def scaled_equal(thumbnail, expected_path, size):
    """The thumbnail against the converter's PNG scaled by gdk-pixbuf to the same size: the
    largest side `size` (smaller pictures are enlarged), the aspect kept, pixels within the scaler's
    rounding (colours weighted by their alpha, since scalers treat hidden colours differently)."""
    GdkPixbuf, _ = pixbuf_module()
    want = GdkPixbuf.Pixbuf.new_from_file(expected_path)
    w, h = want.get_width(), want.get_height()
    got = GdkPixbuf.Pixbuf.new_from_file(thumbnail)
    scale = size / max(w, h)
    tw, th = got.get_width(), got.get_height()
    if max(tw, th) != max(1, round(max(w, h) * scale)) or abs(tw / th - w / h) > 2 / min(tw, th):
        return f"{tw}x{th} for a {w}x{h} picture at size {size}"
    if got.get_has_alpha() != want.get_has_alpha():
        return "the thumbnail's alpha is not the picture's"
    scaled = want.scale_simple(tw, th, GdkPixbuf.InterpType.BILINEAR)
    a, b = rows(got), rows(scaled)
    channels = got.get_n_channels()
    total = worst = 0
    for i in range(0, len(a), channels):
        alpha = min(a[i + 3], b[i + 3]) if channels == 4 else 255
        for c in range(channels):
            difference = abs(a[i + c] - b[i + c]) * (alpha if c < 3 else 255) // 255
            total += difference
            worst = max(worst, difference)
    mean = total / len(a)
    if mean > 2.0 or worst > 64:
        return f"pixels differ from the scaled PNG: mean {mean:.2f}, worst {worst}"
    return None


def check_thumbnailer(args, work, pictures):
    for path, _ in pictures:
        out = path[:-4] + "-thumbnail.png"
        run = tool(["gdk-pixbuf-thumbnailer", "-s", "128", path, out], host=True,
                             capture_output=True, text=True)
        if run.returncode != 0:
            fail(f"gdk-pixbuf-thumbnailer {path}: {run.stderr.strip()}")
        problem = scaled_equal(out, png_of(work, path), 128)
        if problem:
            fail(f"gdk-pixbuf-thumbnailer {path}: {problem}")
    library = library_of(args)
    refused = refused_files(work, pictures)
    for path, data, _ in refused:
        out = path[:-4] + "-thumbnail.png"
        run = tool(["gdk-pixbuf-thumbnailer", "-s", "128", path, out], host=True,
                   capture_output=True, text=True)
        if run.returncode == 0 or os.path.exists(out) or reason_of(library, data) not in run.stderr:
            fail(f"gdk-pixbuf-thumbnailer {path}: exit {run.returncode}, "
                 f"{'a' if os.path.exists(out) else 'no'} thumbnail, {run.stderr.strip()!r}")
    print(f"thumbnailer: {len(pictures)} thumbnails of 128 pixels as the PNG files scaled; "
          f"{len(refused)} files refused with the library's reason, no thumbnail written")


def check_entry(args, work, pictures):
    pixbuf_module()
    from gi.repository import Gio, GLib
    entry = GLib.KeyFile()
    entry.load_from_file(args.entry, GLib.KeyFileFlags.NONE)
    group = "Thumbnailer Entry"
    types = entry.get_string_list(group, "MimeType")
    try_exec = entry.get_string(group, "TryExec")
    if shutil.which(try_exec) is None:
        fail(f"the entry's TryExec {try_exec} is missing")
    for path, _ in pictures:
        mime, _ = Gio.content_type_guess(path, open(path, "rb").read(64))
        if mime not in types:
            fail(f"{path} is {mime}, which the entry does not list ({types})")
        out = path[:-4] + "-entry.png"
        words = {"%i": path, "%u": Gio.File.new_for_path(path).get_uri(), "%o": out, "%s": "256",
                 "%%": "%"}
        command = [words.get(word, word) for word in shlex.split(entry.get_string(group, "Exec"))]
        run = tool(command, host=True, capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(out):
            fail(f"{' '.join(command)}: {run.stderr.strip()}")
        problem = scaled_equal(out, png_of(work, path), 256)
        if problem:
            fail(f"the entry's thumbnail of {path}: {problem}")
    print(f"entry: the Exec line thumbnails {len(pictures)} files of type image/x-g00")


def main():
    parser = argparse.ArgumentParser()
    for option in ("module", "mime", "entry", "cli", "make"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--hostile")
    parser.add_argument("--library", help="libtavimore.so.1, for every check but pixbuf and entry")
    parser.add_argument("checks", nargs="+", choices=["pixbuf", "hostile", "untyped", "recognition",
                                                      "thumbnailer", "entry"])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        pictures = prepare(args, work)
        for check in args.checks:
            globals()["check_" + check](args, work, pictures)


if __name__ == "__main__":
    main()
