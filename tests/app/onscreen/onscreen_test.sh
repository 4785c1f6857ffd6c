#!/usr/bin/env bash
# The main window as a person sees it: the real pulsara on a real X server (Xvfb, the xcb
# platform), driven by real key presses and clicks (xdotool), checked on the screen's own
# pixels (import -window root) against the headless render of the same state
# (pulsara-cli render with the same capture, --h and --v). A stale frame, one that was
# not repainted after a change, fails here even where a grab() would paint it afresh.
#
#   onscreen_test.sh PULSARA PULSARA_CLI SCREEN_IMAGE WORK_DIR [wm]
#
# With "wm" a window manager (openbox) runs too, so the window is placed and decorated as
# on a desktop.
set -euo pipefail

pulsara=$1
cli=$2
screen_image=$3
work=$4
with_wm=${5:-}

rm -rf "$work"
mkdir -p "$work"
cd "$work"
# A runtime folder of our own: the simulated board's claim lives there, so other tests
# (and other runs) on this machine cannot hold our board.
mkdir -m 700 runtime
export XDG_RUNTIME_DIR=$work/runtime

fail() {
    echo "onscreen: FAIL: $*" >&2
    echo "onscreen: screenshots and diffs are in $work" >&2
    exit 1
}

pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Rows: a 16-probe bus and a byte bus, then single probes; 22 rows, so the vertical bar
# has 9 positions.
{
    printf '#SYSPARM 5,0,0,15,0,0\r\n'
    printf 'COUNTER\t0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\r\n'
    printf 'CLK_1MHZ\t16\r\n'
    printf 'UART_TX\t17\r\n'
    printf 'LOW\t0,1,2,3\r\n'
    printf 'SPI_SCK\t18\r\n'
    printf 'SPI_MOSI\t19\r\n'
    printf 'SPI_CS#\t20\r\n'
    printf 'SPI_MISO\t21\r\n'
    printf 'I2C_SCL\t22\r\n'
    printf 'I2C_SDA\t23\r\n'
    printf 'PWM\t24\r\n'
    for p in 8 9 10 11 12 13 14 15 25 26 27; do
        printf 'BIT%d\t%d\r\n' "$p" "$p"
    done
} >def.txt

# The state at start-up: the rows of def.txt over an empty sample memory.
head -c 131072 /dev/zero >startup.wfa
cp def.txt startup.wfd
# A capture to LOAD: 1MHz, CENTER, taken from the simulated board beforehand.
"$cli" capture --board sim --sim-speed 0 --rate 1MHz --position CENTER --condition rising \
    --probe HDL -o loadme.wfa >/dev/null

# A display of our own; -displayfd picks a free number.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>display.txt 2>xvfb.log &
pids+=($!)
display=""
for _ in $(seq 1 100); do
    display=$(head -n 1 display.txt 2>/dev/null || true)
    [ -n "$display" ] && break
    sleep 0.1
done
[ -n "$display" ] || fail "Xvfb did not start (xvfb.log)"
export DISPLAY=:$display
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

if [ "$with_wm" = wm ]; then
    command -v openbox >/dev/null || fail "openbox is missing; scripts/install-deps.sh installs it"
    openbox >wm.log 2>&1 &
    pids+=($!)
    sleep 1
fi

"$pulsara" --board sim --sim-boot current --sim-speed 0 >pulsara.log 2>&1 &
pids+=($!)
pulsara_pid=$!

