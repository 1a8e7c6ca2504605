#!/usr/bin/env bash
# How long GIMP 2.10's G00 plug-in takes to open a 2048x2048 picture of 256 regions, every one
# drawn (g00-make's photo cut into 128x128 regions, 10 MB): GIMP runs in batch mode with a
# profile of its own, whose plug-in is a wrapper that times each run of the real one. The run
# that opens the file is shown with its wall and CPU time and the load average before it; the
# plug-in's time includes its start (gegl_init) and GIMP's work on the layers it sends.
#
#   bench/gimp_open.sh [BUILD_DIR] [RUNS] [PLUG_IN]    (build/native, 3, BUILD_DIR/gimp/file-g00)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$here/build/native}")
runs=${2:-3}
plug_in=$(realpath "${3:-$build/gimp/file-g00}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/g00-make" --kind photo --type 2 --size 2048x2048 --region-size 128 --seed 3 "$work/big.g00" >/dev/null
mkdir -p "$work/profile/plug-ins/file-g00"
cat >"$work/profile/plug-ins/file-g00/file-g00" <<EOF
#!/bin/sh
exec /usr/bin/time -a -o "$work/times" -f "\$4 %e s wall, %U s user, %S s system" "$plug_in" "\$@"
EOF
chmod +x "$work/profile/plug-ins/file-g00/file-g00"
open="(gimp-image-delete (car (gimp-file-load RUN-NONINTERACTIVE \"$work/big.g00\" \"big.g00\")))"
for _ in $(seq "$runs"); do
  rm -f "$work/times"
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  GIMP2_DIRECTORY=$work/profile gimp-console -i -d -f -b "$open" -b "(gimp-quit 0)" >/dev/null 2>&1
  echo "open: $(sed -n 's/^-run //p' "$work/times") (load average $load)"
done
