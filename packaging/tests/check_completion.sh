#!/usr/bin/env bash
# The bash completion of every program, as an interactive bash (bash -i)
# runs it: each row is a command line up to the cursor and words the
# completion must offer there. Commands and options come from the programs,
# unit names from the example folder's Kalvo.ini, device locations from a
# private device host serving that folder's network. A line ends with the
# cursor after a blank, or with * right at the end of the word before it.
# Usage: check_completion.sh <build dir> <source dir>
set -euo pipefail
build=$1
src=$2
bin=$build/bin
completions=$build/share/bash-completion/completions
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
export KALVO_DEVICE_DIR=$work/dev KALVO_RUNTIME_DIR=$work/rt
cleanup() {
    "$bin/kalvo-devctl" stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
cp -r "$src/api/sample/config" "$work/run"
"$bin/kalvo-devctl" start --network "$work/run" >"$work/host.log" 2>&1 ||
    { cat "$work/host.log"; fail "kalvo-devctl start"; }

# The words the completion of a program offers for a line, one a line.
offers() { # program line
    local program=$1 line=$2 errors
    bash --norc --noprofile -i -c '
        source "$1"
        COMP_LINE=$2
        COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<<"$COMP_LINE"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        function=$(complete -p "$3" | sed "s/.* -F \([^ ]*\) .*/\1/")
        "$function" "$3" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completions/$program" "$line" "$program" 2>"$work/stderr"
    # An interactive bash without a terminal says so; anything else is a fault.
    errors=$(grep -v -e "cannot set terminal process group" -e "no job control" "$work/stderr" || true)
    [[ -z $errors ]] || fail "$program: '$line': $errors"
}

rows=0
while IFS='|' read -r program line expected; do
    [[ -z $program || $program == \#* ]] && continue
    program=$(echo $program)
    # The cursor is after a blank, or with a trailing * right after the word.
    line=$(sed 's/^ *//; s/ *$//' <<<"$line")
    if [[ $line == *"*" ]]; then line=${line%"*"}; else line="$line "; fi
    line=${line//@RUN@/$work/run}
    line=${line//@BIN@/$bin}
    got=$(offers "$program" "$line")
    for word in $expected; do
        grep -qxF -- "$word" <<<"$got" || fail "$program: '$line' does not offer '$word' (offers: $(echo $got))"
    done
    rows=$((rows + 1))
done <<'EOF_ROWS'
# program      | line up to the cursor                             | words offered
kalvo          | @BIN@/kalvo                                       | status units get set doctor strerror
kalvo          | @BIN@/kalvo -*                                    | -C --help --version
kalvo          | @BIN@/kalvo -C @RUN@ get                          | DIO_1 DIO_2 ADA_1 AXSA_1 SIO_1
kalvo          | @BIN@/kalvo -C @RUN@ set AX*                      | AXSA_1
kalvo          | @BIN@/kalvo units --*                             | --watch --interval-ms
kalvo-config   | @BIN@/kalvo-config                                | show check new board place remove modules dat
kalvo-config   | @BIN@/kalvo-config show --*                       | --models
kalvo-config   | @BIN@/kalvo-config new --board 1=Pci*             | Pcimaster64
kalvo-config   | @BIN@/kalvo-config -C @RUN@ board 1               | Pcimaster64 Dualmaster Cardmaster
kalvo-config   | @BIN@/kalvo-config -C @RUN@ place 1 20 MST QMDIO* | QMDIO16 QMDIO32
kalvo-devctl   | @BIN@/kalvo-devctl                                | list start stop sim help power
kalvo-devctl   | @BIN@/kalvo-devctl pnp-stop                       | pci-0000:03:00.0
kalvo-devctl   | @BIN@/kalvo-devctl requests pci-0000:03*          | 03:00.0
kalvo-devctl   | @BIN@/kalvo-devctl power                          | S0 S3 S5
kalvo-devctl   | @BIN@/kalvo-devctl device-power pci-0000:03:00.0  | D0 D3
kalvo-devctl   | @BIN@/kalvo-devctl sim                            | show trace unit offline online
kalvo-devctl   | @BIN@/kalvo-devctl start --hardware               | sim pci
kalvo-devhost  | @BIN@/kalvo-devhost --hard*                       | --hardware
kalvo-devhost  | @BIN@/kalvo-devhost --hardware                    | sim pci
kalvo-devprobe | @BIN@/kalvo-devprobe --mode                       | normal lf gmm
kalvo-devprobe | @BIN@/kalvo-devprobe                              | \\\\.\\Tolva0
kalvo-sample   | @BIN@/kalvo-sample --*                            | --cycles --interval-ms
KalvoConfig    | @BIN@/KalvoConfig --*                             | --help --version
EOF_ROWS
[[ $rows -gt 0 ]] || fail "no rows"
echo "$rows completions as expected"
