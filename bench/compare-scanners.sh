#!/usr/bin/env bash
# Times cbscan against du, ncdu and gdu, warm cache, in one interleaved run, and checks cbscan's
# totals against an independent count with find.
#
#   bench/compare-scanners.sh [--rounds N] [--build DIR] [PATH ...]
#
# Without paths it generates the flat and the skewed benchmark trees under /tmp (removed at the
# end) and also measures /usr. The totals of every path are checked at widths 1, 4 and 8, with
# the default reader and with --per-entry. Then every round runs each tool once on each path
# (round 0 warms the cache and is dropped), so load from elsewhere spreads over all tools alike.
# Prints, per path and tool, the medians of wall time, CPU time (user+sys) and peak RSS, and
# the ratios of wall time to gdu's and du's and of peak RSS to gdu's. ncdu and gdu are installed
# from Debian when missing; they are benchmark tools only, never runtime dependencies.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
rounds=5
build="$here/build"
paths=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) paths+=("$1"); shift ;;
  esac
done
cbscan="$build/bench/cbscan"
[ -x "$cbscan" ] || { echo "no $cbscan: build the cbscan target first" >&2; exit 1; }

missing=()
command -v du >/dev/null || missing+=(coreutils)
[ -x /usr/bin/time ] || missing+=(time)
command -v ncdu >/dev/null || missing+=(ncdu)
command -v gdu >/dev/null || missing+=(gdu)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ${#paths[@]} -eq 0 ]; then
  trees=$(mktemp -d /tmp/cb-bench.XXXXXX)
  trap 'rm -rf "$trees"' EXIT
  python3 "$here/bench/make-tree.py" "$trees/flat"
  python3 "$here/bench/make-tree.py" --skewed "$trees/skewed"
  paths=("$trees/flat" "$trees/skewed" /usr)
fi

status=0
for path in "${paths[@]}"; do
  echo "== $path"
  # Independent count: blocks of each regular file once per (device, inode); every entry on the
  # root's device that is neither a folder nor a symbolic link.
  dev=$(stat -c %d "$path/")
  expect_bytes=$(find "$path/" -xdev -type f -printf '%D:%i %b\n' | sort -u |
                 awk '{s += $2 * 512} END {printf "%.0f", s}')
  expect_files=$(find "$path/" -xdev ! -type d ! -type l -printf '%D\n' | grep -cx "$dev" || true)
  echo "find:   bytes $expect_bytes files $expect_files"
  for reader in "" --per-entry; do
    for width in 1 4 8; do
      got=$("$cbscan" --json --width "$width" $reader "$path")
      verdict=$(python3 -c 'import json, sys
got = json.loads(sys.argv[1])
print("match" if got["bytes"] == int(sys.argv[2]) and got["files"] == int(sys.argv[3]) else "DIFFER")' \
        "$got" "$expect_bytes" "$expect_files")
      printf 'cbscan --width %s %-11s totals %s: %s\n' "$width" "$reader" "$verdict" "$got"
      [ "$verdict" = match ] || status=1
    done
  done
done

python3 - "$rounds" "$cbscan" "${paths[@]}" <<'PY'
import statistics, subprocess, sys, tempfile, time

rounds, cbscan, paths = int(sys.argv[1]), sys.argv[2], sys.argv[3:]

def tools(path):
    return [
        ("cbscan", [cbscan, "--json", path]),
        ("cbscan --width 8", [cbscan, "--json", "--width", "8", path]),
        ("gdu -n -p -x", ["gdu", "-n", "-p", "-x", path]),
        ("du -sx", ["du", "-sx", path]),
        ("ncdu -x -0 -o /dev/null", ["ncdu", "-x", "-0", "-o", "/dev/null", path]),
    ]

def run(argv):
    # GNU time reports the child's own CPU and peak RSS (a fork of this interpreter would add
    # its RSS to the child's); the wall time is taken here.
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        code = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report.name] + argv,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        wall = time.monotonic() - start
        user, system, rss_kb = report.read().split()[-3:]
    if code != 0:
        print(f"  note: {' '.join(argv)} exited with {code}")
    return wall, float(user) + float(system), int(rss_kb) / 1024.0

with open("/proc/loadavg") as f:
    load_before = f.read().split()[:3]
samples = {(path, name): [] for path in paths for name, _ in tools(path)}
for round_ in range(rounds + 1):  # round 0 warms the cache and is dropped
    for path in paths:
        for name, argv in tools(path):
            result = run(argv)
            if round_ > 0:
                samples[(path, name)].append(result)
with open("/proc/loadavg") as f:
    load_after = f.read().split()[:3]

def median(path, name, i):
    return statistics.median(s[i] for s in samples[(path, name)])

width = max(len(path) for path in paths)
print()
print(f"{'path':{width}} {'tool':24} {'wall s':>7} {'cpu s':>7} {'rss MB':>7} "
      f"{'wall/gdu':>8} {'wall/du':>8} {'rss/gdu':>8}")
for path in paths:
    gdu, du = "gdu -n -p -x", "du -sx"
    for name, _ in tools(path):
        w, c, r = (median(path, name, i) for i in range(3))
        print(f"{path:{width}} {name:24} {w:7.3f} {c:7.3f} {r:7.1f} "
              f"{w / median(path, gdu, 0):8.2f} {w / median(path, du, 0):8.2f} "
              f"{r / median(path, gdu, 2):8.2f}")
print(f"(medians of {rounds} interleaved warm rounds; load average before "
      f"{' '.join(load_before)}, after {' '.join(load_after)})")
PY
exit $status
