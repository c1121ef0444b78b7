#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its ratios against a baseline
# measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${1:-}" == "-h" || "${1:-}" == "--help" ]] && { sed -n '2,3p' "$0" | sed 's/^# //'; exit 0; }
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
for b in build/bin/*_bench; do
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.05  # per repetition; ten of them
done
