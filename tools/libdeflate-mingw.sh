#!/usr/bin/env bash
# libdeflate for the Windows builds: Debian's own source package of the libdeflate-dev the native
# builds link, at that very version, fetched by apt (which checks every file against the signed
# lists of this machine's mirror; dpkg-source checks them again as it unpacks) and built with the
# mingw-w64 cross-compilers by its own Makefile into a static library for each Windows target,
# in build/deps/libdeflate/TRIPLE/ (include/, lib/libdeflate.a, COPYING, version), where the
# win32 and win64 presets look for it. A build of that version in place is kept.
#
# Where the machine's apt sources have no deb-src entries, or theirs fail, a private apt state
# under build/deps takes the same sources with "deb" read as "deb-src": the machine's own
# configuration is left as it is, and nothing needs root.
#
# When the source cannot be had or built, says why (the reason also in build/deps/libdeflate/
# failed, the commands' output in .../log) and exits 1: the Windows builds then deflate PNG files
# with zlib, and CMake says so when it configures them.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
deps=$here/build/deps/libdeflate
triples=(i686-w64-mingw32 x86_64-w64-mingw32)
mkdir -p "$deps"
log=$deps/log

fail() {
  echo "$1" >"$deps/failed"
  echo "libdeflate-mingw: $1; the Windows builds deflate PNG files with zlib (see $log)"
  exit 1
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
installed libdeflate-dev || fail "libdeflate-dev, whose version the Windows builds follow, is not installed"
package=$(dpkg-query -W -f='${source:Package}' libdeflate-dev)
version=$(dpkg-query -W -f='${source:Version}' libdeflate-dev)

built() {
  local triple
  for triple in "${triples[@]}"; do
    [ -f "$deps/$triple/lib/libdeflate.a" ] && [ "$(cat "$deps/$triple/version" 2>/dev/null)" = "$version" ] || return 1
  done
}
if built; then rm -f "$deps/failed"; exit 0; fi

for triple in "${triples[@]}"; do
  for tool in "$triple-gcc-posix" "$triple-ar"; do
    command -v "$tool" >/dev/null || fail "$tool is missing (the Windows cross-compilers)"
  done
done
command -v dpkg-source >/dev/null || fail "dpkg-source is missing (dpkg-dev)"

started=$SECONDS
: >"$log"
work=$(mktemp -d "$deps/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fetch() { apt-get "$@" source --download-only "$package=$version" >>"$log" 2>&1; }

# The machine's own deb-src lists first, where it has any; else (or when they are stale) the
# private state.
from=
if apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources && fetch; then
  from="the machine's deb-src lists"
else
  state=$deps/apt
  rm -rf "$state/sources.list.d"
  mkdir -p "$state/sources.list.d" "$state/lists/partial" "$state/cache/archives/partial"
  : >"$state/sources.list"
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    case $file in
      *.sources) sed -E 's/^Types:.*\<deb(-src)?\>.*/Types: deb-src/' "$file" ;;
      *) sed -E 's/^([[:space:]]*)deb(-src)?([[:space:]])/\1deb-src\3/' "$file" | awk '!seen[$0]++' ;;
    esac >"$state/sources.list.d/$(basename "$file")"
  done
  private=(-o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts="$state/sources.list.d"
           -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache")
  # A list that cannot be fetched (a mirror in mid-sync) leaves the others, which may still hold it.
  apt-get "${private[@]}" update >>"$log" 2>&1
  fetch "${private[@]}"; fetched=$?
  rm -rf "$state"
  [ $fetched -eq 0 ] || fail "apt could not fetch the source package $package $version"
  from="this machine's mirror"
fi

dsc=$(ls ./*.dsc 2>/dev/null | head -n 1)
[ -n "$dsc" ] && dpkg-source -x "$dsc" src >>"$log" 2>&1 || fail "$package $version could not be unpacked and checked"

# The Makefile's own flags (-O2): Debian's rules add profile-guided optimisation, whose training
# runs cannot run here, and hardening flags, whose stack protector mingw would link as a library.
for triple in "${triples[@]}"; do
  make -C src clean >>"$log" 2>&1
  make -C src -j "${JOBS:-2}" CC="$triple-gcc-posix" AR="$triple-ar" libdeflatestatic.lib >>"$log" 2>&1 \
    || fail "$package $version did not build for $triple"
  dest=$deps/$triple
  rm -rf "$dest.new" && mkdir -p "$dest.new/include" "$dest.new/lib"
  cp src/libdeflate.h "$dest.new/include/" && cp src/libdeflatestatic.lib "$dest.new/lib/libdeflate.a" \
    && cp src/COPYING "$dest.new/" && echo "$version" >"$dest.new/version" || fail "could not write $dest"
  rm -rf "$dest" && mv "$dest.new" "$dest"
done
rm -f "$deps/failed"
echo "libdeflate-mingw: $package $version from $from, built for ${triples[*]} in $((SECONDS - started)) s"
