
# kalvo-devhost: its options and their values (--hardware sim or pci,
# folders for --sysfs-root, files and folders for --network and --driver).
_kalvo_devhost_positional() { :; }
_kalvo_devhost_complete() {
    _kalvo_line_words
    _kalvo_complete_plain "${_kalvo_words[0]}" _kalvo_devhost_positional
}
complete -F _kalvo_devhost_complete kalvo-devhost
