# bash completion for pixla                                -*- shell-script -*-

# The displays of this machine: an X server listening on
# /tmp/.X11-unix/X0 is display :0.
_pixla_displays()
{
    local socket
    for socket in /tmp/.X11-unix/X*; do
        [[ -S $socket ]] && printf ':%s\n' "${socket##*/X}"
    done
}

_pixla()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local IFS=$'\n'
    case $prev in
        -d)
            COMPREPLY=($(compgen -W "$(_pixla_displays)" -- "$cur"))
            # A display elsewhere (host:1) is taken as typed.
            [[ -n $cur && " ${COMPREPLY[*]} " != *" $cur "* ]] && COMPREPLY+=("$cur")
            return 0
            ;;
        -r)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return 0
            ;;
    esac
    [[ $cur == -* ]] && COMPREPLY=($(compgen -W $'-d\n-v\n-E\n-N\n-r\n-h' -- "$cur"))
    return 0
}

complete -F _pixla pixla
