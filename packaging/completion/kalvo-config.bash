
# kalvo-config: -C FOLDER, the commands, their options (from the usage line
# COMMAND --help prints), board kinds for --board SLOT=KIND and for board,
# station types for place, and the models of the model table (show --models)
# for place and modules.
_kalvo_config_options() { # program command
    "$1" "$2" --help 2>/dev/null | head -n 1 | grep -o -- '--[a-z][-a-z]*'
}
# The words of a command's help after a label: "KIND is A, B or C", "TYPE (A, B)".
_kalvo_config_listed() { # program command pattern
    "$1" "$2" --help 2>/dev/null | tr '\n' ' ' | sed -n "s/.*$3.*/\1/p" |
        sed 's/,* or /, /g' | tr ',' '\n' | tr -d ' '
}
_kalvo_config_kinds() { # program
    _kalvo_config_listed "$1" new 'KIND is \([A-Za-z0-9, ]*\)[;.]'
}
_kalvo_config_models() { # program
    local folder
    folder=$(_kalvo_folder)
    "$1" -C "$folder" show --models 2>/dev/null | awk '
        NR == 1 { from = index($0, "model"); to = index($0, "code"); next }
        { name = substr($0, from, to - from); sub(/ +$/, "", name); print name }'
}
_kalvo_config_positional() { # program command index
    local cur=${_kalvo_words[${#_kalvo_words[@]} - 1]}
    case $2 in
    board)
        (($3 == 1)) && _kalvo_reply < <(_kalvo_config_kinds "$1")
        ;;
    place)
        if (($3 == 2)); then
            _kalvo_reply < <(_kalvo_config_listed "$1" place 'TYPE (\([A-Z0-9, ]*\))')
        elif (($3 > 2)); then
            _kalvo_reply < <(_kalvo_config_models "$1")
            mapfile -t COMPREPLY < <(printf '%q\n' "${COMPREPLY[@]}")
        fi
        ;;
    modules)
        if (($3 > 1)); then
            _kalvo_reply < <(_kalvo_config_models "$1")
            mapfile -t COMPREPLY < <(printf '%q\n' "${COMPREPLY[@]}")
        fi
        ;;
    new)
        # new --board SLOT=KIND: the slot's kinds.
        if [[ ${_kalvo_words[${#_kalvo_words[@]} - 2]} == --board && $cur == [1-4]=* ]]; then
            _kalvo_reply < <(_kalvo_config_kinds "$1" | sed "s/^/${cur%%=*}=/")
        elif [[ ${_kalvo_words[${#_kalvo_words[@]} - 2]} == --board ]]; then
            compopt -o nospace 2>/dev/null
            _kalvo_reply < <(printf '%s\n' 1= 2= 3= 4=)
        fi
        ;;
    esac
}
_kalvo_config_complete() {
    _kalvo_line_words
    local prog=${_kalvo_words[0]} n=${#_kalvo_words[@]}
    _kalvo_split_command "$prog"
    if [[ -n $_kalvo_command && ${_kalvo_words[n - 1]} == -* ]]; then
        _kalvo_reply < <(_kalvo_config_options "$prog" "$_kalvo_command")
        return
    fi
    if [[ $_kalvo_command == new && ${_kalvo_words[n - 2]} == --board ]]; then
        _kalvo_config_positional "$prog" new 0
        return
    fi
    _kalvo_complete_commands "$prog" _kalvo_config_positional
}
complete -F _kalvo_config_complete kalvo-config
