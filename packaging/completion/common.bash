# bash completion for the Kalvo programs. Every program's file is these
# helpers followed by its own part. What to offer comes from the programs
# themselves (--help, --list-commands, COMMAND --help), from Kalvo.ini of
# the configuration folder (unit names) and from the device host (device
# locations), so the completion follows the programs as they change.

# The command line up to the cursor, split at blanks only: bash's own words
# are also cut at ':' and '=', which device locations (pci-0000:03:00.0) and
# KEY=VALUE arguments hold. Sets _kalvo_words; the last one is the word
# being completed (empty after a blank).
_kalvo_line_words() {
    local line=${COMP_LINE:0:COMP_POINT}
    read -ra _kalvo_words <<<"$line"
    if [[ -z $line || $line == *[[:space:]] ]]; then
        _kalvo_words+=("")
    fi
}

# COMPREPLY from candidates on stdin (one a line) that start with the word
# being completed. bash replaces only the part after the word's last ':' or
# '=', so that much is taken off each candidate.
_kalvo_reply() {
    local cur=${_kalvo_words[${#_kalvo_words[@]} - 1]} candidate
    local tail=${cur##*[:=]}
    local head=${cur%"$tail"}
    COMPREPLY=()
    while IFS= read -r candidate; do
        [[ -n $candidate && $candidate == "$cur"* ]] && COMPREPLY+=("${candidate#"$head"}")
    done
}

# Files (or with -d folders) for the word being completed.
_kalvo_files() {
    local cur=${_kalvo_words[${#_kalvo_words[@]} - 1]}
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "${1:--f}" -- "$cur")
}

# The options a program (or a program's command) lists in its --help: the
# lines that start with an option, "-h,--help", "--cycles INT", "-C TEXT".
_kalvo_options() { # program [command]
    local line
    "$@" --help 2>/dev/null | while IFS= read -r line; do
        [[ $line =~ ^[[:space:]]+(-[-A-Za-z0-9]+(,-[-A-Za-z0-9]+)*) ]] || continue
        printf '%s\n' ${BASH_REMATCH[1]//,/ }
    done
}

# The help text of one option: its line and the lines that continue it.
_kalvo_option_help() { # option program [command]
    local option=$1 line inside=
    shift
    "$@" --help 2>/dev/null | while IFS= read -r line; do
        if [[ $line =~ ^[[:space:]]+-[-A-Za-z0-9] ]]; then
            inside=
            [[ $line =~ ^[[:space:]]+([-A-Za-z0-9]+,)*$option([ ,]|$) ]] && inside=1
        elif [[ $line != " "* ]]; then
            inside=
        fi
        [[ -n $inside ]] && printf '%s\n' "$line"
    done
}

# What an option takes: "" for a flag, else its value's type as the help
# writes it ("INT:INT in [1 - 64]", "TEXT:{normal,lf,gmm}", "DIR", "PATH").
_kalvo_option_type() { # option program [command]
    local first
    first=$(_kalvo_option_help "$@" | head -n 1)
    [[ $first =~ ^[[:space:]]+([-A-Za-z0-9]+,)*$1( [^ ][^ ]*(:[^ ]*( [^ ]*)*)?)? ]] || return
    local type=${BASH_REMATCH[2]# }
    # Only a value written in capitals (or a [KEY=]VALUE) is one: the
    # description that follows after several blanks is not.
    [[ $type =~ ^[A-Z[] ]] && printf '%s\n' "${type%%  *}"
}

# The values an option's help names: CLI11's {a,b,c}, or words in double
# quotes ("sim", "pci").
_kalvo_option_values() { # option program [command]
    local help
    help=$(_kalvo_option_help "$@")
    if [[ $help =~ \{([^}]*)\} ]]; then
        printf '%s\n' ${BASH_REMATCH[1]//,/ }
    else
        grep -o '"[^" ]*"' <<<"$help" | tr -d '"'
    fi
}

# Completes the value of an option from its type and its help; 1 when the
# option takes no value.
_kalvo_option_value() { # option program [command]
    local type
    type=$(_kalvo_option_type "$@")
    [[ -n $type ]] || return 1
    case $type in
    *DIR*) _kalvo_files -d ;;
    *PATH* | *FILE*) _kalvo_files -f ;;
    *) _kalvo_reply < <(_kalvo_option_values "$@") ;;
    esac
    return 0
}

# The configuration folder of the command line (-C FOLDER), else ".".
_kalvo_folder() {
    local i folder=.
    for ((i = 1; i < ${#_kalvo_words[@]} - 1; i++)); do
        if [[ ${_kalvo_words[i]} == -C ]]; then
            folder=${_kalvo_words[i + 1]}
        fi
    done
    [[ $folder == "~"* ]] && folder=$HOME${folder:1}
    printf '%s\n' "$folder"
}

# The unit sections of Kalvo.ini in a folder: DIO_1, ADA_2, ...
_kalvo_units() { # folder
    local ini=$1/Kalvo.ini
    [[ -r $ini ]] || return
    sed -n 's/^[[:space:]]*\[\(\(DIO\|ADA\|AXSA\|SIO\)_[0-9]\{1,4\}\)\][[:space:]]*\r\{0,1\}$/\1/Ip' "$ini"
}

# Another program of the stack, from the folder the completed one was
# called from (build/bin/kalvo-devctl beside build/bin/kalvo-devprobe).
_kalvo_sibling() { # program name
    if [[ $1 == */* ]]; then
        printf '%s\n' "${1%/*}/$2"
    else
        printf '%s\n' "$2"
    fi
}

# What the device host serves, as kalvo-devctl list shows it: the device
# locations, or with "links" the device names a program opens (\\.\Tolva0).
_kalvo_devices() { # devctl [links]
    local devctl=$1
    if [[ ${2:-} == links ]]; then
        "$devctl" list 2>/dev/null | awk 'NR > 1 && $5 ~ /^\\\?\?\\/ { print "\\\\.\\" substr($5, 5) }'
    else
        "$devctl" list 2>/dev/null | awk 'NR > 1 { print $1 }'
    fi
}

# The command of the line and the positional words after it, for a program
# with commands: sets _kalvo_command (empty before one is given) and
# _kalvo_args. Option values are skipped.
_kalvo_split_command() { # program
    local prog=$1 i w n=${#_kalvo_words[@]}
    _kalvo_command=
    _kalvo_args=()
    for ((i = 1; i < n - 1; i++)); do
        w=${_kalvo_words[i]}
        if [[ $w == -* ]]; then
            if [[ -n $(_kalvo_option_type "$w" "$prog" ${_kalvo_command:+"$_kalvo_command"}) ]]; then
                ((i++))
            fi
        elif [[ -z $_kalvo_command ]]; then
            _kalvo_command=$w
        else
            _kalvo_args+=("$w")
        fi
    done
}

# Completes a program with commands: its options and commands, then a
# command's options and option values; the program's own function
# completes the positional words (called with the program, the command and
# the index of the word among them).
_kalvo_complete_commands() { # program positional-function
    local prog=$1 positional=$2 n=${#_kalvo_words[@]}
    local cur=${_kalvo_words[n - 1]} prev=${_kalvo_words[n - 2]}
    _kalvo_split_command "$prog"
    if [[ $prev == -* ]] &&
        _kalvo_option_value "$prev" "$prog" ${_kalvo_command:+"$_kalvo_command"}; then
        return
    fi
    if [[ -z $_kalvo_command ]]; then
        if [[ $cur == -* ]]; then
            _kalvo_reply < <(_kalvo_options "$prog")
        else
            _kalvo_reply < <("$prog" --list-commands 2>/dev/null)
        fi
    elif [[ $cur == -* ]]; then
        _kalvo_reply < <(_kalvo_options "$prog" "$_kalvo_command")
    else
        "$positional" "$prog" "$_kalvo_command" "${#_kalvo_args[@]}"
    fi
}

# Completes a program without commands: options, their values, and the
# positional words through the program's own function (called with the
# program and the index of the word among them).
_kalvo_complete_plain() { # program positional-function
    local prog=$1 positional=$2 n=${#_kalvo_words[@]} i count=0
    local cur=${_kalvo_words[n - 1]} prev=${_kalvo_words[n - 2]}
    if [[ $prev == -* ]] && _kalvo_option_value "$prev" "$prog"; then
        return
    fi
    if [[ $cur == -* ]]; then
        _kalvo_reply < <(_kalvo_options "$prog")
        return
    fi
    for ((i = 1; i < n - 1; i++)); do
        if [[ ${_kalvo_words[i]} == -* ]]; then
            [[ -n $(_kalvo_option_type "${_kalvo_words[i]}" "$prog") ]] && ((i++))
        else
            ((count++))
        fi
    done
    "$positional" "$prog" "$count"
}
