# bash completion for quillon-flash                         -*- shell-script -*-
#
# Completes the options, the values of --type, --interface, --port, --baud,
# --parity and --stop-bits, and the image: the files named for the download
# type already given (*.mfw, *.ipl, *.bin, any case), all three kinds before
# that. The port list follows the interface given (all ports before that).
# Needs no other completion code.

# Adds each word of the list that begins with $1 (in any case) to COMPREPLY.
_quillon_flash_offer() {
    local cur=${1,,} word
    shift
    for word in "$@"; do
        [[ ${word,,} == "$cur"* ]] && COMPREPLY+=("$word")
    done
}

# The value given so far for the option $1 (and its short form $2), the last
# one counting: "--type main", "--type=main", "-t main" or "-tmain".
_quillon_flash_value() {
    local long=$1 short=$2 i word value=''
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        [[ $word == -- ]] && break
        if [[ $word == "$long" || ($short && $word == "$short") ]]; then
            # With = among the word breaks, "--type=main" is three words.
            if [[ ${COMP_WORDS[i + 1]} == = ]]; then
                ((i++))
            fi
            ((i + 1 < COMP_CWORD)) && value=${COMP_WORDS[i + 1]}
            ((i++))
        elif [[ $word == "$long="* ]]; then
            value=${word#"$long="}
        elif [[ $short && $word == "$short"?* ]]; then
            value=${word#"$short"}
        fi
    done
    # Quotes around the value are no part of it.
    value=${value#[\"\']}
    value=${value%[\"\']}
    printf '%s' "$value"
}

_quillon_flash() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev='' i
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    # --option=value: bash breaks it at the =, and the option is the word
    # before it.
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    local ended=
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && ended=1
    done

    if [[ ! $ended ]]; then
        case $prev in
            -t | --type)
                local bare=${cur#[\"\']} word
                for word in main ipl font; do
                    [[ $word == "${bare,,}"* ]] && COMPREPLY+=("$word")
                done
                for word in "MAIN FIRMWARE" "IPL FIRMWARE" "US&EU FONT"; do
                    [[ ${word,,} == "${bare,,}"* ]] && COMPREPLY+=("\"$word\"")
                done
                return
                ;;
            -i | --interface)
                _quillon_flash_offer "$cur" serial parallel usb
                return
                ;;
            -p | --port)
                local interface ports=() device
                interface=$(_quillon_flash_value --interface -i)
                interface=${interface,,}
                if [[ -z $interface || $interface == serial ]]; then
                    ports+=(COM{1..20})
                    for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
                        [[ -e $device ]] && ports+=("$device")
                    done
                fi
                if [[ -z $interface || $interface == parallel ]]; then
                    ports+=(LPT{1..10})
                    for device in /dev/parport*; do
                        [[ -e $device ]] && ports+=("$device")
                    done
                fi
                if [[ -z $interface || $interface == usb ]]; then
                    for device in /dev/usb/lp*; do
                        [[ -e $device ]] && ports+=("$device")
                    done
                fi
                ports+=(sim)
                _quillon_flash_offer "$cur" "${ports[@]}"
                return
                ;;
            -b | --baud)
                _quillon_flash_offer "$cur" 115200 57600 38400 19200 9600 4800 2400 1200
                return
                ;;
            --parity)
                _quillon_flash_offer "$cur" NONE EVEN ODD
                return
                ;;
            --stop-bits)
                _quillon_flash_offer "$cur" 1 2
                return
                ;;
            --progress)
                _quillon_flash_offer "$cur" json
                return
                ;;
        esac

        if [[ $cur == -* ]]; then
            _quillon_flash_offer "$cur" -t --type -i --interface -p --port -b --baud \
                --parity --stop-bits --sha256 --require-sha256 --history --list --plan --progress=json --json -q --quiet -v --verbose -h --help --version --
            return
        fi
    fi

    # The image: the files of the type given, and folders to look in.
    local type extensions file rest ext
    type=$(_quillon_flash_value --type -t)
    case ${type,,} in
        main | "main firmware") extensions=(mfw) ;;
        ipl | "ipl firmware") extensions=(ipl) ;;
        font | fonts | "us&eu font") extensions=(bin) ;;
        *) extensions=(mfw ipl bin) ;;
    esac
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    for file in $(compgen -f -- "$cur"); do
        if [[ -d $file ]]; then
            COMPREPLY+=("$file")
            continue
        fi
        # As the program reads a name: the text after the first dot is the
        # extension, or the extension and one more character.
        rest=${file##*/}
        [[ $rest == *.* ]] || continue
        rest=${rest#*.}
        rest=${rest,,}
        ((${#rest} == 3 || ${#rest} == 4)) || continue
        for ext in "${extensions[@]}"; do
            [[ $rest == "$ext"* ]] && COMPREPLY+=("$file") && break
        done
    done
} &&
    complete -F _quillon_flash quillon-flash
