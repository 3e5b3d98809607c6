#!/usr/bin/env bash
# Creates the demo's configuration store: demo-config.reg with this checkout's
# paths filled in, imported into a fresh store, plus a copy of the sample
# access log whose dates are moved up to the last few days.
#
# usage: make-demo-store.sh BUILD_DIR [STORE_PATH]
#        STORE_PATH defaults to BUILD_DIR/demo/registry.db
set -euo pipefail

die() { echo "make-demo-store: $*" >&2; exit 1; }

{ [ $# -ge 1 ] && [ $# -le 2 ]; } || die "usage: make-demo-store.sh BUILD_DIR [STORE_PATH]"
[ -d "$1" ] || die "no build directory $1"
build_dir=$(cd "$1" && pwd)
examples=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
store=${2:-$build_dir/demo/registry.db}

reg_tool=$build_dir/cli/sylvix-reg
[ -x "$reg_tool" ] || die "$reg_tool is not built (ninja -C $build_dir sylvix-reg)"
command -v python3 >/dev/null || die "python3 is needed"

mkdir -p "$(dirname "$store")"
store=$(cd "$(dirname "$store")" && pwd)/$(basename "$store")
log_dir=$(dirname "$store")/logs
mkdir -p "$log_dir"

case $examples in
    *' '*) echo "make-demo-store: warning: the path $examples has a blank;" \
                "the Activity page cuts server paths at the first blank" >&2 ;;
esac

reg=$(mktemp "${TMPDIR:-/tmp}/demo-config.XXXXXX.reg")
trap 'rm -f "$reg"' EXIT

python3 - "$examples" "$log_dir" "$reg" <<'PY'
import datetime, re, sys

examples, log_dir, out = sys.argv[1:4]

def reg_string(text):
    # Inside a quoted .reg string only the backslash and the quote are special.
    return text.replace("\\", "\\\\").replace('"', '\\"')

with open(f"{examples}/demo-config.reg", encoding="utf-8") as f:
    text = f.read()
text = text.replace("@SERVER_ROOT@", reg_string(examples)).replace("@LOG_DIR@", reg_string(log_dir))
with open(out, "w", encoding="utf-8") as f:
    f.write(text)

# The sample log is static; shift every time by the same amount so that its
# newest line lies a few minutes in the past, and write local times with the
# local zone, as a server on this machine would.
months = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
stamp = re.compile(r"\[(\d\d)/(\w\w\w)/(\d{4}):(\d\d):(\d\d):(\d\d) [^\]]*\]")

def parse(m):
    return datetime.datetime(int(m[3]), months.index(m[2]) + 1, int(m[1]),
                             int(m[4]), int(m[5]), int(m[6]))

with open(f"{examples}/logs/access.log", encoding="utf-8") as f:
    lines = f.read().splitlines()
times = [parse(m) for m in (stamp.search(l) for l in lines) if m]
if not times:
    sys.exit("logs/access.log has no dated lines")
shift = (datetime.datetime.now() - datetime.timedelta(minutes=5)) - max(times)

def redate(m):
    t = (parse(m) + shift).astimezone()
    zone = t.strftime("%z") or "+0000"
    return "[%02d/%s/%04d:%02d:%02d:%02d %s]" % (
        t.day, months[t.month - 1], t.year, t.hour, t.minute, t.second, zone)

with open(f"{log_dir}/access.log", "w", encoding="utf-8") as f:
    for l in lines:
        f.write(stamp.sub(redate, l, count=1) + "\n")
PY

rm -f "$store" "$store-wal" "$store-shm" "$store-journal"
"$reg_tool" --store "$store" import "$reg" || die "import into $store failed"

echo "demo store: $store"
echo "access log: $log_dir/access.log"
