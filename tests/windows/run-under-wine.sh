#!/usr/bin/env bash
# Runs the Windows check program under Wine, in a fresh prefix that is
# removed afterwards, and waits for Wine's server to end.
#   run-under-wine.sh win64|win32 BIN-FOLDER
# 64-bit programs run on Debian's wine64, 32-bit ones on wine32, from the
# i386 architecture (setup.sh installs it). Without wine32 the 32-bit check
# program is built but not run: that is said, and the exit status is 77, never
# a pass.
set -uo pipefail
preset=$1 bin=$2

if [ "$preset" = win64 ]; then
  loader=/usr/lib/wine/wine64
else
  loader=/usr/lib/wine/wine
  if [ ! -x "$loader" ]; then
    echo "wine-check: $preset check DID NOT RUN: wine32 is not installed (the check program is built, not run)"
    exit 77
  fi
fi

prefix=$(mktemp -d /tmp/corvane-wine.XXXXXX)
# The scenario through the stand-in's MAPI gets a machine of its own: the
# checks above leave accounts and profiles behind.
scenario=$(mktemp -d /tmp/corvane-wine.XXXXXX)
trap 'for p in "$prefix" "$scenario"; do WINEPREFIX=$p wineserver -k 2>/dev/null; rm -rf "$p"; done' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all
start=$SECONDS
# Wine's first start sets the prefix up; its chatter is not the check's.
"$loader" wineboot -i >/dev/null 2>&1
(cd "$bin" && timeout 300 "$loader" wincheck.exe)
status=$?

# The host: its help, and its answer on a machine without the mail client.
expect() {  # expect CODE TEXT COMMAND...
  local code=$1 text=$2 out got
  shift 2
  out=$(cd "$bin" && timeout 60 "$loader" "$@" 2>&1)
  got=$?
  if [ "$got" -ne "$code" ] || ! grep -qF -- "$text" <<<"$out"; then
    echo "FAILED host: $* gave $got (expected $code and \"$text\"):"
    echo "$out"
    status=1
  fi
}
expect 0 "The demo and --root belong to the Linux build" corvane.exe --help
expect 1 "the mail client is not installed on this machine" corvane.exe list
expect 1 "the mail client is not installed on this machine" corvane.exe --library compact list
expect 2 "unknown command 'demo'" corvane.exe demo
expect 2 "the compact library has no 'config'" corvane-compact.exe config save x
wineserver -w

# Every operation's way through MAPI: a machine arranged by mapiadmin.exe and
# backed up through the stand-in's mapi32.dll, compared with the Linux answer.
export WINEPREFIX=$scenario
"$loader" wineboot -i >/dev/null 2>&1
"$(dirname "$0")/mapi-scenario.sh" "$preset" "$bin" || status=1
wineserver -w
echo "wine-check: $preset done in $((SECONDS - start)) s, exit $status"
exit "$status"
