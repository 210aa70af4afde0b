#!/usr/bin/env bash
# Checks for the tools and libraries that Vedrik builds, runs and tests with,
# and installs what is missing with apt-get, where there is apt-get.
#   bash scripts/setup.sh             the Linux build, its tests and benchmarks
#   bash scripts/setup.sh --windows   those and the Windows build's compiler and Wine
#   bash scripts/setup.sh --windows --sources
#                                     also Debian's source packages for apt-get
#                                     source (scripts/windows.sh, building the
#                                     Windows libraries)
# Everything is checked first. With everything present nothing is installed
# and apt-get is not called. Where something is missing, apt-get installs
# only the Debian packages that hold it, and everything is checked again;
# without apt-get the script names what is missing, with its Debian package,
# and fails.
set -euo pipefail

windows=0
sources=0
for arg in "$@"; do
  case $arg in
    --windows) windows=1 ;;
    --sources) sources=1 ;;
    *) echo "usage: bash scripts/setup.sh [--windows [--sources]]" >&2; exit 2 ;;
  esac
done

# What is needed, one line each: how it is checked, what is checked, and the
# Debian package that holds it.
#   command NAME   a program on PATH, or at that path
#   pkg NAME       a pkg-config module
#   link NAME      a library the C++ compiler finds and links: <NAME/NAME.h>, -lNAME
#   fuzzer -       clang links a libFuzzer target
#   mingw HEADER   the Windows compiler finds the header
needs=(
  "command gcc build-essential"
  "command g++ build-essential"
  "command make build-essential"
  "command cmake cmake"
  "command pkg-config pkg-config"
  "command dpkg-shlibdeps dpkg-dev"
  "pkg sdl2 libsdl2-dev"
  "pkg imgui libimgui-dev"
  "pkg nlohmann_json nlohmann-json3-dev"
  "link nng libnng-dev"
  "pkg gtest libgtest-dev"
  "pkg gmock libgmock-dev"
  "pkg x11 libx11-dev"
  "pkg xtst libxtst-dev"
  "command clang clang"
  "command clang++ clang"
  "fuzzer - libclang-rt-14-dev"
  "command Xvfb xvfb"
  "command xvfb-run xvfb"
  "command xdotool xdotool"
  "command import imagemagick"
  "command convert imagemagick"
  "command xdpyinfo x11-utils"
  "command ip iproute2"
)
if [ "$windows" -eq 1 ]; then
  needs+=(
    "command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix"
    "command x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix"
    "command x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64"
    "command x86_64-w64-mingw32-strip binutils-mingw-w64-x86-64"
    "mingw windows.h mingw-w64-x86-64-dev"
    "command /usr/lib/wine/wine64 wine64"
    "command /usr/lib/wine/wineserver wine64"
    "command dpkg-source dpkg-dev"
  )
fi

probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT

has_pkg() {  # module
  if command -v pkg-config >/dev/null; then
    pkg-config --exists "$1"
  else
    compgen -G "/usr/lib/*/pkgconfig/$1.pc" >/dev/null || compgen -G "/usr/share/pkgconfig/$1.pc" >/dev/null \
      || compgen -G "/usr/local/lib/pkgconfig/$1.pc" >/dev/null
  fi
}

has() {  # kind name
  case $1 in
    command) command -v "$2" >/dev/null ;;
    pkg) has_pkg "$2" ;;
    link)
      printf '#include <%s/%s.h>\nint main() { return 0; }\n' "$2" "$2" >"$probe_dir/link.cpp"
      command -v c++ >/dev/null && c++ "$probe_dir/link.cpp" -o "$probe_dir/link" -l"$2" >/dev/null 2>&1 ;;
    fuzzer)
      printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
        >"$probe_dir/fuzz.cpp"
      command -v clang++ >/dev/null && clang++ -fsanitize=fuzzer "$probe_dir/fuzz.cpp" -o "$probe_dir/fuzz" >/dev/null 2>&1 ;;
    mingw)
      printf '#include <%s>\n' "$2" >"$probe_dir/mingw.cpp"
      command -v x86_64-w64-mingw32-g++-posix >/dev/null \
        && x86_64-w64-mingw32-g++-posix -fsyntax-only "$probe_dir/mingw.cpp" >/dev/null 2>&1 ;;
    *) return 1 ;;
  esac
}

