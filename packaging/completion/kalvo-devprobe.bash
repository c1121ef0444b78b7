
# kalvo-devprobe: its options and their values, and for DEVICE the devices
# the host serves (\\.\Tolva0 ...).
_kalvo_devprobe_positional() { # program index
    if (($2 == 0)); then
        _kalvo_reply < <(_kalvo_devices "$(_kalvo_sibling "$1" kalvo-devctl)" links)
        mapfile -t COMPREPLY < <(printf '%q\n' "${COMPREPLY[@]}")
    fi
}
_kalvo_devprobe_complete() {
    _kalvo_line_words
    _kalvo_complete_plain "${_kalvo_words[0]}" _kalvo_devprobe_positional
}
complete -F _kalvo_devprobe_complete kalvo-devprobe
