#!/usr/bin/env bash
# Installs what the build needs (only what is missing), then configures and builds.
#   ./setup.sh              set up and build (default preset)
#   ./setup.sh test         ... then run the whole test suite
#   ./setup.sh demo         ... then run `corvane demo` on a sample machine in build/corvane-demo
#   ./setup.sh --preset asan test
#   ./setup.sh --preset win64        cross-build the Windows DLLs (win32: 32-bit)
set -euo pipefail
cd "$(dirname "$0")"

preset=default
action=build
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset="$2"; shift 2 ;;
    build|test|demo) action="$1"; shift ;;
    *) echo "usage: $0 [--preset default|asan|win64|win32] [build|test|demo]" >&2; exit 2 ;;
  esac
done

# Debian packages the project builds, tests and runs with.
packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev      # registry database and store files
  zlib1g-dev          # large values in store files are kept deflated
  sqlite3             # the tests read and write catalogs with an independent program
  libhivex-dev        # registry hive files
  libgmime-3.0-dev    # parsing imported mail (.eml, mbox)
  libcli11-dev        # the admin tool's command line
  nlohmann-json3-dev  # the admin tool's store dumps
  googletest libgtest-dev libgmock-dev
  libbenchmark-dev
  rsync               # the scale benchmark compares backups with it
)
# The Windows cross-build's compilers, binutils and headers: only when a
# Windows preset is asked for.
windows=false
case "$preset" in win64|win32) windows=true ;; esac
if $windows && [ "$action" != build ]; then
  echo "setup: the $preset preset only builds; it has no tests or demo to run here" >&2
  exit 2
fi
if $windows; then
  packages+=(
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    mingw-w64-x86-64-dev mingw-w64-i686-dev mingw-w64-tools
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -- -k 0 | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
cmake --build --preset "$preset" >/dev/null   # fail here if anything did not build

if [ "$action" = test ]; then
  ctest --preset "$preset" -j"$(nproc)"
fi

if [ "$action" = demo ]; then
  exec "build/$preset/bin/corvane" demo --dir "build/corvane-demo"
fi