describe() {  # kind name
  case $1 in
    command) echo "the program $2" ;;
    pkg) echo "the library $2 (pkg-config module)" ;;
    link) echo "the library $2 (<$2/$2.h> and -l$2)" ;;
    fuzzer) echo "clang's libFuzzer runtime" ;;
    mingw) echo "the Windows headers ($2) of mingw-w64" ;;
  esac
}

# deb-src entries, which apt-get source needs for each Debian suite.
have_deb_src() {
  grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

missing=()
packages=()
check() {
  missing=()
  packages=()
  local need kind name package
  for need in "${needs[@]}"; do
    read -r kind name package <<<"$need"
    if ! has "$kind" "$name"; then
      missing+=("$(describe "$kind" "$name"), in the Debian package $package")
      [[ " ${packages[*]} " == *" $package "* ]] || packages+=("$package")
    fi
  done
}

check
if [ ${#missing[@]} -eq 0 ] && { [ "$sources" -eq 0 ] || have_deb_src; }; then
  exit 0
fi

if ! command -v apt-get >/dev/null; then
  echo "setup: missing, and no apt-get here to install it:" >&2
  for m in "${missing[@]}"; do echo "  $m" >&2; done
  if [ "$sources" -eq 1 ] && ! have_deb_src; then
    echo "  Debian's source packages (deb-src entries), which building the Windows libraries takes with apt-get source" >&2
  fi
  exit 1
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: missing, and neither root nor sudo to install it with apt-get:" >&2
    for m in "${missing[@]}"; do echo "  $m" >&2; done
    exit 1
  fi
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
apt_get() {  # retries while another apt-get or dpkg holds the lock
  local try
  for try in $(seq 1 60); do
    if $sudo apt-get -o DPkg::Lock::Timeout=60 "$@"; then return 0; fi
    [ "$try" -lt 60 ] && sleep 5
  done
  return 1
}

if [ ${#packages[@]} -gt 0 ]; then
  echo "installing: ${packages[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${packages[@]}"
  check
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: still missing after installing:" >&2
    for m in "${missing[@]}"; do echo "  $m" >&2; done
    exit 1
  fi
fi

# apt-get source needs a deb-src entry for each Debian suite that has a deb
# entry. Added as a file of its own, only when no deb-src entry exists.
if [ "$sources" -eq 1 ] && ! have_deb_src; then
  deb_src_file=/etc/apt/sources.list.d/vedrik-deb-src.sources
  echo "adding the deb-src entries of Debian's suites: $deb_src_file"
  tmp=$(mktemp)
  # deb822 stanzas of Debian's archives, with Types deb turned into deb-src.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /URIs:[^\n]*debian\.org/ && /Types:[^\n]*deb/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$tmp"
  done
  # One-line entries.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    grep -E '^[[:space:]]*deb[[:space:]].*debian\.org' "$f" \
      | sed -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?(.*)$/Types: deb-src\nURIs: \2/' \
      | awk '/^URIs:/ { n = split($0, w, " "); printf "URIs: %s\nSuites: %s\nComponents:", w[2], w[3];
                        for (i = 4; i <= n; i++) printf " %s", w[i]; printf "\n\n"; next } { print }' >>"$tmp"
  done
  if [ ! -s "$tmp" ]; then echo "no Debian deb entry found to add deb-src entries for" >&2; rm -f "$tmp"; exit 1; fi
  $sudo install -m 644 "$tmp" "$deb_src_file"
  rm -f "$tmp"
  apt_get update -qq
fi
