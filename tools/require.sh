#!/usr/bin/env bash
# Runs a test whose tools come from Debian packages, after checking that they are installed:
#
#   tools/require.sh "PACKAGE ..." COMMAND [ARG ...]
#
# A missing package fails the test with its name, rather than leaving the test out: tools/setup.sh
# installs the test tools in groups, and a group the mirror could not serve is reported there.
set -u
missing=()
for package in $1; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "missing package: ${missing[*]} (tools/setup.sh test installs it; see its output for why it could not)"
  exit 1
fi
shift
exec "$@"
