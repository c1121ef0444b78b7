#!/usr/bin/env bash
# What an idle running line costs in the device host: starts a private host
# with one PCI board and 16 DIO units (stations 1-16) at the given cycle,
# starts the line through the chip's registers (station register, then the
# start command) and leaves it alone for the given time. Prints the host
# process's CPU time per wall second (user + system, from /proc) and the
# line's cycle figures ("sim timing": worst lateness since the host began).
# Usage: scripts/host-load.sh [seconds (default 60)] [cycle-us (default 1000)]
# Environment: BIN, the folder with kalvo-devhost and kalvo-devctl (build/bin);
# UNITS, the number of DIO units (0..31, default 16).
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${1:-}" == "-h" || "${1:-}" == "--help" ]] && { sed -n '2,10p' "$0" | sed 's/^# //'; exit 0; }
seconds="${1:-60}"
cycle="${2:-1000}"
bin="${BIN:-build/bin}"
units="${UNITS:-16}"
work="$(mktemp -d /tmp/kalvo-load-XXXXXX)"
export KALVO_DEVICE_DIR="$work/devices"
trap '"$bin/kalvo-devctl" stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

{
    echo "[board 0]"
    for s in $(seq 1 "$units"); do
        echo "station $s model=DIO"
        echo "unit DIO_$s station=$s offsets=0,1,2,3"
    done
} >"$work/network.txt"

started="$("$bin/kalvo-devctl" start --boards tolva:id=0 --network "$work/network.txt" \
    --cycle-us "$cycle")"
pid="$(echo "$started" | awk '{print $3}')"
location="$("$bin/kalvo-devctl" list | awk 'NR==2 {print $1}')"
# Memory window (range 1): station register 0x498 = master 0, 32 addresses;
# command register 0x44C = start.
"$bin/kalvo-devctl" write "$location" 1 0x498 0020 >/dev/null
"$bin/kalvo-devctl" write "$location" 1 0x44C 00010000 >/dev/null
sleep 0.5
"$bin/kalvo-devctl" sim show 0 | head -1

ticks="$(getconf CLK_TCK)"
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
c0="$(cpu)"
t0="$(date +%s.%N)"
sleep "$seconds"
c1="$(cpu)"
t1="$(date +%s.%N)"
awk -v c="$((c1 - c0))" -v hz="$ticks" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "host CPU: %.2f%% of one core over %.1f s\n", 100 * c / hz / (t1 - t0), t1 - t0 }'
"$bin/kalvo-devctl" sim timing
