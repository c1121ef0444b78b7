#!/usr/bin/env bash
# Makes the Debian packages from the default build: scripts/package.sh [--lintian]
#   build/packages/libkalvo0_*.deb, libkalvo-dev_*, kalvo-tools_*,
#   kalvo-devhost_*, kalvoconfig_*; install them with
#   sudo apt install ./build/packages/*.deb
#   --lintian  also checks them with lintian (errors fail)
set -euo pipefail
cd "$(dirname "$0")/.."
lint=
case "${1:-}" in
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --lintian) lint=1 ;;
    "") ;;
    *) echo "unknown option '$1' (--lintian)" >&2; exit 2 ;;
esac
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
rm -rf build/packages
cpack -G DEB --config build/CPackConfig.cmake -B build/packages
rm -rf build/packages/_CPack_Packages
ls -1 build/packages/*.deb
if [[ -n $lint ]]; then
    lintian --no-tag-display-limit --fail-on error build/packages/*.deb
fi
