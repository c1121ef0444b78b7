#!/usr/bin/env bash
# Installs the build into a temporary prefix, then configures, builds and runs
# a small program against the installed CMake package.
# Usage: check_install.sh <build dir> <source dir>
set -euo pipefail
build="$1"
src="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# Only the public headers: the platform layer's are the tree's own.
test -f "$work/prefix/include/kalvo/kalvo.h" && test -f "$work/prefix/include/kalvo/board_library.h"
test ! -e "$work/prefix/include/kalvo/platform"
# The device host and its drivers: the installed host starts with the
# installed drivers and serves the simulated boards.
lib="$(dirname "$(find "$work/prefix" -name Tolva.sys | head -1)")"
test -f "$lib/Kvmdrv.sys" && test -f "$lib/Cardmaster.sys"
test -x "$work/prefix/bin/kalvo-devhost" && test -x "$work/prefix/bin/kalvo-devctl"
export KALVO_DEVICE_DIR="$work/dev"
"$work/prefix/bin/kalvo-devhost" >"$work/host.log" 2>&1 &
host=$!
trap 'kill $host 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do "$work/prefix/bin/kalvo-devctl" list >"$work/list.txt" 2>/dev/null && break; sleep 0.1; done
grep -qi "tolva0" "$work/list.txt"
"$work/prefix/bin/kalvo-devctl" stop >/dev/null
wait $host
unset KALVO_DEVICE_DIR
# The service files: the unit (starting the host of this install), the
# system user and the udev rules, each where systemd and udev look under the
# prefix.
unit="$work/prefix/lib/systemd/system/kalvo-devhost.service"
test -f "$unit"
grep -q "^ExecStart=.*/bin/kalvo-devhost --hardware pci" "$unit"
test -f "$work/prefix/lib/sysusers.d/kalvo.conf"
test -f "$work/prefix/lib/udev/rules.d/60-kalvo.rules"
cmake -S "$src/tests/install/consumer" -B "$work/consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
out="$(cd "$work" && KALVO_RUNTIME_DIR="$work/rt" "$work/consumer/consumer")"
test "$out" = "KALVO_ERR_ARGUMENT 1"
echo "installed package usable"
# pkg-config: an application builds from the flags of kalvo.pc, a board
# library's user from pcimaster64.pc (no rpath: the libraries are found as
# the system's are); man pages and kalvo are installed.
export PKG_CONFIG_PATH="$(dirname "$(find "$work/prefix" -name kalvo.pc | head -1)")"
grep -q "^prefix=$work/prefix\$" "$PKG_CONFIG_PATH/kalvo.pc"
export LD_LIBRARY_PATH="$(pkg-config --variable=libdir kalvo)"
cat >"$work/app.c" <<'C'
#include <kalvo/kalvo.h>
#include <kalvo/kalvo_errors.h>
#include <stdio.h>
int main(void) { printf("%s\n", kalvo_api_error_name(KV_CheckBoard(9))); return 0; }
C
cc "$work/app.c" -o "$work/app" $(pkg-config --cflags --libs kalvo)
(cd "$work" && KALVO_RUNTIME_DIR="$work/rt" ./app | grep -q KALVO_ERR_ARGUMENT)
cat >"$work/board.c" <<'C'
#include <kalvo/board_library.h>
int main(void) { return KV_maxline() == 1 ? 0 : 1; }
C
cc "$work/board.c" -o "$work/board" $(pkg-config --cflags --libs pcimaster64)
(cd "$work" && KALVO_RUNTIME_DIR="$work/rt" ./board)
test -x "$work/prefix/bin/kalvo"
"$work/prefix/bin/kalvo" --version | grep -q "^kalvo "
if command -v help2man >/dev/null; then test -f "$work/prefix/share/man/man1/kalvo.1.gz"; fi
test -f "$work/prefix/share/kalvo/ModelTbl.ini" && test -f "$work/prefix/share/kalvo/example/Kalvo.ini"
echo "pkg-config files usable"
