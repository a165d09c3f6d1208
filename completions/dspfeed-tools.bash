# Bash completion for dspfeed's four tools: their options, dspfeed-play's paths and outputs, and the files each reads and writes.
# SPDX-License-Identifier: MIT
# Installed under each tool's name where bash-completion looks for it
# (/usr/share/bash-completion/completions); each copy completes all four.

# _dspfeed_outputs TOOL VIA: the names dspfeed-play's -d takes, as its own
# --list tells them, on the path VIA or on every path.
_dspfeed_outputs() {
    "$1" --list 2>/dev/null | awk -v via="$2" '$1 != "automatic" && (via == "" || $1 == via) { print $2 }'
}

_dspfeed_tools() {
    local cur=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD - 1]}
    local tool=${COMP_WORDS[0]} options='--help --version --' patterns=() word via= place=0 ended=
    COMPREPLY=()
    # Which name the word is, and the --via given before it.
    for ((word = 1; word < COMP_CWORD; word++)); do
        if [ -z "$ended" ]; then
            case ${COMP_WORDS[word]} in
                --) ended=1 && continue ;;
                --via) via=${COMP_WORDS[word + 1]} ;&
                -d | --device) word=$((word + 1)) && continue ;;
                -?*) continue ;;
            esac
        fi
        place=$((place + 1))
    done
    case ${tool##*/} in
        dspfeed-play)
            case $previous in
                --via)
                    mapfile -t COMPREPLY < <(compgen -W 'oss pulse alsa wav' -- "$cur")
                    return ;;
                -d | --device)
                    mapfile -t COMPREPLY < <(compgen -W "$(_dspfeed_outputs "$tool" "$via")" -- "$cur")
                    return ;;
            esac
            options="--via --device --list $options"
            patterns=('*.txt') ;;
        dspfeed-check)
            options="--json $options"
            patterns=('*.txt') ;;
        dspfeed2wav) patterns=('*.txt' '*.wav') ;;
        wav2dspfeed) patterns=('*' '*.txt') ;;
    esac
    if [[ $cur == -?* && -z $ended ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    # The stream or the file for this place, and folders to go into.
    local pattern=${patterns[place]:-${patterns[-1]}}
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <({ compgen -f -X "!$pattern" -- "$cur"; compgen -d -- "$cur"; } | sort -u)
}
complete -F _dspfeed_tools dspfeed-play dspfeed-check dspfeed2wav wav2dspfeed
