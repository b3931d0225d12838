#!/usr/bin/env bash
# Times cbscan against du, ncdu and gdu, warm cache, interleaved, and checks cbscan's totals
# against an independent count with find.
#
#   bench/compare-scanners.sh [--rounds N] [--build DIR] [PATH ...]
#
# Without paths it generates the flat and the skewed benchmark trees under /tmp (removed at the
# end) and also measures /usr. Prints, per path, the medians of wall time, CPU time (user+sys)
# and peak RSS of each tool and their ratios to the first cbscan row. ncdu and gdu are installed
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

for path in "${paths[@]}"; do
  echo "== $path"
  # Independent count: blocks of each regular file once per (device, inode); every entry on the
  # root's device that is neither a folder nor a symbolic link.
  dev=$(stat -c %d "$path/")
  expect_bytes=$(find "$path/" -xdev -type f -printf '%D:%i %b\n' | sort -u |
                 awk '{s += $2 * 512} END {printf "%.0f", s}')
  expect_files=$(find "$path/" -xdev ! -type d ! -type l -printf '%D\n' | grep -cx "$dev" || true)
  got=$("$cbscan" --json "$path")
  echo "find:   bytes $expect_bytes files $expect_files"
  echo "cbscan: $got"
  python3 - "$got" "$expect_bytes" "$expect_files" <<'PY'
import json, sys
got = json.loads(sys.argv[1])
ok = got["bytes"] == int(sys.argv[2]) and got["files"] == int(sys.argv[3])
print("totals " + ("match" if ok else "DIFFER"))
PY
  python3 - "$rounds" "$cbscan" "$path" <<'PY'
import statistics, subprocess, sys, tempfile, time

rounds, cbscan, path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
tools = [
    ("cbscan --json", [cbscan, "--json", path]),
    ("cbscan --json --width 8", [cbscan, "--json", "--width", "8", path]),
    ("du -sx", ["du", "-sx", path]),
    ("ncdu -x -0 -o /dev/null", ["ncdu", "-x", "-0", "-o", "/dev/null", path]),
    ("gdu -n -p -x", ["gdu", "-n", "-p", "-x", path]),
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
        print(f"  note: {argv[0]} exited with {code}")
    return wall, float(user) + float(system), int(rss_kb) / 1024.0

samples = {name: [] for name, _ in tools}
for round_ in range(rounds + 1):  # round 0 warms the cache and is dropped
    for name, argv in tools:
        result = run(argv)
        if round_ > 0:
            samples[name].append(result)

def median(name, i):
    return statistics.median(s[i] for s in samples[name])

base = tools[0][0]
print(f"{'tool':26} {'wall s':>8} {'cpu s':>8} {'rss MB':>8} {'wall/cb':>8} {'cpu/cb':>8} {'rss/cb':>8}")
for name, _ in tools:
    w, c, r = (median(name, i) for i in range(3))
    print(f"{name:26} {w:8.3f} {c:8.3f} {r:8.1f} {w / median(base, 0):8.2f} "
          f"{c / median(base, 1):8.2f} {r / median(base, 2):8.2f}")
print(f"(medians of {rounds} interleaved warm runs; ratios are tool / {base})")
PY
done
