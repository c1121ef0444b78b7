
# KalvoConfig: a desktop program, which is not run to ask for its options
# (that would open its window): --help, --version and Qt's -platform.
_kalvo_gui_complete() {
    _kalvo_line_words
    local n=${#_kalvo_words[@]}
    if [[ ${_kalvo_words[n - 2]} == -platform ]]; then
        _kalvo_reply < <(printf '%s\n' xcb wayland offscreen)
    else
        _kalvo_reply < <(printf '%s\n' --help --version -platform)
    fi
}
complete -F _kalvo_gui_complete KalvoConfig
