#!/usr/bin/env bash
# Builds Vedrik and runs every test through ctest:
#   build/       all tests, the real window under Xvfb included
#   build-asan/  unit, gui and net tests under AddressSanitizer and UBSan
#   build-tsan/  net tests (sockets and threads) under ThreadSanitizer
#   build-fuzz/  the receive fuzzer (clang, libFuzzer, ASan and UBSan): every
#                seed and past failure once, then a fuzzing run of 60 s
#                (scripts/fuzz.sh runs it longer)
#   build-windows/  the Windows build (scripts/windows.sh): its unit, gui and
#                net tests under Wine; then build/'s windows tests drive the
#                Windows panel and its zip under Wine on Xvfb
# The exit code is non-zero when any of them fails.
#   bash scripts/test.sh --windows   the Windows leg alone
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
status=0
windows_only=0
[ "${1:-}" = "--windows" ] && windows_only=1

build_tree() {  # dir, cmake options...
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 \
        || { tail -n 60 "$dir.build.log"; return 1; }
}

run_tests() {  # dir, ctest options...
    local dir=$1; shift
    echo "== ctest in $dir $*"
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300 "$@" || status=1
}

# The Windows leg, in fresh Wine prefixes of this run's own. Wine's server
# is started first, so that no test owns the session and is charged for its
# start. The windows tests copy a prefix made here on a display: a session
# started without one puts their windows on a smaller desktop.
windows_leg() {
    bash scripts/windows.sh || return 1
    local wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
    local prefixes
    prefixes=$(mktemp -d)
    local result=0
    (
        export WINEPREFIX=$prefixes/tests WINEDEBUG=-all
        unset DISPLAY
        mkdir -p "$WINEPREFIX"
        "$wineserver" -p && "$wine" wineboot -i >/dev/null 2>&1
        echo "== ctest in build-windows under Wine"
        ctest --test-dir build-windows -j "$jobs" --output-on-failure --timeout 300
        local code=$?
        "$wineserver" -k
        exit $code
    ) || result=1
    WINEPREFIX=$prefixes/template WINEDEBUG=-all \
        xvfb-run -a -s '-screen 0 1280x800x24' sh -c "'$wine' wineboot -i >/dev/null 2>&1; '$wineserver' -w" \
        || result=1
    echo "== ctest in build -L windows"
    VEDRIK_WINE_TEMPLATE=$prefixes/template \
        ctest --test-dir build -j "$jobs" --output-on-failure --timeout 300 -L windows || result=1
    rm -rf "$prefixes"
    return $result
}
if [ "$windows_only" -eq 1 ]; then
    # The windows tests and the Linux stand-in they use are built in build/.
    mkdir -p build
    build_tree build || exit 1
    windows_leg || status=1
    if [ "$status" -eq 0 ]; then echo "the Windows leg passed"; else echo "the Windows leg FAILED"; fi
    exit "$status"
fi

mkdir -p build build-asan build-tsan
if build_tree build; then run_tests build -LE windows; else status=1; fi

# Leak checking is off: nng can still be tearing down a dial when a test
# process exits, which LeakSanitizer reports now and then.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
if build_tree build-asan -DVEDRIK_SANITIZE=address,undefined -DVEDRIK_E2E_TESTS=OFF -DVEDRIK_BENCH=OFF; then
    run_tests build-asan -LE e2e
else
    status=1
fi
if build_tree build-tsan -DVEDRIK_SANITIZE=thread -DVEDRIK_E2E_TESTS=OFF -DVEDRIK_BENCH=OFF; then
    run_tests build-tsan -L net
else
    status=1
fi

if build_tree build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVEDRIK_FUZZ=ON \
        -DVEDRIK_SANITIZE=address,undefined -DVEDRIK_TESTS=OFF -DVEDRIK_BENCH=OFF; then
    # Leaks are checked here: the fuzz target opens no socket.
    ASAN_OPTIONS=abort_on_error=1 run_tests build-fuzz -L fuzz
else
    status=1
fi

windows_leg || status=1

if [ "$status" -eq 0 ]; then echo "all test runs passed"; else echo "some test runs FAILED"; fi
exit "$status"
