#!/usr/bin/env bash
# Measures the whole-site map on a generated site, side by side in one run:
# --jobs 1 against the parse floor (libxml2 + libtidy over the same pages in
# one process), --no-diagnostics --jobs 1 against the libxml2-only floor,
# --jobs N against --jobs 1; peak memory; pages parsed against pages in the
# site; and whether every planted broken link is reported.
#
# This machine's speed swings from one run to the next, so each timed command
# runs ROUNDS times, interleaved round by round, and the table compares the
# best (lowest) wall time of each.
#
# usage: bench/run.sh BUILD_DIR [PAGES [ROUNDS]]
#        (PAGES defaults to 10000, ROUNDS to $BENCH_ROUNDS or 3)
set -euo pipefail

die() { echo "bench: $*" >&2; exit 1; }

{ [ $# -ge 1 ] && [ $# -le 3 ]; } || die "usage: bench/run.sh BUILD_DIR [PAGES [ROUNDS]]"
[ -d "$1" ] || die "no build directory $1"
build_dir=$(cd "$1" && pwd)
pages=${2:-10000}
case $pages in ''|*[!0-9]*) die "PAGES must be a number, not $pages" ;; esac
rounds=${3:-${BENCH_ROUNDS:-3}}
case $rounds in ''|*[!0-9]*|0) die "ROUNDS must be a number of at least 1, not $rounds" ;; esac
seed=1

bench=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$bench/out/pages-$pages
map=$build_dir/cli/sylvix-map
reg_tool=$build_dir/cli/sylvix-reg
floor=$build_dir/bench/parse-floor
store=$out/registry.db

[ -x "$map" ] || die "$map is not built"
[ -x "$reg_tool" ] || die "$reg_tool is not built"
[ -x "$floor" ] || die "$floor is not built"
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

jobs=${JOBS:-$(nproc)}
[ "$jobs" -ge 2 ] || jobs=2
echo "== load before: $(uptime | sed 's/.*load average/load average/')"
# The timed commands, NAME and then the command, run once each per round.
have_find=false
[ -x "$build_dir/bench/findnode" ] && have_find=true
timed() { # NAME ROUND: runs one timed command, its time in NAME.ROUND.time
    local name=$1 r=$2
    case $name in
    floor) measure floor "$floor" "$out/site" || die "parse-floor failed" ;;
    xmlfloor) measure xmlfloor "$floor" --xml-only "$out/site" || die "parse-floor --xml-only failed" ;;
    map1) measure map1 "$map" --whole --format summary --quiet --jobs 1 || die "sylvix-map --jobs 1 failed" ;;
    links1)
        measure links1 "$map" --whole --format summary --quiet --jobs 1 --no-diagnostics ||
            die "sylvix-map --jobs 1 --no-diagnostics failed" ;;
    mapn) measure mapn "$map" --whole --format summary --quiet --jobs "$jobs" || die "sylvix-map --jobs $jobs failed" ;;
    find) measure find "$build_dir/bench/findnode" || die "findnode failed" ;;
    esac
    mv "$out/$name.time" "$out/$name.$r.time"
}
names="floor map1 xmlfloor links1 mapn"
if $have_find; then names="$names find"; fi
for name in $names; do rm -f "$out/$name".*time; done
for ((r = 1; r <= rounds; r++)); do
    echo "== round $r of $rounds: $names"
    for name in $names; do timed "$name" "$r"; done
    if [ "$r" -eq 1 ]; then
        for name in map1 links1 mapn; do
            echo "-- $name:"
            grep -E '^(mode|documents parsed|broken|nodes visited|wall seconds|peak rss KiB):' "$out/$name.out"
        done
        # Find Node in the window (headless) over the whole tree, no page matching.
        if $have_find; then cat "$out/find.out"; fi
    fi
done
echo "== sylvix-map --whole --broken --jobs $jobs"
measure broken "$map" --whole --broken --quiet --jobs "$jobs" || die "sylvix-map --broken failed"
echo "== load after: $(uptime | sed 's/.*load average/load average/')"

site_pages=$(value pages "$out/totals.txt")
planted=$(value broken_links "$out/totals.txt")
parsed=$(count_of "$out/map1.out" "documents parsed")
floor_pages=$(count_of "$out/floor.out" "pages parsed")
reported=$(wc -l <"$out/broken.out")
# The generator plants links to files that do not exist; anything else the
# map finds broken is listed by cause.
missing=$(grep -c ' (no such file)$' "$out/broken.out" || true)
counted=$(count_of "$out/map1.out" "broken")

# best NAME: the round with the lowest wall time.
best() {
    local r b="" bw="" w
    for ((r = 1; r <= rounds; r++)); do
        w=$(wall_s "$out/$1.$r.time")
        if [ -z "$b" ] || awk -v a="$w" -v c="$bw" 'BEGIN { exit !(a < c) }'; then
            b=$r
            bw=$w
        fi
    done
    echo "$b"
}
peak_kb() { # NAME: the peak RSS over all rounds
    local r m=0 k
    for ((r = 1; r <= rounds; r++)); do
        k=$(rss_kb "$out/$1.$r.time")
        [ "$k" -gt "$m" ] && m=$k
    done
    echo "$m"
}

echo
echo "== results ($pages pages, $(value links "$out/totals.txt") links, $(($(value bytes "$out/totals.txt") / 1048576)) MB of files)"
echo "   best of $rounds interleaved rounds: wall and CPU of the fastest round, peak RSS of all rounds;"
echo "   ratios are best against best"
printf '%-34s %10s %10s %12s %8s %s\n' "run" "wall (s)" "CPU (s)" "peak RSS KB" "ratio" "against"
line() { # LABEL NAME BASE-NAME BASE-LABEL
    local w b base="${3:-}" label="${4:-}"
    b=$(best "$2")
    w=$(wall_s "$out/$2.$b.time")
    printf '%-34s %10s %10s %12s %8s %s\n' "$1" "$w" "$(cpu_s "$out/$2.$b.time")" \
        "$(peak_kb "$2")" "${base:+$(ratio "$w" "$(wall_s "$out/$base.$(best "$base").time")")}" "$label"
}
line "parse floor (libxml2 + libtidy)" floor
line "parse floor (libxml2 only)" xmlfloor
line "map --jobs 1" map1 floor "parse floor (goal <= 1.5)"
line "map --no-diagnostics --jobs 1" links1 xmlfloor "libxml2 floor (goal <= 1.5)"
line "map --jobs $jobs" mapn map1 "map --jobs 1 (goal <= 0.6)"
if $have_find; then line "Find Node, whole tree" find map1 "map --jobs 1 (goal <= 1.5)"; fi
echo "wall times of every round (s):"
for name in $names; do
    printf '  %-10s' "$name"
    for ((r = 1; r <= rounds; r++)); do printf ' %8s' "$(wall_s "$out/$name.$r.time")"; done
    echo
done
echo "pages in the site $site_pages, HTML files the floor read $floor_pages, documents the map parsed $parsed"
echo "planted broken links $planted, BROKEN nodes counted $counted, lines of --broken $reported"
echo "broken links by cause:"
sed -n 's/.* (\([^()]*\))$/\1/p' "$out/broken.out" | sort | uniq -c
if [ "$missing" = "$planted" ]; then
    echo "every planted broken link reported"
else
    echo "MISMATCH: $planted planted, $missing reported as no such file"
fi
