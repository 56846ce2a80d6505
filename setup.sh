#!/usr/bin/env bash
# Installs what the build needs (only what is missing), then configures and builds.
#   ./setup.sh              set up and build (default preset)
#   ./setup.sh test         ... then run the whole test suite
#   ./setup.sh demo         ... then run `corvane demo` on a sample machine in build/corvane-demo
#   ./setup.sh --preset asan test    the whole suite under ASan+UBSan (clang, -O1); the
#                                    build has the fuzz targets too
#   ./setup.sh --preset tsan test    the test programs with threads under ThreadSanitizer
#   ./setup.sh --preset win64        cross-build the Windows DLLs (win32: 32-bit)
#   ./setup.sh --preset win64 check  ... then run the Windows checks under Wine (win32:
#                                    under wine32, installed from the i386 architecture)
#   ./setup.sh --preset fuzz         build only the fuzz targets, in the asan preset's
#                                    build (build/asan); fuzz/run.sh runs them
set -euo pipefail
cd "$(dirname "$0")"

preset=default
action=build
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset="$2"; shift 2 ;;
    build|test|demo|check) action="$1"; shift ;;
    *) echo "usage: $0 [--preset default|asan|tsan|fuzz|win64|win32] [build|test|demo|check]" >&2; exit 2 ;;
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
  libpff-dev          # real personal-folders files, opened read-only
  pff-tools           # the tests compare with an independent reader of those files
  googletest libgtest-dev libgmock-dev
  libbenchmark-dev
  rsync               # the scale benchmark compares backups with it
)
# The Windows cross-build's compilers, binutils and headers: only when a
# Windows preset is asked for.
windows=false
case "$preset" in win64|win32) windows=true ;; esac
if $windows && [ "$action" != build ] && [ "$action" != check ]; then
  echo "setup: the $preset preset builds, and checks under Wine; it has no tests or demo to run here" >&2
  exit 2
fi
if ! $windows && [ "$action" = check ]; then
  echo "setup: check is the Windows presets' run under Wine; the tests here: ./setup.sh test" >&2
  exit 2
fi
if [ "$preset" = tsan ] && [ "$action" = demo ]; then
  echo "setup: the tsan preset builds and runs the test programs with threads only: ./setup.sh --preset tsan test" >&2
  exit 2
fi
if [ "$preset" = fuzz ] && [ "$action" != build ]; then
  echo "setup: the fuzz preset builds the fuzz targets; fuzz/run.sh runs them" >&2
  exit 2
