#!/usr/bin/env bash
# The application API on its simulated network: installs what is missing,
# builds, starts a private device host whose network is the example
# configuration folder (api/sample/config: one PCI board with DIO, ADA, AXSA
# and SIO units), runs kalvo-sample with a copy of that folder as its working
# directory, shows the units as the simulated line sees them, stops the host
# and prints where the logs are. Arguments go to kalvo-sample (--help).
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${1:-}" == "-h" || "${1:-}" == "--help" ]] && {
    sed -n '2,7p' "$0" | sed 's/^# //'
    exit 0
}
scripts/install-deps.sh
targets=(Kalvo Pcimaster64 kalvo-sample kalvo-devhost kalvo-devctl
    KalvoDriverTolva KalvoDriverKvmdrv KalvoDriverCardmaster)
build="${KALVO_BUILD_DIR:-build}"
if [[ -z "${KALVO_BUILD_DIR:-}" ]]; then
    cmake --preset default >/dev/null
fi
cmake --build "$build" --target "${targets[@]}"
bin="$PWD/$build/bin"
[[ "$build" = /* ]] && bin="$build/bin"

# A private run folder: the host's socket and registry, the named objects,
# and the configuration folder where the libraries write their logs.
run="$(mktemp -d /tmp/kalvo-sample-XXXXXX)"
export KALVO_DEVICE_DIR="$run/devices" KALVO_RUNTIME_DIR="$run/runtime"
mkdir -p "$KALVO_DEVICE_DIR" "$KALVO_RUNTIME_DIR" "$run/config"
cp api/sample/config/Kalvo.ini api/sample/config/ModelTbl.ini "$run/config/"
trap '"$bin/kalvo-devctl" stop >/dev/null 2>&1 || true' EXIT

echo "== device host with the network of $run/config"
"$bin/kalvo-devctl" start --network "$run/config"
"$bin/kalvo-devctl" sim show 0
echo
echo "== kalvo-sample"
status=0
(cd "$run/config" && "$bin/kalvo-sample" "$@") || status=$?
echo
echo "== the units as the simulated line sees them now (the last application to leave"
echo "   resets its lines: outputs back to 0, the line stopped; the axis stays where it went)"
for unit in DIO_1 DIO_2 ADA_1 AXSA_1 SIO_1; do
    "$bin/kalvo-devctl" sim unit "$unit"
done
"$bin/kalvo-devctl" stop >/dev/null
trap - EXIT
echo
echo "host stopped. Logs:"
echo "  API library:   $run/config/KalvoLog_0000.log (levels chosen by KalvoLog.ini there)"
echo "  board library: $run/config/Pcimaster64Log_0000.log (written when Pcimaster64Log.ini sets LOGLEVEL)"
echo "  device host:   $run/devices (registry and error log; kalvo-devctl log)"
exit $status
