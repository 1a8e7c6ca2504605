#!/usr/bin/env bash
# Converts into a 1 MiB filesystem that fills up mid-batch, over older outputs of the same
# names: the failing file is reported, every output is either the older file byte for byte or
# the whole new one, and no temporary file is left. Needs root to mount; skips otherwise.
set -euo pipefail
cli=$1
g00make=$2
if [ "$(id -u)" != 0 ]; then echo "skipped: mounting a small filesystem needs root"; exit 77; fi
work=$(mktemp -d)
full=$work/full
mkdir -p "$full" "$work/reference" "$work/sources"
cleanup() { umount "$full" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
if ! mount -t tmpfs -o size=1m tmpfs "$full" 2>/dev/null; then
  echo "skipped: this machine does not allow mounting a tmpfs"; exit 77
fi

# Twelve full-frame pictures of 200 x 200: each BMP is 120,054 bytes, so eight fit.
for ((n = 0; n < 12; n++)); do
  "$g00make" --kind photo --type 0 --size 200x200 --seed $((n + 1)) \
    "$(printf '%s/pic%02d.g00' "$work/sources" $n)" >/dev/null
done

"$cli" -q -o "$work/reference" "$work"/sources/*.g00
head -c 1000 /dev/urandom >"$work/older"
for keep in "" -k; do
  rm -f "$full"/*
  for n in $(seq -w 0 11); do cp "$work/older" "$full/pic$n.bmp"; done
  set +e
  "$cli" -q $keep -j 2 -o "$full" "$work"/sources/*.g00 2>"$work/errors"
  status=$?
  set -e
  [ $status = 1 ] || { echo "FAIL ($keep): exit status $status, expected 1"; exit 1; }
  grep -q 'write failed\|cannot create the output' "$work/errors" ||
    { echo "FAIL ($keep): no failure reported"; cat "$work/errors"; exit 1; }
  [ "$(ls -A "$full" | wc -l)" = 12 ] ||
    { echo "FAIL ($keep): files left beside the outputs:"; ls -A "$full"; exit 1; }
  written=0 kept=0
  for out in "$full"/*; do
    if cmp -s "$out" "$work/reference/$(basename "$out")"; then written=$((written + 1))
    elif cmp -s "$out" "$work/older"; then kept=$((kept + 1))
    else echo "FAIL ($keep): $(basename "$out") is neither the older file nor the new one"; exit 1
    fi
  done
  [ $written -ge 1 ] && [ $kept -ge 1 ] ||
    { echo "FAIL ($keep): $written new and $kept older outputs, expected some of each"; exit 1; }
  echo "${keep:-without -k}: $written new outputs, $kept older ones intact, then: $(head -n 1 "$work/errors")"
done
