#!/usr/bin/env bash
# Every fuzz target source in the tree is one that scripts/fuzz.sh runs (it
# runs the targets cmake/KalvoFuzz.cmake lists), so none is left out silently.
set -euo pipefail
cd "$(dirname "$0")/../.."
listed="$(scripts/fuzz.sh --list)"
status=0
while IFS= read -r file; do
    name="$(basename "$file" _fuzz.cpp)"
    dir="$(dirname "${file#./}")"
    if ! grep -qx "$name $dir" <<<"$listed"; then
        echo "$file: not run by scripts/fuzz.sh; list it in cmake/KalvoFuzz.cmake" >&2
        status=1
    fi
done < <(find . -path ./.git -prune -o -path './build*' -prune -o -path '*/fuzz/*_fuzz.cpp' -print)
exit $status
