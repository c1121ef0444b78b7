#!/usr/bin/env bash
# The manual pages of the build (build/man/man1, man3, man5, man8).
#   check_pages.sh exports <build dir> LIBRARY...
#       every KV_ call a library exports has its section-3 page, and every
#       call page names an exported call: no page can go missing or stale.
#   check_pages.sh render <build dir>
#       every page renders with man without a warning (groff -ww).
set -euo pipefail
mode=$1
build=$2
shift 2
man3=$build/man/man3
fail() { echo "FAIL: $*" >&2; exit 1; }

case $mode in
exports)
    [[ -d $man3 ]] || fail "no section-3 pages in $man3 (is doxygen installed?)"
    exported=$(for library in "$@"; do nm -D --defined-only "$library" | awk '$3 ~ /^KV_/ { print $3 }'; done | sort -u)
    [[ $(wc -l <<<"$exported") -ge 99 ]] || fail "only $(wc -l <<<"$exported") KV_ calls exported by $*"
    pages=$(cd "$man3" && ls KV_*.3 | sed 's/\.3$//' | sort)
    missing=$(comm -23 <(echo "$exported") <(echo "$pages"))
    stale=$(comm -13 <(echo "$exported") <(echo "$pages"))
    [[ -z $missing ]] || fail "exported without a page: $missing"
    [[ -z $stale ]] || fail "a page for a call no library exports: $stale"
    for section in NAME LIBRARY SYNOPSIS DESCRIPTION '"RETURN VALUE"' '"SEE ALSO"'; do
        lacking=$(grep -L "^\.SH $section" "$man3"/KV_*.3 || true)
        [[ -z $lacking ]] || fail "no $section section in: $lacking"
    done
    echo "$(wc -l <<<"$exported") exported calls, each with its page"
    ;;
render)
    count=0
    # Two at a time; each page's warnings are printed with its name.
    pages=("$build"/man/man[1-8]/*.[1-8])
    count=${#pages[@]}
    warnings=$(printf '%s\0' "${pages[@]}" | xargs -0 -P 2 -n 1 sh -c \
        'out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$0" 2>&1 >/dev/null);
         [ -z "$out" ] || printf "%s: %s\n" "$0" "$out"')
    [[ -z $warnings ]] || fail "$warnings"
    [[ $count -gt 0 ]] || fail "no pages in $build/man"
    echo "$count pages render without warnings"
    ;;
*) fail "unknown mode $mode" ;;
esac
