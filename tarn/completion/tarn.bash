# bash completion for tarn(1).
#
# tarn itself knows its commands, options and option values, and the
# devices that `tarn discover` saw last: `tarn __complete WORD...` prints
# "words" or "files", then the candidates for the last word, one a line,
# each possibly followed by a tab and a description.

_tarn()
{
    local cur prev words cword
    # MACs contain colons and --option=value an equals sign: keep them whole.
    _init_completion -n =: || return

    # The program as typed, so that a build's own tarn completes itself.
    local tarn=${words[0]}
    __expand_tilde_by_ref tarn
    local line
    local -a reply
    # One element a line, whole: never split at blanks nor globbed.
    mapfile -t reply < <("$tarn" __complete "${words[@]:1:cword}" 2>/dev/null)
    case ${reply[0]-} in
        files)
            _filedir
            ;;
        words)
            COMPREPLY=()
            for line in "${reply[@]:1}"; do
                COMPREPLY+=("${line%%$'\t'*}")
            done
            # The shell replaces only what follows the last = or : of a word.
            if [[ $cur == *=* && $COMP_WORDBREAKS == *=* ]]; then
                local given=${cur%"${cur##*=}"}
                COMPREPLY=("${COMPREPLY[@]#"$given"}")
            fi
            __ltrim_colon_completions "$cur"
            ;;
    esac
} &&
    complete -F _tarn tarn
