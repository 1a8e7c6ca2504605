#!/usr/bin/env bash
# Converts the bundled samples into out/: region-based pictures as PSD and every picture as BMP.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$here/build/native/tavimore-cli
mkdir -p "$here/out/psd" "$here/out/bmp"
"$cli" -o "$here/out/psd" "$here"/samples/*.g00
"$cli" --bmp -o "$here/out/bmp" "$here"/samples/*.g00
echo "wrote:"
(cd "$here" && ls -l out/psd out/bmp | sed 's/^/  /')
