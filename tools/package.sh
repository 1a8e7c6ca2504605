#!/usr/bin/env bash
# Builds the release files into ROOT/packages (default: build/packages):
#   tavimore-VERSION-win32.zip from the win32 preset (with the win64 one's WIC codec, and its
#   tavimore.dll for GIMP 3's plug-in);
#   tavimore_VERSION_amd64.deb,
#   libtavimore1_VERSION_amd64.deb, libtavimore-dev_VERSION_amd64.deb,
#   gimp-tavimore_VERSION_amd64.deb, gimp3-tavimore_VERSION_amd64.deb and
#   python3-tavimore_VERSION_all.deb from the native one;
#   each tree under ROOT. Only the shipped programs, the library and their texts are built.
# A second ROOT gives a second, independent build of the same commit (the reproducibility test).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$here/build}")
jobs=${JOBS:-2}
cd "$here"
mkdir -p "$root/packages"
rm -f "$root/packages"/tavimore[-_]* "$root/packages"/libtavimore* "$root/packages"/gimp-tavimore_* \
  "$root/packages"/gimp3-tavimore_* "$root/packages"/python3-tavimore_*
# Zip times are local times: the same for every builder only in one zone.
export TZ=UTC

# The zip carries the 64-bit WIC codec beside the 32-bit programs, and a 64-bit library for
# GIMP 3, which is 64-bit.
cmake --preset win64 -B "$root/win64" >/dev/null
cmake --build "$root/win64" --target tavimore-wic tavimore_shared -j "$jobs"
wic64=$root/win64/tavimore-wic-x64.dll
library64=$root/win64/tavimore.dll

for preset in native win32; do
  tree=$root/$preset
  if [ "$preset" = win32 ]; then
    extra=(-DTAVIMORE_WIC_X64="$wic64" -DTAVIMORE_LIBRARY_X64="$library64")
  else
    extra=()
  fi
  cmake --preset "$preset" -B "$tree" "${extra[@]}" >/dev/null
  cmake --build "$tree" --target tavimore-release -j "$jobs"
  SOURCE_DATE_EPOCH=$(cat "$tree/source-date-epoch")
  export SOURCE_DATE_EPOCH
  rm -rf "$tree/cpack"
  (cd "$tree" && cpack --config CPackConfig.cmake >/dev/null)
  find "$tree/cpack" -maxdepth 1 \( -name '*.deb' -o -name '*.zip' \) -exec cp {} "$root/packages/" \;
done
ls -l "$root/packages"
