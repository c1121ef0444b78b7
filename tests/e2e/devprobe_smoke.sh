#!/usr/bin/env bash
# The probe against a private host: a normal connect reaches the running
# check with the station register written, a GMM connect ends idle after the
# set-up, a missing device fails with the Win32 code for "not found" named,
# and every example of the help text works as written.
# Usage: devprobe_smoke.sh <bin dir>
set -euo pipefail
bin="$1"
export KALVO_DEVICE_DIR="$(mktemp -d)"
trap '"$bin/kalvo-devctl" stop >/dev/null 2>&1 || true; rm -rf "$KALVO_DEVICE_DIR"' EXIT
"$bin/kalvo-devctl" start --boards "tolva:id=0,kvmdrv,cardmaster" >/dev/null
out="$("$bin/kalvo-devprobe" --address 5 --size 2 --watch 250 '\\.\tolva0')"
grep -q "state 1004 running check .*0x498=0x0205" <<<"$out"
out="$("$bin/kalvo-devprobe" --word-size 32 --mode gmm --watch 150 '\\.\KVMDRV0')"
grep -q "state    0 idle .*0x44C=0x8000" <<<"$out"
if "$bin/kalvo-devprobe" '\\.\nosuch0' 2>"$KALVO_DEVICE_DIR/err"; then exit 1; fi
grep -qF "failed: ERROR_FILE_NOT_FOUND (2)" "$KALVO_DEVICE_DIR/err"
# Every example of the help text runs as written.
"$bin/kalvo-devprobe" --help | sed -n "s/^  kalvo-devprobe //p" | while read -r example; do
    eval "\"$bin/kalvo-devprobe\" $example" >/dev/null ||
        { echo "help example failed: kalvo-devprobe $example" >&2; exit 1; }
done
echo "probe ok"
