#!/usr/bin/env bash
# Builds and runs the whole test suite: scripts/test.sh [default|asan|tsan]
#   default  the suite on a release build with debug info, then the e2e
#            tests once more as an unprivileged user (scripts/test-as-user.sh)
#   asan     the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     the concurrency tests (label "concurrency") under ThreadSanitizer;
#            only their programs (kalvo_concurrency_tests) are built
# With KALVO_CI=1 (.ci/run) the default build has no debug information: CI's
# binaries are never opened in a debugger, and it compiles a quarter faster.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
case "$preset" in
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    default|asan|tsan) ;;
    *) echo "unknown preset '$preset' (default, asan or tsan)" >&2; exit 2 ;;
esac
scripts/install-deps.sh
configure=(cmake --preset "$preset")
if [[ "${KALVO_CI:-}" == 1 && "$preset" == default ]]; then
    configure+=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG")
fi
"${configure[@]}" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
if [[ "$preset" == default ]]; then
    scripts/test-as-user.sh build
fi
