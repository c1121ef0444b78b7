#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [TARGET|all|--list] [SECONDS]
# Builds the fuzz targets with clang's libFuzzer and ASan+UBSan (build-fuzz/)
# and runs TARGET (every target cmake/KalvoFuzz.cmake lists, for "all" or none)
# for SECONDS each (60 by default); --list prints the targets and folders.
# Each target, <name>_fuzz.cpp beside the code it fuzzes, starts from its
# checked-in corpus (<folder>/corpus/<name>) and the inputs that once broke it
# (<folder>/crashes/<name>); new inputs go to build-fuzz/corpus/<name>. An input
# that breaks a target goes to <folder>/crashes/<name>/: mend the fault and
# commit the input, so that the suite's FuzzReplay.<name> test replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "${1:-}" == "-h" || "${1:-}" == "--help" ]] && { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0; }
target="${1:-all}"
seconds="${2:-60}"
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "fuzz.sh: SECONDS must be a whole number, not \"$seconds\"" >&2; exit 2; }

# The targets are the ones cmake/KalvoFuzz.cmake lists, as the build knows
# them: kalvo_add_fuzz_target(NAME FOLDER ...).
declare -A folder
while read -r name dir; do
    if [[ ! -f "$dir/${name}_fuzz.cpp" ]]; then
        echo "fuzz.sh: cmake/KalvoFuzz.cmake lists $name, but $dir/${name}_fuzz.cpp does not exist" >&2
        exit 2
    fi
    folder[$name]="$dir"
done < <(sed -n 's/^kalvo_add_fuzz_target(\([A-Za-z0-9_]*\) \([^ )]*\).*/\1 \2/p' cmake/KalvoFuzz.cmake)
# A target source the list does not name would never run: say so.
while IFS= read -r file; do
    name="$(basename "$file" _fuzz.cpp)"
    [[ -n "${folder[$name]:-}" ]] || echo "fuzz.sh: $file is not listed in cmake/KalvoFuzz.cmake, so it is not run" >&2
done < <(git ls-files '*/fuzz/*_fuzz.cpp' 2>/dev/null || find . -path '*/fuzz/*_fuzz.cpp' -not -path './build*')

if [[ "$target" == "--list" ]]; then
    for name in $(printf '%s\n' "${!folder[@]}" | sort); do echo "$name ${folder[$name]}"; done
    exit 0
elif [[ "$target" == "all" ]]; then
    targets=($(printf '%s\n' "${!folder[@]}" | sort))
elif [[ -n "${folder[$target]:-}" ]]; then
    targets=("$target")
else
    echo "fuzz.sh: no fuzz target \"$target\"; the targets are: $(printf '%s ' $(printf '%s\n' "${!folder[@]}" | sort))" >&2
    exit 2
fi

scripts/install-deps.sh fuzz
export CCACHE_SLOPPINESS=pch_defines,time_macros
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
    -DKALVO_FUZZ=ON -DKALVO_BUILD_TESTS=OFF -DKALVO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target $(printf 'fuzz_%s ' "${targets[@]}")

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
for name in "${targets[@]}"; do
    dir="${folder[$name]}"
    work="build-fuzz/corpus/$name"
    crashes="$dir/crashes/$name"
    mkdir -p "$work" "$crashes"
    echo "== $name ($dir) for ${seconds} s"
    # The first folder receives what the run finds; the checked-in ones are read only.
    if ! build-fuzz/bin/fuzz_"$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -artifact_prefix="$crashes/" -print_final_stats=1 \
        "$work" "$dir/corpus/$name" "$crashes"; then
        failed+=("$name")
    fi
    rmdir "$crashes" 2>/dev/null || true
done
if ((${#failed[@]})); then
    echo "fuzz.sh: ${failed[*]} broke; the inputs are in their crashes/ folders" >&2
    exit 1
fi
echo "fuzz.sh: ${#targets[@]} target(s) ran ${seconds} s each without a fault"
