#!/usr/bin/env python3
"""Runs one end-to-end scenario of tavimore.exe.

Starts a private X screen (Xvfb 1024x768x24 on a free display) with openbox, makes the Wine
prefix of the build tree once (Japanese locale, so code page 932), lays out the scenario's
G00 files, has the command-line converter write the expected outputs, runs the driver, which
works the program through its windows, and then compares what the program wrote with what the
command-line converter wrote, byte for byte.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

WINE_TIMEOUT = 120
# The loader: wine, or another (wine64 for a 64-bit build) named by TAVIMORE_WINE.
WINE = os.environ.get("TAVIMORE_WINE", "wine")
DRIVER_TIMEOUT = 480

# The load scenario: names of this many bytes, this many files, the first batch's size. Long
# names fill the selection with fewer files (about 430), and so fewer conversions; with the
# build tree's folder in front they stay well inside the program's 260-byte paths.
LOAD_NAME_BYTES = 150
LOAD_FILES = 460
LOAD_FIRST_BATCH = 150
SELECTION_DIALOG_BYTES = 65014  # what the program tells the open dialog


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, name, detail=""):
        if ok:
            self.passed += 1
            print(f"ok - {name}", flush=True)
        else:
            self.failed += 1
            print(f"not ok - {name}" + (f": {detail}" if detail else ""), flush=True)
        return ok

    def take_driver_output(self, text):
        for line in text.splitlines():
            print(line, flush=True)
            if line.startswith("ok - "):
                self.passed += 1
            elif line.startswith("not ok - "):
                self.failed += 1


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Screen:
    """Xvfb on a display number it picks itself, with openbox for title bars."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        env = dict(os.environ, DISPLAY=self.display)
        self.openbox = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                                   capture_output=True, text=True)
            if "window id" in probe.stdout:
                break
            time.sleep(0.2)
        else:
            raise RuntimeError("openbox did not start")

    def close(self):
        for process in (self.openbox, self.xvfb):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


