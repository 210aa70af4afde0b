#!/usr/bin/env bash
# Builds the benchmarks (optimised, with debug information) and runs each one
# in turn; every one prints its figures beside a baseline measured in the same
# run. Arguments name the benchmarks to run (default: all), e.g.
#   bash scripts/bench.sh ping event_stream
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >build.build.log 2>&1 || { tail -n 60 build.build.log; exit 1; }

if [ "$#" -eq 0 ]; then
    set -- $(cd build/bench && ls ./*_bench 2>/dev/null | sed 's|^\./||; s|_bench$||')
fi
# Each in a network namespace of its own where it may: the panels that some
# of them start listen on the fixed ports, which no other panel may hold.
for name in "$@"; do
    echo "== ${name}_bench"
    if unshare -rn true 2>/dev/null; then
        unshare -rn sh -c 'ip link set lo up && exec "$0"' "build/bench/${name}_bench"
    else
        "build/bench/${name}_bench"
    fi
    echo
done
