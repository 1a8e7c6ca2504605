#!/usr/bin/env bash
# Installs what Tavimore needs on Debian, when it is missing, in groups:
#
#   tools/setup.sh run    what building and converting need (compiler, CMake, make, zlib,
#                         libdeflate)
#   tools/setup.sh test   that, every group the tests use, libdeflate for the Windows builds
#                         (tools/libdeflate-mingw.sh) and the Debian 13 root of the tests of
#                         today's hosts (tools/debian13-root.sh)
#
# Each group is one apt-get install. A group that cannot be installed (a mirror in mid-sync, a
# package gone) is reported and the others go on; the tests that need its packages then fail
# naming them (tools/require.sh). Idempotent: a second run finds everything present and only
# checks. What could not be installed is listed in build/setup/missing, one package a line.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
want=${1:-test}
state=$here/build/setup
mkdir -p "$state"

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)

declare -A groups=(
  [build]="cmake make g++ zlib1g-dev libdeflate-dev"
  [native-tests]="pkg-config clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev valgrind time bc"
  [readers]="python3 python3-pil python3-psd-tools python3-numpy imagemagick gimp krita pngcheck nodejs"
  [windows-build]="dpkg-dev libz-mingw-w64-dev g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64"
  [wine]="wine wine64 xvfb xauth x11-apps x11-utils openbox locales fonts-ipafont-gothic"
  [wine32]="wine32:i386"
  [packaging]="scdoc mandoc lintian"
  [plugins]="libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin python3-gi gir1.2-gdkpixbuf-2.0 shared-mime-info pcmanfm libgimp2.0-dev"
  [debian13-root]="debootstrap"
)
case $want in
  run) order=(build) ;;
  test) order=(build wine32 native-tests windows-build wine readers packaging plugins debian13-root) ;;
  *) echo "usage: tools/setup.sh [run|test]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_of() { local p; for p in $1; do installed "$p" || echo "$p"; done; }

updated=
update_lists() {
  [ -n "$updated" ] && return
  updated=1
  if [ "$want" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  # A list that fails (a mirror in mid-sync) leaves the others; those at hand may still serve.
  "${apt[@]}" update -qq 2>&1 | grep -v '^ *- \|^ *Hashes\|Release file created' \
    || true
}

# 32-bit Wine's i386 libraries must be at the very version of their amd64 namesakes. When the
# mirror's i386 security list cannot be fetched (as since 2026-12-07), the amd64 candidates come
# from the security suite and the i386 ones from the main suite, and apt gives up. Then the
# test set-up puts the security suite below the main one for all of its installs, so that both
# architectures take the versions their lists share: pinning only the Wine command would leave
# the next group's -dev packages asking for the newer amd64 library, which the i386 one cannot
# follow. Nothing is downgraded: an amd64 library already newer than the main suite's makes the
# 32-bit Wine group fail, and the Windows suites then run on the 64-bit build under wine64.
pin_dir=
pin_main_suite() {
  pin_dir=$(mktemp -d)
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin_dir/security-below-main.pref"
  apt+=(-o Dir::Etc::PreferencesParts="$pin_dir")
  trap 'rm -rf "$pin_dir"' EXIT
}
i386_security_list_missing() {
  dpkg --print-foreign-architectures | grep -qx i386 || return 1
  ls /var/lib/apt/lists/ | grep -q 'security.*binary-amd64_Packages' || return 1
  ! ls /var/lib/apt/lists/ | grep -q 'security.*binary-i386_Packages'
}

if [ "$want" = test ] && ! "$here/tools/runs-32bit.sh" --kernel; then
  echo "setup: this kernel does not start 32-bit programs: 32-bit Wine is left out, the Windows suites run on the 64-bit build"
  order=("${order[@]/wine32}")
fi

: >"$state/missing"
for group in "${order[@]}"; do
  [ -n "$group" ] || continue
  mapfile -t missing < <(missing_of "${groups[$group]}")
  if [ "$group" = readers ] && ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi
  [ ${#missing[@]} -eq 0 ] && continue
  update_lists
  echo "setup: $group: installing ${missing[*]}"
  if [ "$want" = test ] && [ -z "$pin_dir" ] && i386_security_list_missing; then
    echo "setup: the mirror's i386 security list is missing: the test tools are installed at the versions of the main suite, which both architectures share"
    pin_main_suite
  fi
  if ! "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" && [ "$group" = wine32 ] && [ -z "$pin_dir" ]; then
    echo "setup: wine32: trying again with the versions both architectures' lists share"
    pin_main_suite
    "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
  fi
  mapfile -t still < <(missing_of "${groups[$group]}")
  if [ ${#still[@]} -gt 0 ]; then
    echo "setup: $group: could not install ${still[*]}; the tests that need them will fail"
    [ "$group" = wine32 ] && echo "setup: the Windows suites will run on the 64-bit build under wine64"
    printf '%s\n' "${still[@]}" >>"$state/missing"
  fi
done

[ "$want" = run ] && exit 0

# Wine's programs must see code page 932, which comes from a Japanese locale; the tests also run
# under it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo[@]}" locale-gen >/dev/null
fi

# libdeflate for the Windows builds, from Debian's source package of the native builds' version;
# without it they deflate PNG files with zlib, which the script and CMake say.
"$here/tools/libdeflate-mingw.sh"

# npm packages (the PSD reader used by the reader tests), pinned by the lock file.
if command -v npm >/dev/null 2>&1 && [ -f "$here/package.json" ] && [ ! -d "$here/node_modules/ag-psd" ]; then
  echo "setup: installing npm packages"
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error) || echo "setup: npm ci failed"
fi

# The Debian 13 root of the tests of today's hosts (GIMP 3, Pillow 11, GCC 14), made from this
# machine's mirror where missing, or brought to a changed package list; kept outside the tree,
# under /var/cache/tavimore. A root that cannot be made is reported, and the tests that need it
# fail with the reason (tools/debian13-tests.sh); the others run as ever.
if ! "$here/tools/debian13-root.sh" create; then
  echo "setup: debian13-root: the Debian 13 root could not be made; the tests of today's hosts (make test-debian13) will fail"
fi
exit 0
