#!/usr/bin/env bash
# tools/wine-run.sh runs a program once more when Wine itself failed, and never when the program
# failed on its own. A stand-in for Wine fails its first start with the given words.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/prefix" && touch "$work/prefix/.tavimore-ready"
cat >"$work/wine" <<'STANDIN'
#!/bin/sh
starts=$(cat "$STARTS" 2>/dev/null || echo 0)
echo $((starts + 1)) >"$STARTS"
[ "$starts" = 0 ] && { echo "$FIRST_WORDS" >&2; exit 1; }
exit 0
STANDIN
chmod +x "$work/wine"

check() {  # first words, status wanted, starts wanted
  rm -f "$work/starts"
  status=0
  STARTS=$work/starts FIRST_WORDS=$1 TAVIMORE_WINE=$work/wine TAVIMORE_WINEPREFIX=$work/prefix \
    "$here/tools/wine-run.sh" test.exe 2>"$work/stderr" || status=$?
  [ "$status:$(cat "$work/starts")" = "$2:$3" ] ||
    { echo "after '$1': status $status, $(cat "$work/starts") starts (wanted $2, $3)"; cat "$work/stderr"; exit 1; }
}
check "wine client error:0: recvmsg: Connection reset by peer" 0 2
grep -q 'running once more' "$work/stderr" || { echo "the second start was not announced"; exit 1; }
check "[  FAILED  ] Bmp.HeaderAgreesWithThePictureAndTheFile" 1 1
echo "wine_retry: Wine's failure ran once more, the program's own did not"
