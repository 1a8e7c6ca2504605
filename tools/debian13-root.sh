#!/usr/bin/env bash
# The Debian 13 ("trixie") root in which the tests of today's hosts run: GIMP 3.0, Pillow 11,
# gdk-pixbuf 2.42 and GCC 14, which this Debian 12 machine does not have.
#
#   tools/debian13-root.sh create       makes the root where it is missing, or brings it to the
#                                       package list below when that changed (tools/setup.sh test)
#   tools/debian13-root.sh run CMD...   runs CMD inside it, as the owner of this tree, in the
#                                       current folder, with this tree at its own path
#   tools/debian13-root.sh status       says whether it is ready (exit 0) and what it holds
#   tools/debian13-root.sh remove       removes it
#
# The root lives outside the clone and is kept between runs: /var/cache/tavimore/debian13
# (TAVIMORE_DEBIAN13_ROOT names another place). It is made with debootstrap (minbase) from this
# machine's own Debian mirror, as its apt sources name it, then apt-get installs the packages
# below inside it. Making it takes minutes and about 1.5 GB. Until it is complete it is
# built beside, in ROOT.new: a root that exists is whole, and a ROOT.new left by a run that was
# stopped is removed by the next. A changed package list is installed into the existing root.
#
# Each `run` has mounts of its own, seen by no other process and gone with it, however it ends:
# /proc, /sys, /dev, a fresh /tmp, and this tree. Its processes end with it. A lock lets runs go
# side by side while no `create` changes the root.
#
# What `create` did, or why it failed, is also written to build/setup/debian13-root, which
# tools/debian13-tests.sh reports; its whole output is in build/setup/debian13-root.log.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
self=$here/tools/debian13-root.sh
root=${TAVIMORE_DEBIAN13_ROOT:-/var/cache/tavimore/debian13}
root=${root%/}
lock=$(dirname "$root")/.$(basename "$root").lock
suite=trixie
variant=minbase
state=$here/build/setup
log=$state/debian13-root.log

# The hosts and tools of the tests that run in the root (label today), and what building the
# debian13 preset there needs: the programs, the library, the plug-ins, the tests, the benchmarks.
packages=(
  g++ cmake make pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev scdoc
  libdeflate-dev
  python3 python3-pil python3-numpy python3-gi
  gir1.2-gdkpixbuf-2.0 libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info
  gimp gir1.2-gimp-3.0 libgimp-3.0-dev
  xvfb xauth
)

say() { echo "debian13-root: $*"; }
minutes() { echo "$(($1 / 60)) min $(($1 % 60)) s"; }
die() { say "$*" >&2; exit 1; }

# What the root must hold; kept in it as its stamp, which a complete root alone has.
stamp=$root/etc/tavimore-root
wanted() {
  printf 'suite %s\nvariant %s\npackages %s\n' "$suite" "$variant" \
    "$(printf '%s\n' "${packages[@]}" | sort | tr '\n' ' ')"
}
ready() { [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(wanted)" ]; }

as_root() {
  if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=TAVIMORE_DEBIAN13_ROOT,TAVIMORE_DEBIAN_MIRROR,TAVIMORE_RUN "$self" "$@"
  fi
}

# The Debian mirror and the security mirror of this machine's apt sources (one-line and deb822
# files alike): the first "deb" source of a suite without a "-" (bookworm), and the first of a
# "-security" suite. TAVIMORE_DEBIAN_MIRROR names another mirror.
mirrors() {
  local files=()
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  files+=(/etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  local f
  for f in "${files[@]}"; do [ -f "$f" ] && cat "$f" && echo; done | awk '
    function take(uri, suite) {
      sub(/\/+$/, "", uri)
      if (suite ~ /-security$/) { if (security == "") security = uri }
      else if (suite !~ /-/) { if (main == "") main = uri }
    }
    function flush(  u, s, i, j) {
      if (types ~ /(^| )deb( |$)/ && enabled !~ /^[Nn]o/) {
        nu = split(uris, u, " "); ns = split(suites, s, " ")
        for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) take(u[i], s[j])
      }
      types = ""; uris = ""; suites = ""; enabled = ""
    }
    /^[ \t]*#/ { next }
    /^deb[ \t]/ {
      line = $0; sub(/\[[^]]*\]/, "", line); split(line, f, /[ \t]+/)
      take(f[2], f[3]); next
    }
    /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types); next }
    /^URIs:/ { uris = $0; sub(/^URIs:[ \t]*/, "", uris); next }
    /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites); next }
    /^Enabled:/ { enabled = $0; sub(/^Enabled:[ \t]*/, "", enabled); next }
    /^[ \t]*$/ { flush() }
    END { flush(); print main; print security }'
}

# Removes a root or a half-made one: what is mounted below it first (a debootstrap that was
# killed may leave its /proc), then the files, never crossing into another file system.
remove_tree() {
  local path=$1 target
  case $path in
    "$root" | "$root.new") ;;
    *) die "refusing to remove $path" ;;
  esac
  [ -e "$path" ] || return 0
  while read -r target; do
    umount -l "$target" 2>/dev/null
  done < <(awk -v p="$path/" 'index($2, p) == 1 { print $2 }' /proc/self/mounts | sort -r)
  rm -rf --one-file-system "$path"
}

