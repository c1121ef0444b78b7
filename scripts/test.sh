#!/usr/bin/env bash
# Builds and runs the whole test suite: scripts/test.sh [default|asan|tsan]
#   default  the suite on a release build with debug info, then the e2e
#            tests once more as an unprivileged user (scripts/test-as-user.sh)
#   asan     the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     the concurrency tests (label "concurrency") under ThreadSanitizer;
#            only their programs (kalvo_concurrency_tests) are built
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
case "$preset" in
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    default|asan|tsan) ;;
    *) echo "unknown preset '$preset' (default, asan or tsan)" >&2; exit 2 ;;
esac
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
if [[ "$preset" == default ]]; then
    scripts/test-as-user.sh build
fi
