# bash completion for corvanectl: commands, options, --protocol values, file names for
# --settings, -o, --against and the site file of diff and apply, and targets (positions and MACs) from the device list of the
# settings file the command would read. Installed to
# share/bash-completion/completions/corvanectl; needs nothing but bash.

# The words of the command line with what COMP_WORDBREAKS split at ':' and '=' joined
# again, so that a MAC is one word: sets _corvanectl_words and _corvanectl_cword.
_corvanectl_join_words() {
    _corvanectl_words=()
    _corvanectl_cword=0
    local i word last
    for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
        word=${COMP_WORDS[i]}
        last=$((${#_corvanectl_words[@]} - 1))
        if ((last >= 1)) && [[ $word == : || ${_corvanectl_words[last]} == *: ]]; then
            _corvanectl_words[last]+=$word
        else
            _corvanectl_words+=("$word")
        fi
        ((i == COMP_CWORD)) && _corvanectl_cword=$((${#_corvanectl_words[@]} - 1))
    done
}

# Every option of a command ("" for none yet).
_corvanectl_options() {
    local common="--settings --from --help"
    case $1 in
        "") echo "$common --version" ;;
        adapters | list) echo "$common --json --csv" ;;
        search) echo "$common --class --json --csv" ;;
        status) echo "$common --all --json --csv" ;;
        output) echo "$common" ;;
        "output start") echo "$common --destination --protocol --no-stuffing" ;;
        "output stop") echo "$common" ;;
        passport) echo "$common -o --output" ;;
        set-address) echo "$common --ip --mask --gateway" ;;
        backup) echo "$common --all -o --output" ;;
        diff) echo "$common --against --json" ;;
        apply) echo "$common --dry-run --yes --replace" ;;
        stream) echo "$common --seconds --group --json --csv" ;;
    esac
}

_corvanectl() {
    local -a _corvanectl_words
    local _corvanectl_cword
    _corvanectl_join_words
    local -a words=("${_corvanectl_words[@]}")
    local cword=$_corvanectl_cword
    local cur=${words[cword]} prev=${words[cword - 1]}
    if [[ $prev == = ]]; then # --option=VALUE
        prev=${words[cword - 2]}
    fi
    [[ $cur == = ]] && cur=""

    # The command so far, and the settings file it would read.
    local command="" settings="" i word
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        case $word in
            --settings | --from)
                [[ ${words[i + 1]} == = ]] && ((i++))
                ((i++))
                [[ $word == --settings ]] && settings=${words[i]}
                ;;
            -*) ;;
            *)
                if [[ -z $command || ($command == output && ($word == start || $word == stop)) ]]; then
                    command="${command:+$command }$word"
                fi
                ;;
        esac
    done

    settings=${settings/#\~/$HOME} # the shell expands it only when the command runs

    COMPREPLY=()
    case $prev in
        --settings | -o | --output | --against)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return 0
            ;;
        --protocol)
            mapfile -t COMPREPLY < <(compgen -W "rtp+ rtp udp" -- "$cur")
            return 0
            ;;
        --from | --destination | --ip | --mask | --gateway | --class | --replace | --seconds | --group)
            return 0 # values no list could hold
            ;;
    esac

    local candidates
    if [[ $cur == -* ]]; then
        candidates=$(_corvanectl_options "$command")
    elif [[ -z $command ]]; then
        candidates="adapters list search status output passport set-address backup diff apply stream"
    elif [[ $command == output ]]; then
        candidates="start stop"
    elif [[ $command == diff || $command == apply ]]; then # the site file
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return 0
    elif [[ $command == status || $command == passport || $command == "output "* ||
        $command == set-address || $command == backup || $command == stream ]]; then
        candidates=$("${words[0]}" ${settings:+--settings "$settings"} __complete-targets 2>/dev/null)
        if [[ $command == set-address ]]; then # the MAC itself, never a position
            candidates=$(grep -v '^[0-9]*$' <<<"$candidates")
        fi
    fi
    mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
    # The shell replaces only the part of a MAC after its last ':'.
    if [[ $cur == *:* ]]; then
        local colon=${cur%"${cur##*:}"}
        COMPREPLY=("${COMPREPLY[@]#"$colon"}")
    fi
    return 0
}

complete -F _corvanectl corvanectl