# Runs a command as root inside a root directory, with /proc, /sys and /dev mounted for it in a
# mount namespace of its own (package scripts want them), for making and updating the root.
in_tree() {
  local tree=$1; shift
  unshare --mount --propagation private --pid --fork --kill-child -- \
    "$self" _inside "$tree" 0:0 / - env DEBIAN_FRONTEND=noninteractive "$@"
}

# Runs a step, its output kept for the log; error_of then gives the step's last "E:" line.
step_out=
step() {
  step_out=$(mktemp)
  "$@" 2>&1 | tee "$step_out"
}
error_of() {
  local error
  error=$(grep '^E: ' "$step_out" 2>/dev/null | tail -n 1)
  rm -f "$step_out"
  [ -n "$error" ] && echo ": ${error#E: }"
}

apt_in() {
  in_tree "$1" apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3 "${@:2}"
}

install_packages() {
  local tree=$1 attempt
  for attempt in 1 2; do
    # A list that cannot be fetched (a mirror in mid-sync) leaves the others.
    apt_in "$tree" update -q || say "apt-get update in the root reported errors (see $log)" >&2
    if step apt_in "$tree" install -y -q --no-install-recommends "${packages[@]}"; then
      rm -f "$step_out"
      return 0
    fi
    install_error=$(error_of)
    [ "$attempt" = 1 ] && { say "apt-get install in the root failed$install_error; trying once more in 30 s" >&2; sleep 30; }
  done
  return 1
}

# debootstrap into ROOT.new, then the apt sources, dpkg's and apt's settings and the packages.
make_root() {
  local new=$root.new mirror=$1 security=$2 attempt started=$SECONDS error
  if [ -e "$new" ]; then
    say "removing the half-made root that a stopped run left at $new"
  fi
  for attempt in 1 2; do
    remove_tree "$new"
    say "debootstrap $suite ($variant) from $mirror"
    # In a mount namespace of its own: the /proc it mounts in the target goes with it.
    if step unshare --mount --propagation private -- \
        debootstrap --variant="$variant" --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        "$suite" "$new" "$mirror"; then
      rm -f "$step_out"
      break
    fi
    error=$(error_of)
    tail -n 5 "$new/debootstrap/debootstrap.log" 2>/dev/null | sed 's/^/debootstrap.log: /'
    if [ "$attempt" = 2 ]; then
      remove_tree "$new"
      say "failed: debootstrap failed twice$error (see $log)"
      return 1
    fi
    say "debootstrap failed$error; removing what it made and trying once more" >&2
  done
  {
    echo "deb $mirror $suite main"
    echo "deb $mirror $suite-updates main"
    [ -n "$security" ] && echo "deb $security $suite-security main"
  } >"$new/etc/apt/sources.list"
  # The root is a cache: a machine that stops while it is made has a half-made one, which the
  # next run makes again, so dpkg need not wait for each file to reach the disk.
  echo force-unsafe-io >"$new/etc/dpkg/dpkg.cfg.d/tavimore-unsafe-io"
  printf 'APT::Install-Recommends "false";\nAcquire::Languages "none";\n' \
    >"$new/etc/apt/apt.conf.d/90tavimore"
  # No service starts inside the root.
  printf '#!/bin/sh\nexit 101\n' >"$new/usr/sbin/policy-rc.d"
  chmod 755 "$new/usr/sbin/policy-rc.d"
  say "debootstrap done in $(minutes $((SECONDS - started))); installing ${#packages[@]} packages and what they need"
  started=$SECONDS
  if ! install_packages "$new"; then
    say "failed: apt-get install of the packages failed$install_error (see $log)"
    return 1
  fi
  in_tree "$new" apt-get clean
  say "packages installed in $(minutes $((SECONDS - started)))"
  wanted >"$new/etc/tavimore-root"
  mv "$new" "$root"
}

update_root() {
  say "the package list changed: installing it into the root"
  in_tree "$root" dpkg --configure -a
  if ! install_packages "$root"; then
    say "failed: apt-get install of the changed package list failed$install_error (see $log)"
    return 1
  fi
  in_tree "$root" apt-get clean
  wanted >"$stamp"
}

# The steps' lines, but the failure's, which create says once at its end.
shown() { sed -u -n '/^debian13-root: failed: /d; /^debian13-root:/p'; }

record() {
  mkdir -p "$state"
  printf 'run %s\n%s\n' "${TAVIMORE_RUN:-}" "$1" >"$state/debian13-root"
}

