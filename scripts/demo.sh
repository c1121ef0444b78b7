#!/usr/bin/env bash
# The stack on its simulated hardware: builds what is needed, starts a private
# device host with simulated boards (two PCI boards, a dual board and a
# PC-card board), lists its devices, and probes two of them the way the board
# library talks to them: map the board window, connect the line and follow
# the driver's connect sequence, disconnect. Then stops the host.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${1:-}" == "-h" || "${1:-}" == "--help" ]] && { sed -n '2,6p' "$0" | sed 's/^# //'; exit 0; }
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kalvo-devhost kalvo-devctl kalvo-devprobe \
    KalvoDriverTolva KalvoDriverKvmdrv KalvoDriverCardmaster
bin=build/bin
export KALVO_DEVICE_DIR="${KALVO_DEVICE_DIR:-$(mktemp -d /tmp/kalvo-demo-XXXXXX)}"
trap '"$bin/kalvo-devctl" stop >/dev/null 2>&1 || true' EXIT

echo "== device host in $KALVO_DEVICE_DIR"
"$bin/kalvo-devctl" start --boards "tolva:id=0,tolva:id=1,kvmdrv,cardmaster"
"$bin/kalvo-devctl" list
echo
echo "== PCI board 0: connect station address 5, size 2"
"$bin/kalvo-devprobe" --address 5 --size 2 '\\.\tolva0'
echo
echo "== dual board, 32-bit request forms, set-up only (GMM)"
"$bin/kalvo-devprobe" --word-size 32 --mode gmm --watch 100 '\\.\KVMDRV0'
echo
echo "(The simulated boards have no network chip yet, so the driver gives the"
echo " start command again every 70 ms: the line never reports running.)"
echo
echo "== error log"
"$bin/kalvo-devctl" log
"$bin/kalvo-devctl" stop >/dev/null
trap - EXIT
echo "host stopped; its registry and error log are in $KALVO_DEVICE_DIR"