fi
# The sanitizer build's compiler with its sanitizer and fuzzer runtimes, and
# the symbolizer for their reports: only when that build is asked for.
case "$preset" in asan|fuzz) packages+=(clang-14 libclang-rt-14-dev llvm-14) ;; esac
# The fuzz preset is the asan preset's build, for the fuzz targets only.
build=build/$preset
[ "$preset" = fuzz ] && build=build/asan
if $windows; then
  packages+=(
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    mingw-w64-x86-64-dev mingw-w64-i686-dev mingw-w64-tools
    libz-mingw-w64-dev  # the MAPI subsystem's store files pack large values
    dpkg-dev tcl        # SQLite's single-file source, made from Debian's source package
    wine wine64         # the Windows check runs under Wine
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

# The 32-bit check runs under wine32, from Debian's i386 architecture. Its
# package index is sometimes refused while a mirror syncs, and apt-get update
# may still exit 0 then: the update counts only when it reports no failure and
# wine32 is then known. When it cannot be had, the check says it did not run
# (run-under-wine.sh), and the machine's architectures are left as they were.
wine32() {
  [ -x /usr/lib/wine/wine ] && return 0
  local sudo="" added=false attempt out
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "setup: installing wine32 (i386) for the 32-bit check"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 && added=true
  fi
  for attempt in 1 2 3 4; do
    out=$($sudo apt-get update 2>&1) &&
      ! grep -qE '^(Err:|W: Failed|W: Some index files failed|E:)' <<<"$out" &&
      apt-cache show wine32:i386 >/dev/null 2>&1 &&
      DEBIAN_FRONTEND=noninteractive timeout 900 $sudo apt-get install -y -qq --no-install-recommends \
        wine32:i386 >/dev/null && [ -x /usr/lib/wine/wine ] && return 0
    grep -E '^(Err:|W: |E:)' <<<"$out" | head -3 >&2 || true
    [ "$attempt" -lt 4 ] && { echo "setup: wine32 not installed (attempt $attempt of 4); again in $((attempt * 30)) s" >&2; sleep $((attempt * 30)); }
  done
  if $added; then
    $sudo dpkg --remove-architecture i386 2>/dev/null && $sudo apt-get update -qq >/dev/null 2>&1
  fi
  echo "setup: wine32 could not be installed" >&2
  return 0
}
[ "$preset" = win32 ] && [ "$action" = check ] && wine32

# SQLite for Windows: Debian has no mingw build of it, so the DLLs link it in
# from Debian's own source package of the same version as the Linux build's,
# made into its single-file form once (build/sqlite3/sqlite3.{c,h}).
windows_sqlite() {
  local out=build/sqlite3
  [ -f "$out/sqlite3.c" ] && [ -f "$out/sqlite3.h" ] && return 0
  local sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if ! apt-get source --print-uris sqlite3 >/dev/null 2>&1; then
    echo "setup: adding Debian's source archives to fetch SQLite's source"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/debian-src.list >/dev/null
    fi
    $sudo apt-get update -qq
  fi
  local version work
  version=$(dpkg-query -W -f='${Version}' libsqlite3-dev)
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq --download-only "sqlite3=$version" >/dev/null 2>&1 &&
     dpkg-source -x --no-check ./*.dsc src >/dev/null &&
     mkdir bld && cd bld && ../src/configure --disable-tcl >/dev/null && make sqlite3.c >/dev/null 2>&1) ||
    { echo "setup: could not make SQLite's source for Windows (in $work)" >&2; exit 1; }
  mkdir -p "$out"
  cp "$work/bld/sqlite3.c" "$work/bld/sqlite3.h" "$out/"
  rm -rf "$work"
  echo "setup: SQLite $version's source for Windows in $out"
}
$windows && windows_sqlite

[ -f "$build/build.ninja" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -- -k 0 | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
cmake --build --preset "$preset" >/dev/null   # fail here if anything did not build

if [ "$action" = test ] && [ "$preset" = tsan ]; then
  # Some kernels place shared objects where ThreadSanitizer's memory layout
  # wants none; the run then goes without address randomisation.
  run=()
  if build/tsan/bin/test_support --gtest_list_tests 2>&1 | grep -q "ThreadSanitizer: unexpected memory mapping"; then
    echo "setup: ThreadSanitizer cannot map its memory here; running the tests without address randomisation"
    run=(setarch "$(uname -m)" -R)
  fi
  # Reports go to files (the preset's log_path), so that those of the
  # processes the tests start are seen too, whatever the test makes of them.
  # Races and lock misuse are warnings; a fault that ends a process on
  # purpose (a child crashing outside any guard) is the test's to judge.
  rm -f build/tsan/tsan-report.*
  status=0
  "${run[@]}" ctest --preset tsan -j"$(nproc)" || status=$?
  reports=$(grep -l "WARNING: ThreadSanitizer" build/tsan/tsan-report.* 2>/dev/null || true)
  if [ -n "$reports" ]; then
    cat $reports
    echo "setup: ThreadSanitizer reported in $(echo "$reports" | wc -l) process(es):" $reports >&2
    status=1
  fi
  exit "$status"
elif [ "$action" = test ]; then
  ctest --preset "$preset" -j"$(nproc)"
fi

if [ "$action" = check ]; then
  exec tests/windows/run-under-wine.sh "$preset" "$build/bin"
fi

if [ "$action" = demo ]; then
  exec "$build/bin/corvane" demo --dir "build/corvane-demo"
fi
