#!/usr/bin/env bash
# Builds Vedrik and starts it together with the stand-in simulator.
# Without a display (no DISPLAY), runs the panel under Xvfb for a few seconds,
# saves a screenshot and prints its path.
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
        build/standin/qz3-standin "$@" &
        standin_pid=$!
    fi
}

if [ -n "${DISPLAY:-}" ]; then
    start_standin
    build/vedrik
    exit $?
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
sleep "$seconds"
import -window root "$shot"
kill "$panel_pid" 2>/dev/null || true
wait "$panel_pid" 2>/dev/null || true
echo "screenshot: $shot"
