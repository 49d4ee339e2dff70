# bash completion for velduo

_velduo()
{
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }
    local commands="ports scan info read write set-address reset calibrate flash watch commission report help"
    local common="--port --yes --log -v --json --help"

    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help" -- "$cur"))
        return
    fi
    case $prev in
        --port)
            COMPREPLY=($(compgen -W "$(velduo ports 2>/dev/null | cut -f1)" -- "$cur"))
            return ;;
        --log|--out|--report|--image|--mqtt-password-file|--mqtt-cafile|--mqtt-cert|--mqtt-key)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --speed|--speeds)
            COMPREPLY=($(compgen -W "115200 57600 38400 19200 9600 4800 2400 1200" -- "$cur"))
            return ;;
        --csv-style)
            COMPREPLY=($(compgen -W "comma semicolon" -- "$cur"))
            return ;;
        --name|--setpoint|--addresses|--interval|--mqtt|--mqtt-topic|--mqtt-user|--sparkplug|--sparkplug-host|--site|--line|--engineer)
            return ;;
    esac
    local own=""
    case ${words[1]} in
        scan) own="--speeds --addresses" ;;
        write) own="--name --speed --setpoint" ;;
        watch)
            own="--interval --csv --csv-style --mqtt --mqtt-topic --mqtt-user --mqtt-password-file --mqtt-cafile --mqtt-cert --mqtt-key --sparkplug --sparkplug-host"
            # Besides sensors, line files and the folders that may hold them.
            if [[ $cur != -* ]]; then
                COMPREPLY=($(compgen -f -X '!*.json' -- "$cur") $(compgen -d -- "$cur"))
                return
            fi ;;
        commission|report)
            own="--out --site --line --engineer"
            [[ ${words[1]} == commission ]] && own="$own --image --resume --report"
            # The plan, or the line file, is a file.
            if [[ $cur != -* ]]; then
                COMPREPLY=($(compgen -f -- "$cur"))
                return
            fi ;;
        calibrate)
            if [[ $cword -eq 2 ]]; then
                COMPREPLY=($(compgen -W "zero nominal" -- "$cur"))
                return
            fi ;;
        help)
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            return ;;
        flash)
            if [[ $cur != -* ]]; then
                COMPREPLY=($(compgen -f -- "$cur"))
                return
            fi ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$own $common" -- "$cur"))
    fi
}
complete -F _velduo velduo
