#!/usr/bin/env bash
# The release files as a user gets them (made by `make package`).
# usage: package_test.sh deb|zip|reproducible PACKAGES VERSION NATIVE_CLI
#   deb           the Debian packages: lintian, their files, tavimore's tavimore-cli converts the
#                 samples and its tavimore-pack packs them back, its manual pages render, a C
#                 program built against libtavimore-dev alone converts a sample as tavimore-cli,
#                 and GIMP's plug-in and the Python module pass their checks from the packages
#   zip           the Windows zip: its files, Notepad's README.txt, Windows' own DLLs only, the
#                 version resource, its tavimore-cli.exe converts the samples and its
#                 tavimore-pack.exe packs them back under Wine (where this kernel runs
#                 32-bit programs)
#   reproducible  a second build of both files in fresh trees gives the same bytes
# Converted samples must equal those of NATIVE_CLI, the build tree's program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
check=$1 packages=$(realpath "$2") version=$3 native_cli=$(realpath "$4")
deb=$packages/tavimore_${version}_amd64.deb
library_deb=$packages/libtavimore1_${version}_amd64.deb
dev_deb=$packages/libtavimore-dev_${version}_amd64.deb
gimp_deb=$packages/gimp-tavimore_${version}_amd64.deb
gimp3_deb=$packages/gimp3-tavimore_${version}_amd64.deb
python_deb=$packages/python3-tavimore_${version}_all.deb
zip=$packages/tavimore-${version}-win32.zip
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The samples converted by the build tree's program, PSD and BMP, to compare against.
mkdir -p "$work/samples" "$work/expected/psd" "$work/expected/bmp"
cp "$here"/samples/*.g00 "$work/samples/"
"$native_cli" -q -o "$work/expected/psd" "$work"/samples/*.g00
"$native_cli" -q --bmp -o "$work/expected/bmp" "$work"/samples/*.g00

# Runs a converter in the samples folder into got/, then compares with expected/.
converts_samples() {
  rm -rf "$work/got" && mkdir -p "$work/got/psd" "$work/got/bmp"
  (cd "$work/samples" && "$@" -q -o ../got/psd *.g00 && "$@" -q --bmp -o ../got/bmp *.g00) ||
    fail "$* could not convert the samples"
  diff -r "$work/expected" "$work/got" || fail "$* converts the samples differently"
}

# Runs a packer on the samples' PNG files like the samples themselves: the same files again (the
# same data, compressed by the same compressor).
packs_samples() {
  rm -rf "$work/png" "$work/packed" && mkdir -p "$work/png" "$work/packed"
  "$native_cli" -q --png -o "$work/png" "$work"/samples/*.g00
  (cd "$work" && for sample in samples/*.g00; do
     name=$(basename "$sample" .g00)
     "$@" -q --like "$sample" -o packed "png/$name.png" && cmp "$sample" "packed/$name.g00"
   done) || fail "$* does not pack the samples back"
}

# The listing of an archive, one path a line, sorted.
listing() { sort | sed '/\/$/d; s|^\./||'; }

case $check in
deb)
  for package in "$deb" "$library_deb" "$dev_deb" "$gimp_deb" "$gimp3_deb" "$python_deb"; do
    [ -f "$package" ] || fail "$package is missing: make package builds it"
  done
  lintian --fail-on error,warning "$deb" "$library_deb" "$dev_deb" "$gimp_deb" "$gimp3_deb" "$python_deb" \
    >"$work/lintian" 2>&1 ||
    { cat "$work/lintian"; fail "lintian reports errors or warnings"; }
  # The programs are linked statically, and the plug-ins hold the library's code: they need
  # Debian's libraries alone (gdk-pixbuf, GIMP), not libtavimore1.
  for package in "$deb" "$gimp_deb"; do
    depends=$(dpkg-deb -f "$package" Depends)
    case $depends in
      *libtavimore*) fail "$(basename "$package") depends on the library: $depends" ;;
      *libgdk-pixbuf*|*libgimp2.0*) ;;
      *) fail "$(basename "$package")'s Depends lack its host: $depends" ;;
    esac
  done
  dpkg-deb --fsys-tarfile "$deb" | tar -t | listing >"$work/files"
  cat >"$work/wanted" <<LIST
usr/bin/tavimore-cli
usr/bin/tavimore-pack
usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/2.10.0/loaders/libpixbufloader-g00.so
usr/share/bash-completion/completions/tavimore-cli
usr/share/bash-completion/completions/tavimore-pack
usr/share/doc/tavimore/README.md
usr/share/doc/tavimore/changelog.gz
usr/share/doc/tavimore/copyright
usr/share/lintian/overrides/tavimore
usr/share/man/man1/tavimore-cli.1.gz
usr/share/man/man1/tavimore-pack.1.gz
usr/share/mime/packages/tavimore-g00.xml
usr/share/thumbnailers/g00.thumbnailer
LIST
  diff -u "$work/wanted" "$work/files" || fail "the package's files are not the ones wanted"
  dpkg-deb -x "$deb" "$work/root"
  cli=$work/root/usr/bin/tavimore-cli
  [ "$("$cli" --version)" = "tavimore-cli $version" ] || fail "its --version is not $version"
  ! grep -q -a -F "$here" "$cli" || fail "the program holds the path $here"
  # A program with libdeflate linked in carries its notice in the copyright file.
  ! grep -q -a "libdeflate" "$cli" || grep -q "contain libdeflate" "$work/root/usr/share/doc/tavimore/copyright" ||
    fail "the copyright file lacks libdeflate's notice"
  converts_samples "$cli"
  packs_samples "$work/root/usr/bin/tavimore-pack"
  for package in "$library_deb" "$dev_deb"; do
    dpkg-deb --fsys-tarfile "$package" | tar -t | listing
  done >"$work/library-files"
  cat >"$work/library-wanted" <<LIST
usr/include/tavimore.h
usr/include/tavimore_version.h
usr/lib/x86_64-linux-gnu/libtavimore.so
usr/lib/x86_64-linux-gnu/libtavimore.so.1
usr/lib/x86_64-linux-gnu/libtavimore.so.$version
usr/lib/x86_64-linux-gnu/pkgconfig/tavimore.pc
usr/share/doc/libtavimore-dev/changelog.gz
usr/share/doc/libtavimore-dev/copyright
usr/share/doc/libtavimore1/changelog.gz
usr/share/doc/libtavimore1/copyright
usr/share/lintian/overrides/libtavimore1
LIST
  diff -u "$work/library-wanted" <(sort "$work/library-files") || fail "the library packages' files are not the ones wanted"
  [ "$(dpkg-deb -f "$dev_deb" Depends)" = "libtavimore1 (= $version)" ] || fail "libtavimore-dev's Depends"
  mkdir "$work/library"
  dpkg-deb -x "$library_deb" "$work/library" && dpkg-deb -x "$dev_deb" "$work/library"
  pc=$work/library/usr/lib/x86_64-linux-gnu/pkgconfig
  # shellcheck disable=SC2046
  cc -std=c99 "$here/examples/tavimore_example.c" $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs tavimore) \
     -Wl,-rpath,"$work/library/usr/lib/x86_64-linux-gnu" -o "$work/tavimore-example" ||
    fail "the example does not build against libtavimore-dev"
  "$work/tavimore-example" convert "$work/samples/sprite.g00" "$work/sprite.psd" &&
    cmp "$work/expected/psd/sprite.psd" "$work/sprite.psd" || fail "the packaged library converts differently"
  # A file manager's thumbnail of a picture, through the unpacked loader, MIME type and entry,
  # without the library package.
  loaders=$work/root/usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/2.10.0/loaders
  /usr/bin/python3 "$here/gdk-pixbuf/tests/check_loader.py" \
    --module "$loaders/libpixbufloader-g00.so" --mime "$work/root/usr/share/mime/packages/tavimore-g00.xml" \
    --entry "$work/root/usr/share/thumbnailers/g00.thumbnailer" --cli "$native_cli" \
    --make "$(dirname "$native_cli")/g00-make" entry || fail "the packaged loader does not thumbnail"
  # GIMP's plug-ins as installed (GIMP 2.10's alone) and the Python module over the packaged
  # library.
  for package in "$gimp_deb" "$gimp3_deb" "$python_deb"; do
    dpkg-deb --fsys-tarfile "$package" | tar -t | listing
  done >"$work/plug-in-files"
  cat >"$work/plug-in-wanted" <<LIST
usr/lib/gimp/2.0/plug-ins/file-g00/file-g00
usr/lib/python3/dist-packages/tavimore/__init__.py
usr/lib/python3/dist-packages/tavimore/_installed.py
usr/lib/python3/dist-packages/tavimore/pillow.py
usr/lib/x86_64-linux-gnu/gimp/3.0/plug-ins/file-g00/file-g00.py
usr/lib/x86_64-linux-gnu/gimp/3.0/plug-ins/file-g00/libtavimore.so.1
usr/lib/x86_64-linux-gnu/gimp/3.0/plug-ins/file-g00/tavimore/__init__.py
usr/share/doc/gimp-tavimore/changelog.gz
usr/share/doc/gimp-tavimore/copyright
usr/share/doc/gimp3-tavimore/changelog.gz
usr/share/doc/gimp3-tavimore/copyright
usr/share/doc/python3-tavimore/changelog.gz
usr/share/doc/python3-tavimore/copyright
LIST
  diff -u "$work/plug-in-wanted" <(sort "$work/plug-in-files") || fail "the plug-in packages' files are not the ones wanted"
  dpkg-deb -x "$gimp_deb" "$work/root" && dpkg-deb -x "$python_deb" "$work/root"
  built=$(dirname "$native_cli")
  /usr/bin/python3 "$here/gimp/tests/check_plugin.py" --plug-in "$work/root/usr/lib/gimp/2.0/plug-ins/file-g00/file-g00" \
    --cli "$native_cli" --make "$built/g00-make" --data "$built/g00-data" ||
    fail "the packaged GIMP plug-in does not pass its check"
  dpkg-deb -x "$library_deb" "$work/root"
  LD_LIBRARY_PATH=$work/root/usr/lib/x86_64-linux-gnu PYTHONPATH=$work/root/usr/lib/python3/dist-packages \
    /usr/bin/python3 "$here/python/tests/check_module.py" --cli "$native_cli" --pack "$built/tavimore-pack" \
    --make "$built/g00-make" --data "$built/g00-data" --samples "$here/samples" ||
    fail "the packaged Python module does not pass its check"
  for name in tavimore-cli tavimore-pack; do
    page=$work/root/usr/share/man/man1/$name.1.gz
    mandoc -T lint "$page" || fail "mandoc warns about the packaged page of $name"
    mandoc -T utf8 "$page" | sed 's/.\x08//g' | grep "^ *$name - " >/dev/null ||
      fail "the packaged page of $name does not render"
  done
  ;;
zip)
  [ -f "$zip" ] || fail "$zip is missing: make package builds it"
  top=tavimore-$version-win32
  /usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    "$zip" | listing >"$work/files"
  printf "$top/%s\n" CHANGELOG.txt LICENSE.txt README.txt gimp/file-g00/file-g00.py \
    gimp/file-g00/tavimore.dll gimp/file-g00/tavimore/__init__.py include/tavimore.h \
    include/tavimore_version.h lib/libtavimore.dll.a lib/tavimore.def tavimore-cli.exe tavimore-pack.exe \
    tavimore-wic-x64.dll tavimore-wic-x86.dll tavimore.dll tavimore.exe >"$work/wanted"
  diff -u "$work/wanted" "$work/files" || fail "the zip's files are not the ones wanted"
  (cd "$work" && cmake -E tar xf "$zip")
  for text in README.txt CHANGELOG.txt; do
    /usr/bin/python3 - "$work/$top/$text" <<'PY' || fail "$text is not UTF-8 with a byte order mark and CRLF lines"
import sys
data = open(sys.argv[1], "rb").read()
assert data.startswith(b"\xef\xbb\xbf") and b"\r\n" in data and b"\n" not in data.replace(b"\r\n", b"")
data.decode("utf-8")
PY
  done
  grep -q "tavimore-cli.exe" "$work/$top/README.txt" && grep -q "tavimore-pack.exe" "$work/$top/README.txt" &&
    grep -q "変換" "$work/$top/README.txt" && grep -q "regsvr32 tavimore-wic-x64.dll" "$work/$top/README.txt" ||
    fail "README.txt does not tell of the programs and the WIC codec in English and Japanese"
  # libdeflate's licence asks that its notice go with the programs built with it.
  if grep -q '^libdeflate' "$here/build/win32/png-checksums"; then
    copying=$here/build/deps/libdeflate/i686-w64-mingw32/COPYING
    grep -q -F "$(head -n 1 "$copying")" "$work/$top/LICENSE.txt" || fail "LICENSE.txt lacks libdeflate's notice"
  fi
  for exe in "$work/$top"/*.exe "$work/$top"/*.dll "$work/$top"/gimp/file-g00/*.dll; do
    imports=$(LC_ALL=C x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z')
    for dll in $imports; do
      case $dll in
        kernel32.dll|user32.dll|gdi32.dll|comdlg32.dll|comctl32.dll|shell32.dll|ole32.dll|\
        oleaut32.dll|advapi32.dll|shlwapi.dll|msvcrt.dll|ws2_32.dll|bcrypt.dll) ;;
        *) fail "$(basename "$exe") imports $dll, which Windows does not ship" ;;
      esac
    done
    /usr/bin/python3 - "$exe" "$version" <<'PY' || fail "$(basename "$exe") lacks its version resource"
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16-le", "replace")
version = re.escape(sys.argv[2])
for key, value in (("ProductName", "Tavimore"), ("FileVersion", version),
                   ("ProductVersion", version), ("FileDescription", "Tavimore .+?"),
                   ("LegalCopyright", "Copyright .+?")):
    assert re.search(key + "\x00+" + value + "\x00", text), key
PY
    ! grep -q -a -F "$here" "$exe" || fail "$(basename "$exe") holds the path $here"
  done
  if "$here/tools/runs-32bit.sh"; then
    converts_samples "$here/tools/wine-run.sh" "$work/$top/tavimore-cli.exe"
    packs_samples "$here/tools/wine-run.sh" "$work/$top/tavimore-pack.exe"
  else
    echo "zip: this kernel does not run 32-bit programs, so the zip's programs were not run"
  fi
  ;;
reproducible)
  [ -f "$deb" ] && [ -f "$zip" ] || fail "make package builds the packages first"
  second=$here/build/repro
  rm -rf "$second"
  "$here/tools/package.sh" "$second" >/dev/null
  for f in "$deb" "$library_deb" "$dev_deb" "$zip"; do
    cmp "$f" "$second/packages/$(basename "$f")" || fail "a second build of $(basename "$f") differs"
  done
  rm -rf "$second"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
echo "$check: passed"
