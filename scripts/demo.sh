#!/usr/bin/env bash
# The stack on its simulated hardware: builds what is needed, starts a private
# device host with simulated boards (two PCI boards, a dual board and a
# PC-card board) and a described network on the first board, lists its
# devices, and probes two of them the way the board library talks to them:
# map the board window, connect the line and follow the driver's connect
# sequence, disconnect. Shows the network, a unit, a station taken off the
# line and put back, and the line's trace. Then stops the host.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${1:-}" == "-h" || "${1:-}" == "--help" ]] && { sed -n '2,8p' "$0" | sed 's/^# //'; exit 0; }
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kalvo-devhost kalvo-devctl kalvo-devprobe \
    KalvoDriverTolva KalvoDriverKvmdrv KalvoDriverCardmaster
bin=build/bin
export KALVO_DEVICE_DIR="${KALVO_DEVICE_DIR:-$(mktemp -d /tmp/kalvo-demo-XXXXXX)}"
trap '"$bin/kalvo-devctl" stop >/dev/null 2>&1 || true' EXIT

network="$KALVO_DEVICE_DIR/network.txt"
mkdir -p "$KALVO_DEVICE_DIR"
cat >"$network" <<'NET'
[board 0]
station 5 model=DIO16
unit DIO_1 station=5 offsets=0,1
station 6 model=ADA4
unit ADA_1 station=6 offsets=0,1,2,3
station 7 echo
NET

echo "== device host in $KALVO_DEVICE_DIR, network $network"
"$bin/kalvo-devctl" start --boards "tolva:id=0,tolva:id=1,kvmdrv,cardmaster" --network "$network"
"$bin/kalvo-devctl" list
echo
echo "== PCI board 0: connect station address 0, size 32"
"$bin/kalvo-devprobe" --address 0 --size 32 --watch 200 '\\.\tolva0'
echo
echo "== dual board, 32-bit request forms, set-up only (GMM)"
"$bin/kalvo-devprobe" --word-size 32 --mode gmm --watch 100 '\\.\KVMDRV0'
echo
echo "== the network of PCI board 0 (the probe has disconnected: the line stopped)"
"$bin/kalvo-devctl" sim show 0
"$bin/kalvo-devctl" sim unit DIO_1 input 0 0x1234
"$bin/kalvo-devctl" sim unit DIO_1
"$bin/kalvo-devctl" sim offline 0 5
"$bin/kalvo-devctl" sim online 0 5
echo "== its trace"
"$bin/kalvo-devctl" sim trace 0 20
"$bin/kalvo-devctl" sim timing
echo
echo "== error log"
"$bin/kalvo-devctl" log
"$bin/kalvo-devctl" stop >/dev/null
trap - EXIT
echo "host stopped; its registry and error log are in $KALVO_DEVICE_DIR"