wid=""
for _ in $(seq 1 100); do
    wid=$(xdotool search --onlyvisible --name '^Varion USB Pulsara$' 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    kill -0 "$pulsara_pid" 2>/dev/null || fail "pulsara ended at start-up: $(cat pulsara.log)"
    sleep 0.1
done
[ -n "$wid" ] || fail "the main window did not appear"
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
sleep 0.5

shot_n=0
shot() {
    shot_n=$((shot_n + 1))
    last_shot=$(printf 'shot-%02d-%s.png' "$shot_n" "$1")
    import -window root "$last_shot"
}

render() { # render FILE.wfa H V OUT.png
    "$cli" render "$1" --h "$2" --v "$3" -o "$4" >/dev/null
}

# The frame must show the render of (capture, H, V); repainting is asynchronous, so the
# screen gets a few moments to settle, never a different picture.
expect_view() { # expect_view NAME FILE.wfa H V
    local name=$1 file=$2 h=$3 v=$4
    render "$file" "$h" "$v" "expected-$name.png"
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        sleep 0.2
        shot "$name"
        if "$screen_image" compare "$last_shot" "$vx" "$vy" "expected-$name.png" \
            "diff-$name.png" >"compare-$name.txt"; then
            echo "onscreen: $name: the frame shows H=$h V=$v of $file"
            return 0
        fi
    done
    fail "$name: the frame does not show H=$h V=$v of $file: $(cat "compare-$name.txt")" \
        "(see $last_shot, expected-$name.png, diff-$name.png)"
}

# Where the view is on the screen: the start-up render, found in the first screenshot.
render startup.wfa 0 0 expected-startup.png
found=""
for _ in $(seq 1 20); do
    shot startup
    if found=$("$screen_image" find "$last_shot" expected-startup.png); then
        break
    fi
    found=""
    sleep 0.25
done
[ -n "$found" ] || fail "the start-up view (H=0, V=0, empty memory) is nowhere on the screen ($last_shot)"
read -r vx vy <<<"$found"
echo "onscreen: start-up: the view's client area is at $vx,$vy"

# The dialog's client area, for the scroll bars, which sit on the template's grid: its
# size from the X server, its origin from the view found (a window manager's frame makes
# the window's own position unreliable). The view's frame starts at 5,20 in dialog units,
# inside a border of 2 pixels.
eval "$(xdotool getwindowgeometry --shell "$wid")"
win_w=$WIDTH win_h=$HEIGHT
win_x=$((vx - (5 * win_w + 177) / 355 - 2))
win_y=$((vy - (20 * win_h + 117) / 235 - 2))
echo "onscreen: the main window's client area: ${win_w}x$win_h at $win_x,$win_y (X said $X,$Y)"
du_x() { echo $((win_x + ($1 * win_w + 177) / 355)); }  # dialog units to screen pixels
du_y() { echo $((win_y + ($1 * win_h + 117) / 235)); }

# Focus moves along START, rate, position, condition, probe, LOAD, SAVE.
focus=0
focus_to() {
    local steps=$((($1 - focus + 7) % 7))
    for _ in $(seq 1 $steps); do
        xdotool key --clearmodifiers Tab
    done
    focus=$1
    sleep 0.1
}

h_of() { # the horizontal position a saved capture recorded (the settings line's last field)
    tr -d '\r' <"${1%.wfa}.wfd" | sed -n 's/^#SYSPARM[[:space:]]*//p' | awk -F, '{print $6}'
}

# A file dialog of our own (LOAD or SAVE): the name typed, Enter, and the dialog gone.
file_dialog() { # file_dialog BUTTON_INDEX PATH
    focus_to "$1"
    xdotool key space
    local dialog=""
    for _ in $(seq 1 50); do
        dialog=$(xdotool search --onlyvisible --name '^(Load|Save|Open)' 2>/dev/null | head -1 || true)
        [ -n "$dialog" ] && break
        sleep 0.1
    done
    [ -n "$dialog" ] || fail "no file dialog opened"
    sleep 0.3
    xdotool key ctrl+a
    xdotool type --delay 5 "$2"
    xdotool key Return
    for _ in $(seq 1 50); do
        xdotool search --onlyvisible --name '^(Load|Save|Open)' >/dev/null 2>&1 || break
        sleep 0.1
    done
    sleep 0.3
}

saves=0
save_state() { # SAVE to a new file, whose path is left in $state
    saves=$((saves + 1))
    local path="$work/state-$saves.wfa"
    file_dialog 6 "$path"
    for _ in $(seq 1 30); do
        [ -f "$path" ] && [ -f "${path%.wfa}.wfd" ] && break
        sleep 0.1
    done
    [ -f "$path" ] || fail "SAVE did not write $path"
    state=$path
}

V=0

# A capture on the simulated board at each trigger position: the view moves to the
# trigger and shows the new samples.
for position in TOP CENTER LAST; do
    focus_to 2
    case $position in
    TOP) xdotool key Home ;;
    CENTER) xdotool key Home Down ;;
    LAST) xdotool key End ;;
    esac
    focus_to 0
    xdotool key space
    sleep 1.5
    shot "capture-$position-taken"
    save_state
    h=$(h_of "$state")
    case $position in
    TOP) [ "$h" = -8190 ] || fail "a capture at TOP left H at $h" ;;
    CENTER) [ "$h" = -17 ] || fail "a capture at CENTER left H at $h" ;;
    LAST) [ "$h" = 8158 ] || fail "a capture at LAST left H at $h" ;;
    esac
    # The picture taken before SAVE's dialog covered anything.
    render "$state" "$h" "$V" "expected-capture-$position.png"
    "$screen_image" compare "$last_shot" "$vx" "$vy" "expected-capture-$position.png" \
        "diff-capture-$position.png" >"compare-capture-$position.txt" ||
        fail "capture at $position: the frame is not the capture: $(cat "compare-capture-$position.txt")"
    echo "onscreen: capture at $position: the frame shows it (H=$h)"
