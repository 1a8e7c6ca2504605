#!/usr/bin/env bash
# The Windows console program under a code page that cannot spell Japanese (C.UTF-8 gives
# Wine's English one): Japanese names in and out, "*.g00" expanded by the program itself as
# cmd passes it, and a source and output beyond 260 characters of path.
#
#   tests/cli_windows_names.sh TAVIMORE_CLI_EXE G00_MAKE_EXE
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$1
make=$2
run() { TAVIMORE_WINE_LANG=C.UTF-8 "$here/tools/wine-run.sh" "$@"; }
fail() { echo "cli_windows_names: $*"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
run "$make" --kind sprite --size 40x30 --seed 3 sprite.g00 >/dev/null
run "$make" --kind photo --size 37x21 --seed 4 photo.g00 >/dev/null
run "$cli" -q -o expected sprite.g00 photo.g00
mkdir 画像
cp sprite.g00 画像/立ち絵.g00
cp photo.g00 画像/背景.g00

run "$cli" -q -o 出力 画像/立ち絵.g00 画像/背景.g00
cmp expected/sprite.psd 出力/立ち絵.psd
cmp expected/photo.bmp 出力/背景.bmp
# The names reach the messages as UTF-8.
run "$cli" 画像/無い.g00 2>stderr.txt && fail "a missing file converted"
grep -q '無い.g00: cannot open the file' stderr.txt || fail "message: $(cat stderr.txt)"

(cd 画像 && run "$cli" -q -o ../展開 '*.g00')
[ "$(ls 展開 | LC_ALL=C sort | tr '\n' ' ')" = "立ち絵.psd 背景.bmp " ] || fail "wildcard gave: $(ls 展開)"
cmp expected/sprite.psd 展開/立ち絵.psd

# 12 folders of 24 characters: the source's path is over 300 characters from the drive on.
deep=$work
for i in $(seq 10 21); do deep=$deep/長いフォルダの名前は二十五文字まであります$i; done
mkdir -p "$deep"
cp sprite.g00 "$deep/立ち絵.g00"
run "$cli" -q -o "$deep" "$deep/立ち絵.g00"
cmp expected/sprite.psd "$deep/立ち絵.psd"
[ "$(ls "$deep" | wc -l)" = 2 ] || fail "left beside the output: $(ls "$deep")"
echo "cli_windows_names: Japanese names, the wildcard and the long path all converted"
