
# kalvo-sample: its options. The program loads the Kalvo library, which
# writes its log into the current directory, so it is asked in a folder of
# its own and never where the completion is used.
_kalvo_sample_run() {
    local program=$_kalvo_sample_program folder status
    [[ $program == /* || $program != */* ]] || program=$PWD/$program
    folder=$(mktemp -d) || return
    (cd "$folder" && KALVO_RUNTIME_DIR=$folder "$program" "$@")
    status=$?
    rm -rf "$folder"
    return $status
}
_kalvo_sample_positional() { :; }
_kalvo_sample_complete() {
    _kalvo_line_words
    _kalvo_sample_program=${_kalvo_words[0]}
    _kalvo_complete_plain _kalvo_sample_run _kalvo_sample_positional
}
complete -F _kalvo_sample_complete kalvo-sample
