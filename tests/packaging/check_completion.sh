#!/usr/bin/env bash
# Completes command lines the way bash does (COMP_LINE up to the cursor) against the built
# programs, and checks each reply holds the words it must and none it must not.
# usage: check_completion.sh COMPLETION BINDIR...
set -uo pipefail
completion=$1
shift
for dir in "$@"; do PATH=$dir:$PATH; done
export PATH
source "$completion"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch sim-def.txt run1.wfa

# line (the cursor at its end) | words the reply must hold | words it must not
cases=(
    "pulsara-cli |info copy list capture render export import measure decode|--help"
    "pulsara-cli --|--help --version|info"
    "pulsara-cli capture --r|--rate|--help"
    "pulsara-cli capture --rate |100MHz 16.6MHz 3.84MHz 1KHz EXT|run1.wfa"
    "pulsara-cli capture --rate 1|100MHz 16.6MHz 12.5MHz 10MHz 1MHz 100KHz 10KHz 1KHz|50MHz EXT"
    "pulsara-cli capture --board sim --position |TOP CENTER LAST|"
    "pulsara-cli capture --condition |rising falling high low|"
    "pulsara-cli capture --probe H|HDL|PROBE00"
    "pulsara-cli capture --sim-boot |old current blank|"
    "pulsara-cli list --board |usb sim|"
    "pulsara-cli capture --timeout ||run1.wfa sim-def.txt"
    "pulsara-cli capture --def s|sim-def.txt|run1.wfa"
    "pulsara-cli info r|run1.wfa|sim-def.txt"
    "pulsara-cli export run1.wfa --|--vcd --sr --vectors --def|--rate"
    "pulsara-cli decode run1.wfa --|--list --json --samplerate --protocol-decoders|--rate -P"
    "pulsara-cli decode run1.wfa -P ua|uart|spi i2c"
    "pulsara-cli decode run1.wfa -P i2c,eep|i2c,eeprom24xx|eeprom24xx"
    "pulsara-cli decode run1.wfa -P uart:rx=UART_TX,ee|UART_TX,eeprom24xx|uart:rx=UART_TX,eeprom24xx"
    "pulsara-cli decode run1.wfa -A sp|spi spiflash|uart"
    "pulsara-cli render --analysis -P s|spi|uart"
    "pulsara --|--board --instance --sim-boot --analysis --version|info"
    "pulsara --sim-boot c|current|old"
    "pulsara --analysis r|run1.wfa|"
)

failed=0
for entry in "${cases[@]}"; do
    IFS='|' read -r line want unwanted <<<"$entry"
    COMP_LINE=$line COMP_POINT=${#line}
    COMPREPLY=()
    _pulsara_complete
    reply=" ${COMPREPLY[*]} "
    for word in $want; do
        [[ $reply == *" $word "* ]] || { echo "'$line': '$word' missing from:$reply"; failed=1; }
    done
    for word in $unwanted; do
        [[ $reply != *" $word "* ]] || { echo "'$line': '$word' should not be in:$reply"; failed=1; }
    done
    if [[ -z $want && ${#COMPREPLY[@]} -ne 0 ]]; then
        echo "'$line': expected no completion, got:$reply"
        failed=1
    fi
done
exit $failed
