#!/usr/bin/env bash
# Formats the tree's C and C++ files with the project's .clang-format.
#   scripts/format.sh           rewrite every file that drifts
#   scripts/format.sh --check   list the files that drift and exit 1 if any do
# Only files git tracks are touched (generated and build folders are not).
set -euo pipefail
cd "$(dirname "$0")/.."
mode="apply"
case "${1:-}" in
    "") ;;
    --check) mode="check" ;;
    -h|--help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "format.sh: unknown option '$1' (--check, or none to apply)" >&2; exit 2 ;;
esac
if ! command -v clang-format >/dev/null; then
    echo "format.sh: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
    exit 2
fi
# Tracked files and new ones not yet added (a new file is checked before its commit).
mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h')
if [[ $mode == apply ]]; then
    printf '%s\0' "${files[@]}" | xargs -0 -r clang-format -i --style=file
    exit 0
fi
# Forty files a run, two runs at a time; each drifting file is named in a
# "code should be clang-formatted" error of its run.
mapfile -t drifting < <(printf '%s\0' "${files[@]}" |
    { xargs -0 -r -P 2 -n 40 clang-format --style=file --dry-run --Werror 2>&1 >/dev/null || true; } |
    sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
if ((${#drifting[@]})); then
    echo "format.sh: ${#drifting[@]} file(s) differ from .clang-format ($(clang-format --version | sed 's/.*version //')):" >&2
    printf '  %s\n' "${drifting[@]}" >&2
    echo "run scripts/format.sh to rewrite them" >&2
    exit 1
fi
echo "format.sh: ${#files[@]} files match .clang-format"
