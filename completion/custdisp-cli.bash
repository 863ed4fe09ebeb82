# bash completion for custdisp-cli                           -*- shell-script -*-
#
# The caption lists are the window's own (src/app/settings.cpp);
# scripts/check-package compares them with what custdisp-cli accepts.

_custdisp_cli_speeds=(600 1200 2400 4800 9600 19200)
_custdisp_cli_languages=(USA FRANCE GERMANY U.K "DENMARK I" SWEDEN ITALY SPAIN
    JAPAN NORWAY "DENMARK II" SLAVONIC RUSSIA RESERVED)
_custdisp_cli_codes=(JAPAN_CODE MULTI_LINGUAL_CODE PORTUGUESE_CODE CANADA_CODE
    NORDIC_CODE SLAVONIC_CODE RUSSIAN_CODE EURO_CODE WPC1252_CODE USA_EUROPE_CODE)
_custdisp_cli_emulations=(DSP800 ESC/POS "ADM 787/788" AEDEX UTC/P UTC/S CD5220)

# Offers the words of the named array that start with $1, in any case as the
# program takes them; a word with blanks comes back quoted the way $1 began.
_custdisp_cli_choose()
{
    local cur=$1 quote='' c
    local -n list=$2
    case $cur in
        \"* | \'*) quote=${cur:0:1} cur=${cur:1} ;;
    esac
    cur=${cur//\\ / }
    for c in "${list[@]}"; do
        [[ ${c,,} == "${cur,,}"* ]] || continue
        if [[ -n $quote ]]; then
            COMPREPLY+=("$quote$c$quote")
        else
            COMPREPLY+=("$(printf '%q' "$c")")
        fi
    done
}

_custdisp_cli_devices()
{
    local d devices=()
    for d in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; do
        [[ -e $d ]] && devices+=("$d")
    done
    COMPREPLY+=($(compgen -W "1 2 3 4 ${devices[*]}" -- "$1"))
}

_custdisp_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local i word command='' file='' simulate='' port=''
    COMPREPLY=()

    # "--port=DEV" reaches us as "--port" "=" "DEV".
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-1]} cur=''
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi

    case $prev in
        -p | --port) _custdisp_cli_devices "$cur"; return ;;
        -b | --baud | --display-baud) _custdisp_cli_choose "$cur" _custdisp_cli_speeds; return ;;
        --language) _custdisp_cli_choose "$cur" _custdisp_cli_languages; return ;;
        --code) _custdisp_cli_choose "$cur" _custdisp_cli_codes; return ;;
        --emulation) _custdisp_cli_choose "$cur" _custdisp_cli_emulations; return ;;
        --map) COMPREPLY=($(compgen -W "1= 2= 3= 4=" -- "$cur")); compopt -o nospace 2>/dev/null; return ;;
    esac

    # Find the command and its file among the words before this one.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            -p | --port) port=1; [[ ${COMP_WORDS[i+1]} != = ]] && ((i++)) ;;
            -b | --baud | --display-baud | --language | --code | --emulation | --map)
                [[ ${COMP_WORDS[i+1]} != = ]] && ((i++)) ;;
            --simulate) simulate=1 ;;
            =) ((i++)) ;;
            -*) ;;
            *) if [[ -z $command ]]; then command=$word; else file=$word; fi ;;
        esac
    done

    if [[ $cur != -* ]]; then
        if [[ -z $command ]]; then
            COMPREPLY=($(compgen -W "params version isp ports" -- "$cur"))
        elif [[ $command == isp && -z $file ]]; then
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        return
    fi

    local options="-h --help --help-all -v --version -b --baud --trace -q --quiet --json"
    # A simulated display takes the place of the port: the two exclude each
    # other. -p may be given again, for several displays at once.
    [[ -z $simulate ]] && options+=" -p --port"
    [[ -z $port ]] && options+=" --simulate"
    case $command in
        params) options+=" --display-baud --language --code --emulation" ;;
        isp) options+=" --dry-run --skip-held" ;;
        ports) options+=" --map" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
}
complete -F _custdisp_cli custdisp-cli
