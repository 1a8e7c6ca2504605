#!/usr/bin/env bash
# A program's manual, README section, completion and --help name the same options.
# usage: manual_test.sh PROGRAM MANUAL_SOURCE(.scd) MANUAL_PAGE COMPLETION README
set -euo pipefail
program=$1 source=$2 page=$3 completion=$4 readme=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What --help offers, as the completion reads it: "NAME [VALUE]" a line.
source "$completion"
_tavimore_options "$program" | sort >"$work/help"
[ -s "$work/help" ] || { echo "no options read from $program --help"; exit 1; }
# What the manual lists: each item of its OPTIONS section, "*-o*, *--output*=_DIR_" or
# "*--bmp*", read as a help line.
sed -n '/^# OPTIONS/,/^# /p' "$source" | grep '^\*-' |
  sed -E 's/\*//g; s/_([A-Z][A-Z0-9_]*)_/\1/g; s/^/  /' | _tavimore_option_lines | sort >"$work/manual"
if ! diff -u --label "$program --help" --label "$source" "$work/help" "$work/manual"; then
  echo "the manual's options differ from --help"
  exit 1
fi

# The README's command line and the manual's synopsis are the usage line of --help.
usage=$("$program" --help | sed -n 's/^usage: //p')
grep -qxF "    $usage" "$readme" || { echo "README lacks the usage line: $usage"; exit 1; }
synopsis=$(sed -n '/^# SYNOPSIS/,/^# /p' "$source" | grep '^\*' | sed -E 's/[*]//g; s/_([^_]+)_/\1/g')
[ "$synopsis" = "$usage" ] || { echo "manual synopsis '$synopsis' is not '$usage'"; exit 1; }

# The page as built is clean for mandoc, and names the program.
mandoc -T lint "$page"
name=$(basename "$program")
mandoc -T utf8 "$page" | sed 's/.\x08//g' | grep "^ *$name - " >/dev/null ||
  { echo "$page does not render its NAME line"; exit 1; }

# Completion offers the options for a dash, folders after -o, and nothing after a number value.
mkdir "$work/folder" && touch "$work/file.g00"
cd "$work"
complete_words() {
  COMP_WORDS=("$program" "$@"); COMP_CWORD=$#; COMPREPLY=()
  _tavimore
  printf '%s\n' "${COMPREPLY[@]}"
}
offered=$(complete_words -- | sort)
[ "$offered" = "$(sed -n 's/^\(--[^ ]*\).*/\1/p' "$work/help" | sort)" ] ||
  { echo "completion of '--' gave: $offered"; exit 1; }
[ "$(complete_words -o "")" = folder ] || { echo "completion after -o is not the folder"; exit 1; }
[ -z "$(complete_words -j "")" ] || { echo "completion after -j offers words"; exit 1; }
echo "options, synopsis, page and completion agree for $name"
