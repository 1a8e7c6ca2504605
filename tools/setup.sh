#!/usr/bin/env bash
# Installs what building and testing Tavimore needs on Debian, when it is missing.
# Idempotent: a second run finds everything present and only checks.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

packages=(
  cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libz-mingw-w64-dev
  g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth x11-apps x11-utils openbox
  locales fonts-ipafont-gothic
  python3 python3-pil python3-psd-tools python3-numpy imagemagick gimp krita pngcheck
  nodejs valgrind time bc
  scdoc mandoc lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# npm comes with some builds of the nodejs package and as its own package with others.
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails the update; the lists already here may still serve.
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq || echo "setup: apt-get update failed, installing from the lists at hand"
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's programs must see code page 932, which comes from a Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo[@]}" locale-gen >/dev/null
fi

# npm packages (the PSD reader used by the reader tests), pinned by the lock file.
if [ -f "$here/package.json" ] && [ ! -d "$here/node_modules/ag-psd" ]; then
  echo "setup: installing npm packages"
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
fi
