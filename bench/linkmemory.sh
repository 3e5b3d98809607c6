#!/usr/bin/env bash
# Memory per link of one page: maps a page of N short distinct links with
# `sylvix-map --no-diagnostics --depth 2` and a page without links, and
# prints the peak resident sizes and the difference per link.
#
# usage: bench/linkmemory.sh BUILD_DIR [N...]      (N defaults to 20000 100000)
set -euo pipefail

die() { echo "linkmemory: $*" >&2; exit 1; }

[ $# -ge 1 ] || die "usage: bench/linkmemory.sh BUILD_DIR [N...]"
build_dir=$(cd "$1" && pwd)
shift
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(20000 100000)
map=$build_dir/cli/sylvix-map
reg_tool=$build_dir/cli/sylvix-reg
[ -x "$map" ] && [ -x "$reg_tool" ] || die "sylvix-map and sylvix-reg must be built in $build_dir"
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (Debian package \"time\")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/site"
server='HKEY_LOCAL_MACHINE\SOFTWARE\Tavrin\WebServer\CurrentVersion'
cat >"$work/config.reg" <<EOF
Windows Registry Editor Version 5.00

[$server]
"ServerName"="localhost"
"TCP Port"=dword:00000050

[$server\\DocMap]
"/"="$work/site/"

[$server\\TypeMap]
".html"="text/html"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix\\CurrentVersion]
"OutBound"=dword:00000000
EOF
"$reg_tool" --store "$work/store.db" import "$work/config.reg" >/dev/null 2>&1
export NORVANE_REGISTRY=$work/store.db

# peak N: peak resident KB of mapping a page of N links.
peak() {
    awk -v n="$1" 'BEGIN { print "<html><body>"; for (i = 0; i < n; i++) printf "<a href=%d.html>%d</a>\n", i, i }' \
        >"$work/site/index.html"
    /usr/bin/time -f %M -o "$work/rss" "$map" --no-diagnostics --depth 2 --quiet \
        http://localhost/index.html >/dev/null || [ $? -eq 1 ]
    tail -n 1 "$work/rss"
}

base=$(peak 0)
echo "no links: peak $((base / 1024)) MB"
for n in "${counts[@]}"; do
    kb=$(peak "$n")
    echo "$n links: peak $((kb / 1024)) MB, $(((kb - base) * 1024 / n)) bytes per link"
done
