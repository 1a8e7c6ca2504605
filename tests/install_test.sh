#!/usr/bin/env bash
# Each install path of a plug-in that README.md and docs/ give, done for real, ending with the
# plug-in loading in its host from where it was put, with no library path set:
#   cmake --install BUILD --prefix DIR  (a temporary prefix), and --prefix /usr into a DESTDIR:
#                 every library the installed plug-in needs resolves from Debian's folders, none
#                 of them Tavimore's (so it cannot depend on where libtavimore lies); then
#     gdk-pixbuf  gdk-pixbuf-query-loaders lists the installed loader and gdk-pixbuf-thumbnailer,
#                 run as the installed thumbnailer entry says, thumbnails pictures through it
#     gimp        the installed plug-in starts (GIMP's library answers that it must be run by GIMP)
#   gimp only: gimptool-2.0 --install-bin BUILD/gimp/file-g00, with a temporary HOME, then GIMP
#                 with that HOME opens a G00 file.
# The Debian packages are checked by package_test.sh deb, from the unpacked packages alone.
# usage: install_test.sh gdk-pixbuf|gimp SOURCE BUILD CLI G00MAKE LIBTAVIMORE
set -euo pipefail
host=$1 source=$2 build=$3 cli=$4 make=$5 library=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
unset LD_LIBRARY_PATH

cmake --install "$build" --prefix "$work/prefix" >/dev/null
DESTDIR=$work/root cmake --install "$build" --prefix /usr >/dev/null

# The libraries FILE needs, as the dynamic loader finds them.
needs_debian_only() {
  local found
  found=$(ldd "$1") || fail "ldd $1"
  ! grep -q "not found" <<<"$found" || fail "$1 misses libraries:"$'\n'"$found"
  ! grep -q "libtavimore" <<<"$found" || fail "$1 needs Tavimore's library:"$'\n'"$found"
  ! grep "=> " <<<"$found" | grep -v -E "=> /(usr/)?lib/" ||
    fail "$1 finds libraries outside Debian's folders:"$'\n'"$found"
}

for root in "$work/prefix" "$work/root/usr"; do
  case $host in
  gdk-pixbuf)
    module=$(find "$root/lib" -name libpixbufloader-g00.so)
    [ -n "$module" ] || fail "no loader installed under $root"
    needs_debian_only "$module"
    /usr/bin/python3 "$source/gdk-pixbuf/tests/check_loader.py" --module "$module" \
      --mime "$root/share/mime/packages/tavimore-g00.xml" --entry "$root/share/thumbnailers/g00.thumbnailer" \
      --cli "$cli" --make "$make" --library "$library" thumbnailer entry ||
      fail "the loader installed under $root does not thumbnail"
    ;;
  gimp)
    plug_in=$root/lib/gimp/2.0/plug-ins/file-g00/file-g00
    needs_debian_only "$plug_in"
    started=$("$plug_in" 2>&1 || true)
    grep -q "must be run by GIMP" <<<"$started" || fail "$plug_in does not start: $started"
    ;;
  *) fail "unknown host $host" ;;
  esac
done
echo "$host: installed under a prefix of its own and under /usr (DESTDIR), it needs Debian's libraries alone"
[ "$host" = gimp ] || exit 0

# README's hand install, and GIMP as its user starts it.
export HOME=$work/home
unset XDG_CONFIG_HOME GIMP2_DIRECTORY
mkdir -p "$HOME"
gimptool-2.0 --install-bin "$build/gimp/file-g00" >/dev/null
"$make" --kind sprite --size 96x64 "$work/sprite.g00" >/dev/null
quoted() { printf '"%s"' "$1"; }
gimp-console -i -d -f --no-shm -b "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \
$(quoted "$work/sprite.g00") $(quoted "$work/sprite.g00")))) (out (open-output-file $(quoted "$work/size")))) \
(write (list (car (gimp-image-width image)) (car (gimp-image-height image))) out) (close-output-port out))" \
  -b "(gimp-quit 0)" >"$work/gimp.log" 2>&1 || true
[ "$(cat "$work/size" 2>/dev/null)" = "(96 64)" ] ||
  { cat "$work/gimp.log"; fail "GIMP does not open a G00 file with the plug-in gimptool-2.0 installed"; }
echo "gimp: installed by gimptool-2.0 --install-bin, GIMP opens a G00 file with it"
