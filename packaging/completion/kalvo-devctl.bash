
# kalvo-devctl: the commands (and help COMMAND), then each command's words
# as its usage names them: <location> the devices the host serves, <S0..S5>
# and <D0..D3> the power states; start takes the options of kalvo-devhost,
# sim the simulated network's requests and the units of Kalvo.ini here.
_kalvo_devctl_usage_words() { # program command
    "$1" "$2" --help 2>/dev/null | head -n 1 | sed 's/^ *[a-z-]* *//; s/  .*//' |
        grep -o '[<[][^]>]*[]>]'
}
_kalvo_devctl_sim() { # program index
    local request=${_kalvo_args[1]:-}
    if (($2 == 1)); then
        _kalvo_reply < <("$1" sim --help 2>/dev/null | sed -n 's/^ *sim \([a-z|-]*\).*/\1/p' |
            tr '|' '\n' | sort -u)
    elif [[ $request == unit || $request == silent || $request == unsilent ||
        $request == remove-unit ]] && (($2 == 2)); then
        _kalvo_reply < <(_kalvo_units .)
    fi
}
_kalvo_devctl_positional() { # program command index
    local prog=$1 command=$2 index=$3 word
    case $command in
    help)
        ((index == 0)) && _kalvo_reply < <("$prog" --list-commands 2>/dev/null)
        return
        ;;
    sim)
        _kalvo_devctl_sim "$prog" $((index + 1))
        return
        ;;
    esac
    mapfile -t words < <(_kalvo_devctl_usage_words "$prog" "$command")
    word=${words[index]:-}
    case $word in
    *location*) _kalvo_reply < <(_kalvo_devices "$prog") ;;
    "<"[SD][0-9]..[SD][0-9]">")
        local letter=${word:1:1} from=${word:2:1} to=${word:6:1} i
        _kalvo_reply < <(for ((i = from; i <= to; i++)); do printf '%s\n' "$letter$i"; done)
        ;;
    "[one-memory-range"*) _kalvo_reply < <(printf '%s\n' one-memory-range fail-map) ;;
    esac
}
_kalvo_devctl_complete() {
    _kalvo_line_words
    local prog=${_kalvo_words[0]} n=${#_kalvo_words[@]}
    _kalvo_split_command "$prog"
    if [[ $_kalvo_command == start ]]; then
        # The host's options: kalvo-devhost beside this program.
        local host
        host=$(_kalvo_sibling "$prog" kalvo-devhost)
        if [[ ${_kalvo_words[n - 2]} == -* ]] && _kalvo_option_value "${_kalvo_words[n - 2]}" "$host"; then
            return
        fi
        _kalvo_reply < <(_kalvo_options "$host")
        return
    fi
    if [[ -z $_kalvo_command && ${_kalvo_words[n - 1]} != -* ]]; then
        _kalvo_reply < <({ "$prog" --list-commands 2>/dev/null; printf '%s\n' help; })
        return
    fi
    _kalvo_complete_commands "$prog" _kalvo_devctl_positional
}
complete -F _kalvo_devctl_complete kalvo-devctl
