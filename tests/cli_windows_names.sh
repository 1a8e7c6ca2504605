#!/usr/bin/env bash
# The Windows console programs under a code page that cannot spell Japanese (C.UTF-8 gives
# Wine's English one): Japanese names in and out, "*.g00" and "*.png" expanded by the program
# itself as cmd passes them, and sources and outputs beyond 260 characters of path; for the
# converter and for the packer, which share one front end.
#
#   tests/cli_windows_names.sh TAVIMORE_CLI_EXE G00_MAKE_EXE TAVIMORE_PACK_EXE
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$1
make=$2
pack=$3
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

# The packer: a picture, an original and an output folder of Japanese names, like the manual's
# own "tavimore-pack -k -o out *.png", and the long path. Each packs the original's data back.
run "$cli" -q --png -o png sprite.g00 photo.g00
run "$pack" -q --like sprite.g00 -o like png/sprite.png
mkdir 絵
cp png/sprite.png 絵/キャラ.png
cp png/photo.png 絵/背景.png
run "$pack" -q --like 画像/立ち絵.g00 -o 出力 絵/キャラ.png
cmp like/sprite.g00 出力/キャラ.g00
run "$pack" --like 画像/無い.g00 絵/キャラ.png 2>stderr.txt && fail "a missing original packed"
grep -q '無い.g00: cannot open the file' stderr.txt || fail "message: $(cat stderr.txt)"
(cd 絵 && run "$pack" -q -k -o ../詰め '*.png')
[ "$(ls 詰め | LC_ALL=C sort | tr '\n' ' ')" = "$(printf '%s\n' キャラ.g00 背景.g00 | LC_ALL=C sort | tr '\n' ' ')" ] ||
  fail "wildcard gave: $(ls 詰め)"
run "$cli" -q --png -o 戻し 詰め/キャラ.g00
cmp png/sprite.png 戻し/キャラ.png
cp png/sprite.png "$deep/キャラ.png"
run "$pack" -q --like "$deep/立ち絵.g00" -o "$deep" "$deep/キャラ.png"
cmp like/sprite.g00 "$deep/キャラ.g00"
[ "$(ls "$deep" | wc -l)" = 4 ] || fail "left beside the packed file: $(ls "$deep")"
echo "cli_windows_names: Japanese names, the wildcards and the long paths all converted and packed"