class Wine:
    def __init__(self, args, display, extra_path=None):
        state = Path(args.state_dir)
        self.home = state / "home"
        self.home.mkdir(parents=True, exist_ok=True)
        self.prefix = state / "wineprefix"
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        env.update(
            DISPLAY=display, HOME=str(self.home), WINEPREFIX=str(self.prefix),
            TAVIMORE_WINEPREFIX=str(self.prefix), WINEARCH=os.environ.get("TAVIMORE_WINEARCH", "win32"), WINEDEBUG="-all",
            LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")
        if extra_path:
            env["PATH"] = str(extra_path) + os.pathsep + env.get("PATH", "")
        self.env = env
        # Made once with wineboot run to completion; the desktop folder is then this HOME.
        subprocess.run([str(Path(args.source_dir) / "tools" / "wine-prefix.sh")], env=env,
                       check=True, stdout=subprocess.DEVNULL, timeout=600)

    def run(self, program, *arguments, timeout=WINE_TIMEOUT, cwd=None):
        return subprocess.run([WINE, str(program), *map(str, arguments)], env=self.env,
                              cwd=cwd, capture_output=True, timeout=timeout)

    def start(self, program, *arguments):
        return subprocess.Popen([WINE, str(program), *map(str, arguments)], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def stop(self):
        # Ends the programs of this prefix only (the driver's and the program's).
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)


class Scenario:
    def __init__(self, args, wine, work, results):
        self.args = args
        self.wine = wine
        self.work = work
        self.results = results

    def make_g00(self, path, *options):
        path.parent.mkdir(parents=True, exist_ok=True)
        done = self.wine.run(self.args.g00_make, *options, windows_path(path))
        if done.returncode != 0 or not path.exists():
            raise RuntimeError(f"g00-make failed for {path}: {done.stderr.decode(errors='replace')}")

    def expect(self, folder, files, bmp=False):
        """The command-line converter's outputs of the files, in a folder of their own."""
        folder.mkdir(parents=True, exist_ok=True)
        options = (["--bmp"] if bmp else []) + ["-j", "1", "-o", windows_path(folder)]
        done = self.wine.run(self.args.cli, *options, *map(windows_path, files))
        if done.returncode != 0:
            raise RuntimeError("tavimore-cli failed: " + done.stderr.decode(errors="replace"))
        return folder

    def same_folder(self, actual, expected, name):
        got = sorted(p.name for p in actual.iterdir()) if actual.is_dir() else []
        want = sorted(p.name for p in expected.iterdir())
        if not self.results.check(got == want, f"{name}: the output files", f"got {got}, expected {want}"):
            return
        different = [n for n in want if (actual / n).read_bytes() != (expected / n).read_bytes()]
        self.results.check(not different, f"{name}: bytes equal to tavimore-cli's",
                           f"differing: {different}")

    def driver_arguments(self, **extra):
        values = dict(exe=windows_path(self.args.exe), probe=windows_path(self.args.probe),
                      work=windows_path(self.work), maker=self.args.maker,
                      homepage=self.args.homepage, version=self.args.version, **extra)
        return [f"{k}={v}" for k, v in values.items()]

    def drive(self, name, while_running=None, **extra):
        driver = self.wine.start(self.args.driver, name, *self.driver_arguments(**extra))
        deadline = time.time() + DRIVER_TIMEOUT
        while driver.poll() is None and time.time() < deadline:
            if while_running:
                while_running()
            time.sleep(0.1)
        if driver.poll() is None:
            driver.kill()
            self.results.check(False, "the driver finishes in time")
        out, err = driver.communicate()
        self.results.take_driver_output(out.decode("utf-8", errors="replace"))
        if err.strip():
            sys.stderr.write(err.decode("utf-8", errors="replace"))
        self.results.check(driver.returncode == 0 or self.results.failed > 0,
                           "the driver ran to its end", f"exit code {driver.returncode}")

    # ---- the scenarios --------------------------------------------------------------------

    def window(self):
        shot = self.work / "window.png"
        state = {"taken": False}

        def take_screenshot():
            if state["taken"] or not (self.work / "screenshot.ready").exists():
                return
            state["taken"] = True
            screen = self.work / "screen.png"
            subprocess.run(["import", "-window", "root", str(screen)],
                           env=dict(os.environ, DISPLAY=self.wine.env["DISPLAY"]), check=True)
            # The window with a margin: its frame starts just above and left of 262,294.
            subprocess.run(["convert", str(screen), "-crop", "520x200+252+284", "+repage",
                            str(shot)], check=True)
            (self.work / "screenshot.done").write_text("")

        self.drive("window", while_running=take_screenshot)
        if self.results.check(shot.exists(), "a screenshot of the window"):
            colours = subprocess.run(["identify", "-format", "%k", str(shot)],
                                     capture_output=True, text=True).stdout
            self.results.check(colours.isdigit() and int(colours) > 8,
                               "the screenshot shows a drawn window", f"{colours} colours")
            if self.args.screenshot:
                shutil.copyfile(shot, self.args.screenshot)

    def select(self):
        pick = self.work / "pick"
        for seed, name in enumerate(["a.g00", "b.g00", "c.g00"], 1):
            self.make_g00(pick / name, "--kind", "photo", "--size", "40x30", "--seed", seed)
        (pick / "notes.txt").write_text("not a picture\n")
        (pick / "sub").mkdir()
        self.drive("select")

    def convert(self):
        sources = self.work / "in"
        self.make_g00(sources / "a.g00", "--kind", "photo", "--size", "96x64", "--type", "0")
        self.make_g00(sources / "b.g00", "--kind", "sprite", "--size", "120x90", "--seed", "2")
        self.make_g00(sources / "ソース表.g00", "--kind", "sprite", "--size", "70x50",
                      "--seed", "3")
        files = sorted(sources.iterdir())
        psd = self.expect(self.work / "expected-psd", files)
        bmp = self.expect(self.work / "expected-bmp", files, bmp=True)
        # A relative folder is taken from the current folder, which the open dialog has made
        # the one the files were chosen in.
        outputs = {"out-psd": psd, "out-bmp": bmp, "表": psd, "ソ": bmp, "in/rel": bmp}
        for folder in outputs:
            (self.work / folder).mkdir()
        self.drive("convert")
        for folder, expected in outputs.items():
            self.same_folder(self.work / folder, expected, f"folder {folder}")

    def failure(self):
        sources = self.work / "fail"
        for seed, name in enumerate(["first.g00", "second.g00", "third.g00"], 1):
            self.make_g00(sources / name, "--kind", "sprite", "--size", "64x48", "--seed", seed)
        second = bytearray((sources / "second.g00").read_bytes())
        second[0] = 1
        (sources / "second.g00").write_bytes(bytes(second))
        expected = self.expect(self.work / "expected", [sources / "first.g00"])
        (self.work / "fail-out").mkdir()
        self.drive("failure")
        self.same_folder(self.work / "fail-out", expected, "after the failed batches")

    def busy(self):
        # One picture under many names: they share the output name long.psd, so the batch is
        # long without filling the disk.
        sources = self.work / "long"
        first = sources / "long.001.g00"
        self.make_g00(first, "--kind", "sprite", "--size", "1200x1000", "--seed", "5")
        for i in range(2, self.args.long_batch + 1):
            os.link(first, sources / f"long.{i:03}.g00")
        expected = self.expect(self.work / "expected", [first])
        (self.work / "long-out").mkdir()
        self.drive("busy")
        self.same_folder(self.work / "long-out", expected,
                         "the long batch, PSD as the box was at its start")

    def browse(self):
        folder = "tavimore-e2e-出力先"
        chosen = self.wine.home / folder
        shutil.rmtree(chosen, ignore_errors=True)
        chosen.mkdir()
        self.drive("browse", folder=folder)
        shutil.rmtree(chosen, ignore_errors=True)

    def load(self):
        # Hundreds of 100-byte names in one folder, hard links to a few small pictures. The
        # open dialog is told 65,014 bytes: its directory, a NUL, each name and its NUL, and
        # the closing NUL. The first "fit" names and the pad of length pad_length fill it to
        # the byte; the pad one byte longer overflows it by one byte; all the names, far.
        pictures = self.work / "pictures"
        kinds = ["photo", "sprite", "lineart", "sprite", "flat", "sprite"]
        bases = []
        for k in range(12):
            base = pictures / f"p{k:02}.g00"
            self.make_g00(base, "--kind", kinds[k % len(kinds)], "--size",
                          f"{20 + 3 * k}x{12 + 2 * k}", "--seed", k + 1)
            bases.append(base)
        many = self.work / "many"
        many.mkdir()
        filler = "".join(chr(ord("a") + i % 26) for i in range(LOAD_NAME_BYTES))
        names = []
        for i in range(LOAD_FILES):
            stem = f"load{i:04}-"
            names.append(stem + filler[: LOAD_NAME_BYTES - len(stem) - 4] + ".g00")
        directory = windows_path(many)
        room = SELECTION_DIALOG_BYTES - (len(directory) + 1) - 1
        fit = (room - 11) // (LOAD_NAME_BYTES + 1)
        pad_length = room - fit * (LOAD_NAME_BYTES + 1) - 1
        if fit + 1 > LOAD_FILES or fit < LOAD_FIRST_BATCH:
            raise RuntimeError(f"{fit} names fill the selection; {LOAD_FILES} are made")
        pads = ["pad" + "p" * (length - 7) + ".g00" for length in (pad_length, pad_length + 1)]
        for i, name in enumerate(names + pads):
            os.link(bases[(i * 5) % len(bases)], many / name)

        expected = self.work / "expected"
        expected.mkdir()
        every = names + pads
        # The command line is limited to 32,767 characters: relative names, in parts.
        for start in range(0, len(every), 150):
            options = ["-j", "2", "-q", "-o", windows_path(expected)]
            done = self.wine.run(self.args.cli, *options, *every[start:start + 150], cwd=many)
            if done.returncode != 0:
                raise RuntimeError("tavimore-cli failed: " + done.stderr.decode(errors="replace"))
        outputs = {"out-first": names[:LOAD_FIRST_BATCH], "out-full": names[:fit] + pads[:1],
                   "out-all": None, "out-over": None}
        for folder in outputs:
            (self.work / folder).mkdir()
        self.drive("load", first=LOAD_FIRST_BATCH, fit=fit)
        for folder, sources in outputs.items():
            if sources is None:
                # Selections beyond the buffer: the driver notes the names the program was
                # given whole, from what it found in the program's memory.
                listed = self.work / f"{folder}.sources"
                if not self.results.check(listed.exists(), f"folder {folder}: the driver's list"):
                    continue
                sources = listed.read_text().split()
                print(f"# {folder}: {len(sources)} sources expected to be converted")
            self.same_outputs(self.work / folder, expected, sources, f"folder {folder}")

    def same_outputs(self, actual, expected, sources, name):
        """Every source's output, and nothing else, byte for byte as tavimore-cli wrote it."""
        wanted = set()
        for source in sources:
            stem = source.split(".")[0]
            found = [p.name for p in expected.glob(stem + ".*")]
            if len(found) != 1:
                self.results.check(False, f"{name}: one expected output for {source}", str(found))
                return
            wanted.add(found[0])
        got = {p.name for p in actual.iterdir()}
        self.results.check(got == wanted, f"{name}: {len(wanted)} output files, no others",
                           f"{len(got)} written, {len(wanted - got)} missing "
                           f"({sorted(wanted - got)[:3]}), {len(got - wanted)} unexpected "
                           f"({sorted(got - wanted)[:3]})")
        different = [n for n in sorted(wanted & got)
                     if (actual / n).read_bytes() != (expected / n).read_bytes()]
        self.results.check(not different, f"{name}: bytes equal to tavimore-cli's",
                           f"{len(different)} differ, first {different[:3]}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--scenario", required=True,
                        choices=["window", "select", "convert", "failure", "busy", "browse",
                                 "load"])
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--state-dir", required=True, help="prefix, home and work folders")
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--g00-make", required=True)
    parser.add_argument("--maker", required=True)
    parser.add_argument("--homepage", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--long-batch", type=int, default=80, help="files in the long batch")
    parser.add_argument("--screenshot", help="where to copy the window's screenshot")
    args = parser.parse_args()
    if not args.screenshot:
        args.screenshot = str(Path(args.state_dir) / "window.png")

    work = Path(args.state_dir) / "work" / args.scenario
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    results = Results()
    started = time.time()
    screen = Screen()
    wine = None
    try:
        # A stand-in for the web browser that notes the address it was asked to open.
        bin_dir = work / "bin"
        bin_dir.mkdir()
        opener = bin_dir / "xdg-open"
        opener.write_text(f"#!/bin/sh\nprintf '%s\\n' \"$1\" > '{work / 'homepage.txt'}'\n")
        opener.chmod(0o755)
        wine = Wine(args, screen.display, extra_path=bin_dir)
        getattr(Scenario(args, wine, work, results), args.scenario)()
    except Exception as error:  # a broken set-up is a failed test, reported as such
        results.check(False, "scenario set-up", repr(error))
    finally:
        if wine:
            wine.stop()
        screen.close()
    print(f"e2e.{args.scenario}: {time.time() - started:.1f} s")
    print(f"{results.passed} passed, {results.failed} failed")
    return 0 if results.failed == 0 and results.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
