
# kalvo: -C FOLDER, the commands, and the units of that folder's Kalvo.ini
# for get and set (DIO_1, then .BIT or .CHANNEL by hand).
_kalvo_positional() { # program command index
    case $2 in
    get | set)
        if (($3 == 0)); then
            _kalvo_reply < <(_kalvo_units "$(_kalvo_folder)")
        elif (($3 == 1)); then
            # The words a unit takes besides a number (kalvo get --help).
            if [[ $2 == get ]]; then
                _kalvo_reply < <(printf '%s\n' out status receive)
            else
                _kalvo_reply < <(printf '%s\n' send)
            fi
        fi
        ;;
    esac
}
_kalvo_complete() {
    _kalvo_line_words
    _kalvo_complete_commands "${_kalvo_words[0]}" _kalvo_positional
}
complete -F _kalvo_complete kalvo
