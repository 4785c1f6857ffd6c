#!/usr/bin/env bash
# The generated manual pages render without a groff or man warning and hold every command
# and option the programs' --help lists (under that command's heading); the AppStream
# metainfo validates and its screenshots exist in docs/.
# usage: check_docs.sh MAN_DIR METAINFO SOURCE_DIR BINDIR...
set -uo pipefail
man_dir=$1 metainfo=$2 source_dir=$3
shift 3
for dir in "$@"; do PATH=$dir:$PATH; done
export PATH
unset DISPLAY WAYLAND_DISPLAY
failed=0
problem() {
    echo "$*"
    failed=1
}

for page in pulsara pulsara-cli; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$man_dir/$page.1" 2>&1 >/dev/null)
    [[ -z $warnings ]] || problem "$page.1 renders with warnings: $warnings"
    [[ $(gzip -dc "$man_dir/$page.1.gz") == "$(cat "$man_dir/$page.1")" ]] || problem "$page.1.gz is not $page.1"
done

# Rendered wide and in ASCII, so no option name is broken or hyphenated.
rendered() { LC_ALL=C MANWIDTH=400 man -l "$man_dir/$1.1" 2>/dev/null; }
options() { awk '/^  -/ { n = split($1, names, ","); for (i = 1; i <= n; i++) print names[i] }'; }

text=$(rendered pulsara)
for option in $(pulsara --help | options); do
    grep -q -- "$option" <<<"$text" || problem "pulsara.1 lacks $option"
done

text=$(rendered pulsara-cli)
commands=$(pulsara-cli --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 }')
[[ $(wc -w <<<"$commands") -ge 9 ]] || problem "pulsara-cli --help lists only: $commands"
for command in $commands; do
    # The command's own subsection: from its heading to the next one.
    section=$(awk -v head="   pulsara-cli $command " '
        index($0, head) == 1 { on = 1; print; next }
        on && /^   [^ ]/ { exit }
        on { print }' <<<"$text")
    [[ -n $section ]] || { problem "pulsara-cli.1 has no section for $command"; continue; }
    for option in $(pulsara-cli "$command" --help | options); do
        grep -q -- "$option" <<<"$section" || problem "pulsara-cli.1: $command lacks $option"
    done
done
for heading in "EXIT STATUS" FILES EXAMPLES "SIMULATED BOARD"; do
    grep -q "^$heading" <<<"$text" || problem "pulsara-cli.1 has no $heading section"
done

report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || problem "appstreamcli rejects $metainfo: $report"
for image in $(sed -n 's|.*<image>.*/\([^/<]*\)</image>.*|\1|p' "$metainfo"); do
    [[ -f $source_dir/docs/$image ]] || problem "screenshot $image is not in docs/"
done
exit $failed
