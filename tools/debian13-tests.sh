#!/usr/bin/env bash
# The tests of today's hosts, inside the Debian 13 root (tools/debian13-root.sh): builds the
# debian13 preset there with its GCC 14, warnings as errors, into build/debian13, and runs the
# tests of label today (Pillow 11, gdk-pixbuf 2.42, GIMP 3.0).
#
#   tools/debian13-tests.sh [--build]     (--build: build only)
#
# The root is made where it is missing, once a `make` command: when the set-up of this command
# could not make it, its reason fails the tests here. Writes build/debian13-suites, the line that
# `make test` ends with.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tool=$here/tools/debian13-root.sh
recorded=$here/build/setup/debian13-root
summary=$here/build/debian13-suites
jobs=${JOBS:-2}
rm -f "$summary"

fail() {
  echo "FAIL: the tests of today's hosts (label today: Pillow 11, gdk-pixbuf 2.42, GIMP 3.0) did not run: $*"
  exit 1
}
recorded_reason() { sed -n 's/^failed: //p' "$recorded" 2>/dev/null; }

if ! "$tool" status >/dev/null; then
  if [ -n "${TAVIMORE_RUN:-}" ] && [ "$(head -n 1 "$recorded" 2>/dev/null)" = "run $TAVIMORE_RUN" ]; then
    fail "the Debian 13 root could not be made: $(recorded_reason)"
  fi
  "$tool" create || fail "the Debian 13 root could not be made: $(recorded_reason)"
fi

# The root has no git (and a worktree's .git names a folder outside the tree): the release time
# comes from here.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null)}
[ -n "$epoch" ] || fail "no commit to take the release time from: set SOURCE_DATE_EPOCH"

hosts=$("$tool" status | sed -n 's/^ready: [^:]*: //p')
echo "debian13: building the debian13 preset with the root's GCC 14 and running the tests of label today ($hosts)"
steps='cmake --preset debian13 >/dev/null && cmake --build --preset debian13 -j "$JOBS"'
[ "${1:-}" = --build ] || steps="$steps"' && ctest --preset debian13 -j "$JOBS"'
"$tool" run env SOURCE_DATE_EPOCH="$epoch" JOBS="$jobs" sh -c "$steps" || exit 1
[ "${1:-}" = --build ] && exit 0
echo "Today's hosts, inside the Debian 13 root (tools/debian13-root.sh): $hosts." >"$summary"
