#!/usr/bin/env bash
# Builds the Windows programs of Vedrik on this Debian machine, in
# build-windows/: vedrik.exe, qz3-standin.exe, the example simulator and the
# unit, gui and net tests (run under Wine by scripts/test.sh).
#
# Compiler: Debian's mingw-w64 with POSIX threads. Libraries: SDL2, nng,
# Dear ImGui and GoogleTest built for Windows from Debian's own source
# packages, at the versions installed for Linux, once, into a prefix outside
# the source tree keyed by those versions:
#   ${XDG_CACHE_HOME:-~/.cache}/vedrik-windows/<key>/prefix
# A second run reuses it. nlohmann json is header-only: Debian's headers
# serve. scripts/setup.sh checks for the tools and installs what is missing;
# the deb-src entries apt-get source needs are added only when the libraries
# are built.
#
#   bash scripts/windows.sh            configure and build build-windows/
#   bash scripts/windows.sh --prefix   print the library prefix (building it when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The tools of both builds; apt-get only for what is missing (setup.sh).
bash scripts/setup.sh --windows

# The libraries, at the versions of the Linux packages the project uses.
source_of() {  # binary package -> source=version
  dpkg-query -W -f='${source:Package}=${source:Version}' "$1"
}
sources=(
  "$(source_of libsdl2-dev)" "$(source_of libnng-dev)"
  "$(source_of libimgui-dev)" "$(source_of libgtest-dev)"
)
compiler_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
# Bump recipe when the way the libraries are built changes.
recipe=1
key_text="${sources[*]} mingw=$compiler_version recipe=$recipe"
key=$(printf '%s' "$key_text" | sha256sum | cut -c1-16)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vedrik-windows/$key
prefix=$cache/prefix
toolchain=$root/cmake/windows/mingw-w64.cmake
jobs=$(nproc 2>/dev/null || echo 2)

build_libraries() {
  echo "building the Windows libraries into $cache ($key_text)"
  bash scripts/setup.sh --windows --sources || return 1
  rm -rf "$cache"
  mkdir -p "$cache/src" "$cache/build"
  (cd "$cache/src" && apt-get source -qq "${sources[@]}" >"$cache/src.log" 2>&1) \
    || { cat "$cache/src.log"; return 1; }
  local src=$cache/src
  lib() {  # name, source dir, cmake options...
    local name=$1 dir=$2; shift 2
    echo "  $name"
    cmake -S "$dir" -B "$cache/build/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DVEDRIK_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DCMAKE_BUILD_TYPE=Release "$@" >"$cache/build/$name.log" 2>&1 \
      && cmake --build "$cache/build/$name" -j "$jobs" >>"$cache/build/$name.log" 2>&1 \
      && cmake --install "$cache/build/$name" >>"$cache/build/$name.log" 2>&1 \
      || { tail -n 40 "$cache/build/$name.log"; return 1; }
  }
  # SDL2 as a DLL with its SDL2main; the panel needs video, events, timers
  # and the game controller subsystem, not audio or the 2D renderer.
  lib sdl2 "$src"/libsdl2-*/ -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF \
    -DSDL_AUDIO=OFF -DSDL_RENDER=OFF
  # nng static, with the TCP transport the panel uses and nothing web.
  lib nng "$src"/nng-*/ -DBUILD_SHARED_LIBS=OFF -DNNG_TESTS=OFF -DNNG_TOOLS=OFF \
    -DNNG_ENABLE_NNGCAT=OFF -DNNG_ENABLE_HTTP=OFF -DNNG_TRANSPORT_WS=OFF -DNNG_TRANSPORT_WSS=OFF \
    -DNNG_ENABLE_TLS=OFF
  lib imgui "$root/cmake/windows/imgui" -DIMGUI_SOURCE_DIR="$(echo "$src"/imgui-*/)"
  lib googletest "$src"/googletest-*/ -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF
  # nlohmann json is header-only: Debian's headers and CMake package serve
  # any target.
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  ln -sfn /usr/include/nlohmann "$prefix/include/nlohmann"
  cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
  rm -rf "$cache/src" "$cache/build"
  printf '%s\n' "$key_text" >"$cache/versions"
}

if [ ! -f "$cache/versions" ]; then
  build_libraries || { echo "building the Windows libraries failed" >&2; rm -rf "$cache"; exit 1; }
fi

if [ "${1:-}" = "--prefix" ]; then echo "$prefix"; exit 0; fi

# The programs and their unit, gui and net tests, optimised as on Linux but
# without debugging information (the zip ships them stripped, and MinGW's is
# slow to write); ctest runs the tests under
# Wine (CMAKE_CROSSCOMPILING_EMULATOR). The end-to-end tests of the Windows
# panel are Linux programs in build/ (VEDRIK_WINDOWS_BUILD).
mkdir -p build-windows
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVEDRIK_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DVEDRIK_E2E_TESTS=OFF -DVEDRIK_BENCH=OFF \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 >build-windows.configure.log 2>&1 \
  || { cat build-windows.configure.log; exit 1; }
cmake --build build-windows -j "$jobs" >build-windows.build.log 2>&1 \
  || { grep -E 'error|warning' build-windows.build.log | head -n 40; tail -n 40 build-windows.build.log; exit 1; }
if grep -q 'warning:' build-windows.build.log; then
  grep -B2 -A4 'warning:' build-windows.build.log | head -n 60
  echo "the Windows build has warnings" >&2
  exit 1
fi
(cd build-windows && cpack -G ZIP >cpack.log 2>&1) || { cat build-windows/cpack.log; exit 1; }
echo "built build-windows/bin (vedrik.exe, qz3-standin.exe, minimal-simulator.exe, the tests)" \
  "and build-windows/vedrik-*-win64.zip"
