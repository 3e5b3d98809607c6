#!/usr/bin/env bash
# Measures sylvix-map on a generated site: wall and CPU time, peak memory,
# pages and nodes per second, memory per node. When BUILD_DIR/bench/parse-floor
# is built, runs it on the same site as the floor to compare against.
#
# usage: bench/run.sh BUILD_DIR [PAGES]      (PAGES defaults to 10000)
set -euo pipefail

die() { echo "bench: $*" >&2; exit 1; }

{ [ $# -ge 1 ] && [ $# -le 2 ]; } || die "usage: bench/run.sh BUILD_DIR [PAGES]"
[ -d "$1" ] || die "no build directory $1"
build_dir=$(cd "$1" && pwd)
pages=${2:-10000}
case $pages in ''|*[!0-9]*) die "PAGES must be a number, not $pages" ;; esac
seed=1

bench=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$bench/out/pages-$pages
map=$build_dir/cli/sylvix-map
reg_tool=$build_dir/cli/sylvix-reg
floor=$build_dir/bench/parse-floor
store=$out/registry.db

[ -x "$map" ] || die "$map is not built"
[ -x "$reg_tool" ] || die "$reg_tool is not built"
command -v python3 >/dev/null || die "python3 is needed"

if [ ! -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing; installing the Debian package \"time\"" >&2
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null ||
        die "could not install the \"time\" package"
fi

# The site is reused while it was made for this size and seed at this place
# (config.reg holds absolute paths).
value() { sed -n "s/^$1=//p" "$2" 2>/dev/null; }
if [ "$(value pages "$out/totals.txt")" != "$pages" ] ||
   [ "$(value seed "$out/totals.txt")" != "$seed" ] ||
   ! grep -qF "\"ServerRoot\"=\"$out\"" "$out/config.reg" 2>/dev/null; then
    echo "== generating $pages pages into $out"
    python3 "$bench/gen_site.py" "$out" --pages "$pages" --seed "$seed"
else
    echo "== reusing the site in $out"
fi

rm -f "$store" "$store-wal" "$store-shm" "$store-journal"
"$reg_tool" --store "$store" import "$out/config.reg" || die "import of $out/config.reg failed"
export NORVANE_REGISTRY=$store

# measure NAME COMMAND...: runs the command under /usr/bin/time -v with its
# output in $out/NAME.out and the measurements in $out/NAME.time.
measure() {
    local name=$1
    shift
    local status=0
    /usr/bin/time -v -o "$out/$name.time" "$@" >"$out/$name.out" 2>"$out/$name.err" || status=$?
    # sylvix-map exits with 1 when it found broken links: the generated site has them.
    if [ "$status" -gt 1 ]; then
        echo "bench: $name exited with status $status; its messages:" >&2
        tail -n 20 "$out/$name.err" >&2
        return "$status"
    fi
}

# Seconds of wall time, CPU time (user + system) and peak RSS in KB.
wall_s() {
    awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, p, ":"); s = 0
        for (i = 1; i <= n; i++) s = s * 60 + p[i]
        printf "%.2f", s }' "$1"
}
cpu_s() {
    awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {printf "%.2f", u + s}' "$1"
}
rss_kb() { awk -F': ' '/Maximum resident set size/ {print $2}' "$1"; }

# A count from sylvix-map's summary: the line "LABEL: N" (or "LABEL=N").
count_of() {
    awk -v label="$2" 'BEGIN { label = tolower(label) }
        { line = tolower($0); sub(/^[ \t]+/, "", line) }
        index(line, label) == 1 && substr(line, length(label) + 1) ~ /^[ \t]*[:=]/ {
            sub(/^[^:=]*[:=][ \t]*/, "", line); print line + 0; exit }' "$1"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

jobs=$(nproc)
echo "== sylvix-map --whole --format summary --jobs 1"
measure map1 "$map" --whole --format summary --quiet --jobs 1 || die "sylvix-map --jobs 1 failed"
cat "$out/map1.out"
echo
echo "== sylvix-map --whole --format summary (--jobs $jobs, the default)"
measure mapn "$map" --whole --format summary --quiet || die "sylvix-map failed"
cat "$out/mapn.out"

# Throughput counts the nodes the walk visited; memory is shared by the nodes
# alive at the end.
visited=$(count_of "$out/map1.out" "nodes visited")
alive=$(count_of "$out/map1.out" "nodes alive")
parsed=$(count_of "$out/map1.out" "documents parsed")
site_bytes=$(value bytes "$out/totals.txt")

have_floor=0
if [ -x "$floor" ]; then
    echo
    echo "== parse-floor $out/site"
    measure floor "$floor" "$out/site" || die "parse-floor failed"
    cat "$out/floor.out"
    have_floor=1
fi

echo
echo "== results ($pages pages, $(value links "$out/totals.txt") links, $((site_bytes / 1048576)) MB of files)"
printf '%-16s %12s %12s %12s %10s %10s\n' "" "map -j1" "map -j$jobs" "floor" "j1/floor" "jN/floor"
row() { # LABEL V1 VN VF
    local r1=n/a rn=n/a
    if [ "$have_floor" = 1 ]; then r1=$(ratio "$2" "$4"); rn=$(ratio "$3" "$4"); fi
    printf '%-16s %12s %12s %12s %10s %10s\n' "$1" "$2" "$3" "$4" "$r1" "$rn"
}
fw=-; fc=-; fr=-
if [ "$have_floor" = 1 ]; then
    fw=$(wall_s "$out/floor.time"); fc=$(cpu_s "$out/floor.time"); fr=$(rss_kb "$out/floor.time")
fi
row "wall (s)" "$(wall_s "$out/map1.time")" "$(wall_s "$out/mapn.time")" "$fw"
row "CPU (s)" "$(cpu_s "$out/map1.time")" "$(cpu_s "$out/mapn.time")" "$fc"
row "peak RSS (KB)" "$(rss_kb "$out/map1.time")" "$(rss_kb "$out/mapn.time")" "$fr"
w1=$(wall_s "$out/map1.time"); wn=$(wall_s "$out/mapn.time")
printf '%-16s %12s %12s\n' "pages/s" "$(ratio "${parsed:-$pages}" "$w1")" "$(ratio "${parsed:-$pages}" "$wn")"
printf '%-16s %12s %12s\n' "nodes/s" "$(ratio "${visited:-0}" "$w1")" "$(ratio "${visited:-0}" "$wn")"
echo "nodes visited $visited, alive $alive, documents parsed $parsed"
printf '%-16s %s\n' "bytes per node" "$(ratio "$(( $(rss_kb "$out/map1.time") * 1024 ))" "${alive:-0}")"
