#!/bin/sh
# Writes a program's manual page from its own --help and --version, so the page cannot
# drift from the options: help2man for the page, each subcommand's --help for COMMANDS,
# and a hand-written include for what help text cannot say (files, exit status, examples).
# usage: make-manpage.sh OUT.1 BINDIR PROGRAM INCLUDE.h2m "ONE-LINE DESCRIPTION"
set -eu
out=$1 bindir=$2 program=$3 include=$4 description=$5
# Run by name, so the usage lines read "pulsara-cli ..." and not the build path.
PATH=$bindir:$PATH
export PATH
# The page says what the program does without a desktop or a board; none is needed here.
unset DISPLAY WAYLAND_DISPLAY
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# CLI11 help as roff: "Usage:" starts a subsection, "  -o,--output TEXT  text" an item,
# deeper-indented lines continue it. Commas and pipes get break points, so a long list of
# choices wraps instead of overrunning the line.
to_roff() {
    awk '
    # Plain string replacement: sub() and gsub() treat backslashes differently across awks.
    function rep(s, from, to,    out, i) {
        out = ""
        while ((i = index(s, from)) > 0) { out = out substr(s, 1, i - 1) to; s = substr(s, i + length(from)) }
        return out s
    }
    function esc(s) { return rep(s, "\\", "\\e") }
    function term(s) { return rep(rep(esc(s), "-", "\\-"), ",", ",\\:") }
    function text(s) { s = esc(s); if (s ~ /^[.\047]/) s = "\\&" s; return s }
    NR == 1 { summary = $0; next }
    /^Usage: / { sub(/^Usage: /, ""); printf ".SS \"%s\"\n%s\n", term($0), text(summary); next }
    /^[A-Z][A-Za-z ]*:$/ || /^$/ { next }
    /^  [^ ]/ {
        line = $0; sub(/^  /, "", line)
        name = line; desc = ""
        if (match(line, /   +/)) { name = substr(line, 1, RSTART - 1); desc = substr(line, RSTART + RLENGTH) }
        split(name, parts, " ")
        rest = substr(name, length(parts[1]) + 2)
        printf ".TP\n\\fB%s\\fR%s\n", term(parts[1]), rest == "" ? "" : " " term(rest)
        if (desc != "") print text(desc)
        next
    }
    { line = $0; sub(/^ +/, "", line); print text(line) }
    '
}

commands=$("$program" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 }')
cp "$include" "$tmp/page.h2m"
if [ -n "$commands" ]; then
    {
        # Left-aligned: a long list of choices would otherwise stretch the gaps of its line.
        printf '%s\n' "[COMMANDS]" ".ad l" \
            "Each command prints the text below for \\fB\\-h\\fR or \\fB\\-\\-help\\fR."
        for command in $commands; do
            "$program" "$command" --help | to_roff
        done
        printf '%s\n' ".ad b"
    } >>"$tmp/page.h2m"
fi
help2man --no-info --section=1 --name="$description" --include="$tmp/page.h2m" \
    --output="$out.tmp" "$program"
mv "$out.tmp" "$out"