done

# LOAD by keyboard: the loaded capture at its saved position, at once.
file_dialog 5 "$work/loadme.wfa"
loaded_h=$(h_of "$work/loadme.wfa")
expect_view load "$work/loadme.wfa" "$loaded_h" "$V"
current=$work/loadme.wfa
h=$loaded_h

# Clicks on rows: right (next change) and left (previous change) on a bus row and on a
# single-probe row. Each must move the view and show it moved.
click_row() { # click_row NAME SLOT COLUMN BUTTON
    local x=$((vx + 80 + 8 * $3 + 4)) y=$((vy + 28 + 20 * $2 + 10))
    xdotool mousemove "$x" "$y" click "$4"
    sleep 0.3
    xdotool mousemove $((vx - 40)) $((vy - 40))
    shot "$1-clicked"
    local before=$h
    save_state
    h=$(h_of "$state")
    [ "$h" != "$before" ] || fail "$1: the click did not move the view (H stays $h)"
    render "$state" "$h" "$V" "expected-$1.png"
    "$screen_image" compare "$last_shot" "$vx" "$vy" "expected-$1.png" "diff-$1.png" \
        >"compare-$1.txt" ||
        fail "$1: the frame was not redrawn after the click: $(cat "compare-$1.txt")" \
            "(see $last_shot, expected-$1.png, diff-$1.png)"
    echo "onscreen: $1: the frame follows the jump to H=$h"
    current=$state
}
click_row right-click-bus 0 40 3
click_row left-click-bus 0 40 1
click_row right-click-probe 2 40 3
click_row left-click-probe 1 30 1

# The scroll bars, clicked as a person does: the vertical bar's down arrow twice, the
# horizontal bar's right arrow, then its trough left of the thumb (a page back).
xdotool mousemove "$(du_x 350)" "$(du_y 211)" click 1
sleep 0.2
xdotool mousemove "$(du_x 350)" "$(du_y 211)" click 1
V=2
expect_view vertical-arrows "$current" "$h" "$V"
xdotool mousemove "$(du_x 336)" "$(du_y 227)" click 1
h=$((h + 1))
expect_view horizontal-arrow "$current" "$h" "$V"
xdotool mousemove "$(du_x 20)" "$(du_y 227)" click 1
h=$((h - 10))
expect_view horizontal-page "$current" "$h" "$V"
save_state
[ "$(h_of "$state")" = "$h" ] || fail "the scroll bar clicks left H at $(h_of "$state"), not $h"

# The wheel over the view: rows down, and with Shift through time.
xdotool mousemove $((vx + 300)) $((vy + 150)) click 5
V=3
expect_view wheel-rows "$current" "$h" "$V"
xdotool keydown shift click 4 keyup shift
h=$((h - 1))
expect_view wheel-time "$current" "$h" "$V"

echo "onscreen: every change was on the screen"
