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
test -f "$work/prefix/include/kalvo/platform/semaphore.h"
test ! -e "$work/prefix/include/kalvo/platform/futex.h"
cmake -S "$src/tests/install/consumer" -B "$work/consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
out="$(KALVO_RUNTIME_DIR="$work/rt" "$work/consumer/consumer")"
test "$out" = "Ret(0h)"
echo "installed package usable"
