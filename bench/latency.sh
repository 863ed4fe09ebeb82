#!/usr/bin/env bash
# From a byte's arrival at the line to its judgement: 1, 16 and 64 ports at
# once, on one event loop or a thread a port, idle and beside two busy loops
# (this machine has two cores); then 16 ports running the whole download
# procedure with the display record as it is, while another program holds
# its lock for 3 s, and with every save taking 500 ms. Each line gives the
# percentiles in microseconds and the wall time of the downloads.
#   bench/latency.sh [BUILD]    (default: build-bench, built here)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
if [ "$build" = build-bench ]; then
  scripts/install-deps >/dev/null
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build build-bench --target custdisp-latency >/dev/null
fi
hogs=()
stop_hogs() { for p in "${hogs[@]}"; do kill "$p" 2>/dev/null || true; done; hogs=(); }
trap stop_hogs EXIT
for load in idle "two busy loops"; do
  if [ "$load" != idle ]; then
    for _ in 1 2; do (while :; do :; done) & hogs+=($!); done
  fi
  echo "== $load =="
  # About as many answers each time: enough for a 99.9th percentile.
  for size in "1 1500" "16 100" "64 30"; do
    set -- $size
    for mode in one-loop thread-per-port; do
      "$build/bench/custdisp-latency" "$1" "$2" "$mode"
    done
  done
  stop_hogs
done
echo "== the display record, 16 ports on one loop =="
for record in "" record record-locked record-slow; do
  "$build/bench/custdisp-latency" 16 100 one-loop $record
done
