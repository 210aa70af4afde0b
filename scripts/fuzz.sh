#!/usr/bin/env bash
# Fuzzes the receive path (a body as it comes off the bus, through decode,
# the frame driver and the three views) with libFuzzer, AddressSanitizer and
# UBSan, for SECONDS (default 3600), starting from the seeds in fuzz/corpus.
# New inputs collect in build-fuzz/fuzz/work/long; a crash is saved as
# build-fuzz/fuzz/work/artifacts/crash-* and stops the run. A unit that runs
# over 60 s counts as a hang (the margin is for a busy, shared machine).
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}

bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVEDRIK_FUZZ=ON -DVEDRIK_SANITIZE=address,undefined -DVEDRIK_TESTS=OFF -DVEDRIK_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target receive_fuzz >/dev/null

work=build-fuzz/fuzz/work
mkdir -p "$work/long" "$work/artifacts"
export ASAN_OPTIONS=abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
exec build-fuzz/fuzz/receive_fuzz -dict=fuzz/ubjson.dict -timeout=60 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 -max_total_time="$seconds" \
    "$work/long" fuzz/corpus fuzz/regressions
