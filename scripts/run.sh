#!/usr/bin/env bash
# Builds Vedrik, the stand-in simulator and the example simulator, and starts
# the panel together with the stand-in running its demo program, a few steps
# a second; quitting the panel ends the stand-in.
# The panel runs in build/panel-run, where it keeps its imgui.ini; a first run
# opens in the panel's first layout.
# Without a display (no DISPLAY), runs the panel under Xvfb for a few seconds
# in build/headless-run, in its first layout, with the register view in HEX
# and the data preview on in the data memory window, saves a screenshot and
# prints its path. The positions it clicks are the end-to-end tests' names
# for them (tests/support/x11/panel_layout.hpp).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(--target vedrik)
[ -f standin/CMakeLists.txt ] && targets+=(--target qz3-standin)
[ -f examples/CMakeLists.txt ] && targets+=(--target minimal-simulator)
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" "${targets[@]}" >/dev/null

standin_pid=""
xvfb_pid=""
cleanup() {
    [ -n "$standin_pid" ] && kill "$standin_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

start_standin() {
    if [ -x build/standin/qz3-standin ]; then
        build/standin/qz3-standin --demo "$@" &
        standin_pid=$!
    fi
}

if [ -n "${DISPLAY:-}" ]; then
    mkdir -p build/panel-run
    start_standin
    status=0
    (cd build/panel-run && exec ../vedrik) || status=$?
    exit "$status"
fi

# Headless: a private X server, a short run, a screenshot.
seconds=${VEDRIK_HEADLESS_SECONDS:-6}
shot=${VEDRIK_SCREENSHOT:-$PWD/build/vedrik-screenshot.png}

# A position in the panel window, by its name in the tests' layout file.
layout_file=tests/support/x11/panel_layout.hpp
at() {
    local value
    value=$(grep -oE "\b$1 = -?[0-9]+" "$layout_file" | head -n 1 | grep -oE -- '-?[0-9]+$') || true
    [ -n "$value" ] || { echo "run.sh: no $1 in $layout_file" >&2; return 1; }
    echo "$value"
}
hex_x=$(at reg_hex_x); hex_y=$(at reg_hex_y)
options_x=$(at dm_options_x); options_y=$(at dm_options_y)
preview_x=$(at dm_show_preview_x); preview_y=$(at dm_show_preview_y)
byte0_x=$(at dm_byte0_x); byte1_x=$(at dm_byte1_x); row0_y=$(at dm_row0_y)
idle_x=$(at idle_x); idle_y=$(at idle_y)

# Xvfb picks a free display itself and writes its number once it is ready.
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb_pid=$!
number=""
read -r -t 20 number <"$fifo" || true
rm -f "$fifo"
[ -n "$number" ] || { echo "run.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"

# No imgui.ini: the screenshot shows the first layout, where the positions above are.
mkdir -p build/headless-run
rm -f build/headless-run/imgui.ini
(cd build/headless-run && exec ../vedrik) &
panel_pid=$!
start_standin
window=$(timeout 20 xdotool search --sync --name '^Vedrik$' | head -n 1) || true
if [ -n "$window" ]; then
    # Positions from the window's top-left corner.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    click() { xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1; sleep 0.3; }
    sleep 1
    click "$hex_x" "$hex_y"                               # register_file: HEX
    click "$options_x" "$options_y"                       # data_memory: Options
    click "$preview_x" "$preview_y"                       #   Show Data Preview
    click "$idle_x" "$idle_y"                             #   (closes the popup)
    click $((byte0_x + 3 * (byte1_x - byte0_x))) "$row0_y"  # data byte 03, the preview's address
    click "$idle_x" "$idle_y"                             #   (ends the edit, keeps the preview)
fi
sleep "$seconds"
import -window root "$shot"
kill "$panel_pid" 2>/dev/null || true
wait "$panel_pid" 2>/dev/null || true
echo "screenshot: $shot"
