#!/usr/bin/env python3
"""Writes CHANGELOG.md (Keep a Changelog) as the changelog of a Debian package, gzipped.

usage: debian-changelog.py CHANGELOG.md MAINTAINER OUTPUT.gz

Each released version ("## [1.0.0] - 2026-12-08") becomes one entry, newest first, its items
the entry's lines; the Unreleased section is left out. The gzip stream records no name and no
time, as Debian asks.
"""
import datetime
import gzip
import re
import sys


def read_versions(text):
    versions = []
    for line in text.splitlines():
        heading = re.match(r"^## \[([^\]]+)\](?: - (\d{4}-\d{2}-\d{2}))?", line)
        if heading:
            versions.append((heading.group(1), heading.group(2), []))
        elif versions and line.startswith("### "):
            versions[-1][2].append(("group", line[4:].strip()))
        elif versions and line.startswith("- "):
            versions[-1][2].append(("item", line[2:].strip()))
        elif versions and line.startswith("  ") and line.strip() and versions[-1][2]:
            kind, words = versions[-1][2][-1]
            versions[-1][2][-1] = (kind, words + " " + line.strip())
    return [v for v in versions if v[1] is not None]


def wrap(words, first, rest, width=78):
    lines, line = [], first
    for word in words.split():
        if len(line) + len(word) + 1 > width and line.strip() not in ("*", ""):
            lines.append(line.rstrip())
            line = rest
        line += word + " "
    lines.append(line.rstrip())
    return lines


def main():
    source, maintainer, output = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(source, encoding="utf-8") as f:
        versions = read_versions(f.read())
    if not versions:
        sys.exit(f"{source}: no released version")
    entries = []
    for version, date, lines in versions:
        body = []
        for kind, words in lines:
            words = words.replace("`", "")
            if kind == "group":
                body.append(f"  {words}:")
            else:
                body += wrap(words, "  * ", "    ")
        when = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        stamp = when.strftime("%a, %d %b %Y %H:%M:%S +0000")
        entries.append(f"tavimore ({version}) unstable; urgency=medium\n\n" + "\n".join(body) +
                       f"\n\n -- {maintainer}  {stamp}\n")
    with open(output, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as f:
            f.write("\n".join(entries).encode("utf-8"))


if __name__ == "__main__":
    main()
