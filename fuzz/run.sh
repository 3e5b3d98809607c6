#!/usr/bin/env bash
# Runs fuzz targets for a given time each, up to JOBS at once.
#   fuzz/run.sh BUILD_DIR SECONDS JOBS TARGET...
# New inputs go to BUILD_DIR/corpus/<target> (the seeds in
# tests/fuzz/corpus/<target> are only read); a crash, leak or time-out is
# written to BUILD_DIR/findings/ and fails the run. Each target's log is
# BUILD_DIR/fuzz-<target>.log; its closing figures are printed.
set -uo pipefail
build=$1 seconds=$2 jobs=$3
shift 3
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$build/findings"
for t in "$@"; do rm -f "$build/fuzz-$t.passed"; done

one() {
    local t=$1 exe="$build/fuzz/fuzz-$1" log="$build/fuzz-$1.log"
    mkdir -p "$build/corpus/$t"
    "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$t-" "$build/corpus/$t" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1
    local rc=$?
    local runs secs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    secs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    if [ $rc -ne 0 ]; then
        echo "fuzz-$t: FAILED (exit $rc); the end of $log:"
        tail -40 "$log"
        return 1
    fi
    echo "fuzz-$t: ${runs:-?} runs, ${secs:-?} per second, corpus $(ls "$build/corpus/$t" | wc -l) inputs, no finding"
}

export -f one
export build seconds root
printf '%s\n' "$@" | xargs -P "$jobs" -I{} bash -c 'one "$@" && touch "$build/fuzz-$1.passed"' _ {}
passed=0 failed=0
for t in "$@"; do
    if [ -e "$build/fuzz-$t.passed" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    rm -f "$build/fuzz-$t.passed"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
