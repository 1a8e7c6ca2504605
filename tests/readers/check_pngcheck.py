"""pngcheck finds every PNG valid: signature, chunk CRCs, IHDR, the zlib stream and its
filters, the image size the stream inflates to."""

import subprocess
import sys

import samples

PNGCHECK = "/usr/bin/pngcheck"


def check(sample):
    for path, kind in ((sample.png, "32-bit RGB+alpha"), (sample.rgb_png, "24-bit RGB")):
        done = subprocess.run([PNGCHECK, "-v", path], capture_output=True, timeout=60)
        text = done.stdout.decode(errors="replace")
        if done.returncode != 0 or "No errors detected" not in text:
            raise samples.Mismatch("pngcheck rejects %s: %s" % (path, text.strip()[-400:]))
        if "%d x %d image, %s" % (sample.width, sample.height, kind) not in text:
            raise samples.Mismatch("pngcheck does not see a %d x %d %s image in %s"
                                   % (sample.width, sample.height, kind, path))
    return ""


def main():
    run = samples.Run("pngcheck")
    for sample in samples.load(sys.argv[1]):
        run.check(sample, lambda: check(sample))
    run.finish()


if __name__ == "__main__":
    main()
