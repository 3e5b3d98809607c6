#!/bin/sh
# Text wizard: a dated note with a heading line.
path=$1
[ -n "$path" ] || { echo "usage: text-note.sh FILE" >&2; exit 2; }
[ -s "$path" ] && { echo "$path exists; left alone" >&2; exit 1; }
mkdir -p "$(dirname "$path")"
printf '%s\n%s\n\nWritten %s.\n' "$(basename "$path")" "$(basename "$path" | sed 's/./=/g')" "$(date '+%d %B %Y')" > "$path"
