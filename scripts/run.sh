#!/usr/bin/env bash
# Builds Vedrik and starts it together with the stand-in simulator running its
# demo program, a few steps a second; quitting the panel ends the stand-in.
# The panel runs in build/panel-run, where it keeps its imgui.ini; a first run
# starts from the layout the end-to-end tests pin.
# Without a display (no DISPLAY), runs the panel under Xvfb for a few seconds,
# with the register view in HEX and the data preview on in the data memory
# window, saves a screenshot and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(--target vedrik)
[ -f standin/CMakeLists.txt ] && targets+=(--target qz3-standin)
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
    [ -f build/panel-run/imgui.ini ] || cp tests/e2e/panel.ini build/panel-run/imgui.ini
    start_standin
    status=0
    (cd build/panel-run && exec ../vedrik) || status=$?
    exit "$status"
fi

# Headless: a private X server, a short run, a screenshot.
seconds=${VEDRIK_HEADLESS_SECONDS:-6}
shot=${VEDRIK_SCREENSHOT:-$PWD/build/vedrik-screenshot.png}
display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
export DISPLAY=$display

mkdir -p build/headless-run
# The window layout the end-to-end tests pin, so the screenshot shows every window.
cp -f tests/e2e/panel.ini build/headless-run/imgui.ini
(cd build/headless-run && exec ../vedrik) &
panel_pid=$!
start_standin
window=$(timeout 20 xdotool search --sync --name '^Vedrik$' | head -n 1) || true
if [ -n "$window" ]; then
    # Positions in the pinned layout, from the window's top-left corner.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    click() { xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1; sleep 0.3; }
    sleep 1
    click 394 66    # register_file: HEX
    click 566 682   # data_memory: Options
    click 584 608   #   Show Data Preview
    click 1200 560  #   (closes the popup)
    click 631 404   # data byte 03, the preview's address
    click 1200 560  #   (ends the edit, keeps the preview)
fi
sleep "$seconds"
import -window root "$shot"
kill "$panel_pid" 2>/dev/null || true
wait "$panel_pid" 2>/dev/null || true
echo "screenshot: $shot"
