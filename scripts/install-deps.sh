#!/usr/bin/env bash
# Installs what building and testing the stack needs on a fresh Debian 12 machine
# (with "fuzz": and what scripts/fuzz.sh needs).
# Skips apt when everything is already there.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang-format
    qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic xvfb xauth
    libcli11-dev help2man
    python3 python3-venv python3-setuptools python3-wheel python3-pytest mypy  # the Python package kalvo
    systemd  # systemd-analyze and systemd-sysusers check the service files; nothing is started
    # The packages, the reference and the manual pages (scripts/package.sh and
    # their tests): doxygen and python3 make the reference and its section-3
    # pages, dpkg-dev and lintian make and check the packages, man-db renders
    # the pages, make builds the installed examples.
    doxygen dpkg-dev lintian file man-db make)
# "fuzz" adds clang and its libFuzzer runtime, for scripts/fuzz.sh only.
[[ "${1:-}" == "fuzz" ]] && packages+=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [[ $(id -u) -ne 0 ]] && SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