create() {
  mkdir -p "$(dirname "$root")" "$state" || die "cannot make $(dirname "$root")"
  exec 9>"$lock"
  if ! flock -n 9; then
    say "waiting for another run that makes or uses $root"
    flock 9
  fi
  if ready; then
    record "ready"
    return 0
  fi
  local started=$SECONDS reason mirror security
  if ! command -v debootstrap >/dev/null; then
    reason="debootstrap is not installed (tools/setup.sh test installs it)"
  elif [ -n "${TAVIMORE_DEBIAN_MIRROR:-}" ]; then
    mirror=$TAVIMORE_DEBIAN_MIRROR security=
  else
    { read -r mirror; read -r security; } < <(mirrors)
    [ -n "$mirror" ] || reason="no Debian mirror in this machine's apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/)"
  fi
  if [ -z "${reason:-}" ]; then
    : >"$log"
    # The steps are shown, and the whole output kept in the log; a step that fails says why in
    # a line "debian13-root: failed: REASON".
    if [ -f "$stamp" ]; then
      update_root 2>&1 | tee -a "$log" | shown
    else
      if [ -e "$root" ]; then
        say "removing an incomplete root at $root"
        remove_tree "$root"
      fi
      say "making the Debian 13 root at $root (minutes; the whole output goes to $log)"
      make_root "$mirror" "$security" 2>&1 | tee -a "$log" | shown
    fi
    if ! ready; then
      reason=$(sed -n 's/^debian13-root: failed: //p' "$log" | tail -n 1)
      reason=${reason:-"it stopped before it was complete (see $log)"}
    fi
  fi
  if ready; then
    local took=$((SECONDS - started))
    say "ready at $root in $(minutes "$took"): $(versions)"
    record "ready"
    return 0
  fi
  say "could not make the Debian 13 root: $reason" >&2
  [ -s "$log" ] && { echo "--- the end of $log:" >&2; tail -n 15 "$log" >&2; echo "---" >&2; }
  record "failed: $reason"
  return 1
}

versions() {
  dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package} ${Version}\n' g++-14 gimp python3-pil libgdk-pixbuf-2.0-0 2>/dev/null |
    awk '{ printf "%s%s %s", (NR > 1 ? ", " : ""), $1, $2 }'
}

status() {
  if ready; then
    echo "ready: $root ($(du -sh --one-file-system "$root" 2>/dev/null | cut -f1)): $(versions)"
    return 0
  elif [ -f "$stamp" ]; then
    echo "out of date: $root holds another package list (tools/debian13-root.sh create updates it)"
  elif [ -e "$root" ] || [ -e "$root.new" ]; then
    echo "incomplete: $root (tools/debian13-root.sh create makes it again)"
  else
    echo "missing: $root (tools/debian13-root.sh create makes it)"
  fi
  return 1
}

remove() {
  exec 9>"$lock"
  if ! flock -n 9; then
    say "waiting for the runs that use $root to end"
    flock 9
  fi
  remove_tree "$root.new"
  remove_tree "$root"
  say "removed $root"
}

run() {
  [ $# -gt 0 ] || die "usage: tools/debian13-root.sh run COMMAND [ARG...]"
  if ! ready; then
    die "no Debian 13 root to run in: $(status)"
  fi
  exec 9>"$lock"
  flock -s 9
  local cwd=$PWD
  case $cwd/ in "$here"/*) ;; *) cwd=$here ;; esac
  # The tree's owner runs the command, so that what it writes in the tree is the owner's.
  unshare --mount --propagation private --pid --fork --kill-child -- \
    "$self" _inside "$root" "$(stat -c %u:%g "$here")" "$cwd" "$here" "$@"
}

# Inside the namespaces: TREE OWNER CWD PROJECT COMMAND... (PROJECT "-" for none). This bash
# is the first process of the namespace and waits for the command; when it ends, the kernel
# ends the others and takes the mounts away.
inside() {
  local tree=$1 owner=$2 cwd=$3 project=$4
  shift 4
  mount -t proc proc "$tree/proc" &&
    mount --rbind /sys "$tree/sys" &&
    mount --rbind /dev "$tree/dev" &&
    mount -t tmpfs -o mode=1777 tmpfs "$tree/tmp" || die "cannot mount /proc, /sys, /dev and /tmp in $tree"
  if [ "$project" != - ]; then
    mkdir -p "$tree$project" && mount --bind "$project" "$tree$project" || die "cannot mount $project in $tree"
  fi
  mkdir -p -m 1777 "$tree/tmp/home"
  local environment=(HOME=/tmp/home PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin
                     LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM="${TERM:-dumb}")
  [ "$owner" = 0:0 ] && environment[0]=HOME=/root
  chroot --userspec="$owner" "$tree" /usr/bin/env -i "${environment[@]}" \
    /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$cwd" "$@" &
  local child=$!
  trap 'kill -TERM $child 2>/dev/null' TERM INT HUP
  local code
  while :; do
    wait "$child"; code=$?
    kill -0 "$child" 2>/dev/null || break
  done
  exit "$code"
}

case ${1:-} in
  create) as_root "$@"; create ;;
  run) as_root "$@"; shift; run "$@" ;;
  status) status ;;
  remove) as_root "$@"; remove ;;
  _inside) shift; inside "$@" ;;
  *) echo "usage: tools/debian13-root.sh create|run COMMAND...|status|remove" >&2; exit 2 ;;
esac
