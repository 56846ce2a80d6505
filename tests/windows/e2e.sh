#!/usr/bin/env bash
# The end-to-end run: a machine arranged with the admin tool (two stores of
# generated mail with calendar items, contacts and attachments, an IMAP store
# and accounts), then every operation of the host on it, and what each left,
# written out so that two runs compare: the host's JSON answers, each written
# store's dump and the library's log, with the run's folder, times and thread
# numbers masked. The same run goes through the Linux build or, with --wine,
# through the Windows build under Wine (a fresh prefix in OUT).
#
# Usage: e2e.sh OUT BIN [--wine WINE] [--library full|compact]
#   OUT  a new folder for the machine, the stores and the results (OUT/results)
#   BIN  the folder of corvane and mapiadmin (and, for Windows, their DLLs)
set -euo pipefail

out=$1 bin=$2
shift 2
wine="" library=full
while [ $# -gt 0 ]; do
  case $1 in
    --wine) wine=$2; shift 2 ;;
    --library) library=$2; shift 2 ;;
    *) echo "e2e: unknown option $1" >&2; exit 2 ;;
  esac
done
rm -rf "$out"
mkdir -p "$out/host" "$out/stores/collection" "$out/stores/config" "$out/results"
out=$(cd "$out" && pwd)
results=$out/results

# A host of its own, beside settings that send the library's log to a file.
printf '[log section]\r\nlevel=0\r\nmedia=8\r\nfile=corvane.log\r\n' >"$out/host/corvane.ini"
if [ -n "$wine" ]; then
  exe=.exe
  cp "$bin"/corvane*.exe "$bin"/mapiadmin.exe "$bin"/*.dll "$out/host/"
  export WINEPREFIX=$out/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mapi32=n;mscoree,mshtml="
  "$wine" wineboot -i >/dev/null 2>&1
  path() { winepath -w "$1" 2>/dev/null; }
  run() { "$wine" "$out/host/$1$exe" "${@:2}" | tr -d '\r'; }
else
  exe=""
  # The admin tool stays in the build: its system programs are beside it.
  cp "$bin/corvane" "$bin/corvane-compact" "$out/host/"
  export CORVANE_PLATFORM_ROOT=$out/machine LD_LIBRARY_PATH=$bin
  path() { printf '%s\n' "$1"; }
  run() { if [ "$1" = corvane ]; then "$out/host/corvane" "${@:2}"; else "$bin/$1" "${@:2}"; fi; }
fi
admin() { run mapiadmin "$@" >/dev/null; }
host() { run corvane --quiet --library "$library" "$@"; }
stores=$(path "$out/stores")
sep=/
[ -n "$wine" ] && sep='\'

# What differs between two runs of the same input: the run's folder in either
# spelling, and the file sizes of stores (the page layout is SQLite's).
mask() {
  local winout
  winout=$(path "$out" | sed 's|\\|/|g')
  sed -e 's|\\\\|/|g; s|\\|/|g' -e "s|$winout|<run>|g" -e "s|$out|<run>|g" -e 's|[A-Za-z]:<run>|<run>|g' \
    -E -e 's#(<run>/machine/Users/[^/]+|[A-Za-z]:/users/[^/]+)/#<user>/#gI' \
    -e 's/"(size|totalSize|bytes)": [0-9]+/"\1": <n>/g; s/"seconds": [0-9.e+-]+/"seconds": <s>/g'
}
answer() {  # answer NAME ARGS...: the host's JSON answer, masked
  local name=$1
  shift
  host "$@" --json | mask >"$results/$name.json"
}
dump() {  # dump NAME PROFILE STORE
  run mapiadmin dump "$2" --store "$3" | mask >"$results/dump-$1.json"
}

admin install
admin service add Outlook --type pst --name Mail --path "$stores${sep}Mail.pst" --default
admin service add Outlook --type pst --name Archive --path "$stores${sep}Archive.pst"
admin generate Outlook --store Mail --count 120 --seed 1
admin generate Outlook --store Archive --count 60 --seed 2 --first 5000
admin account add Outlook --kind pop --name Home --email me@example.com --pop3-server pop.example.com \
  --smtp-server smtp.example.com
admin account add Outlook --kind imap --name Lists --email lists@example.com --imap-server imap.example.com \
  --smtp-server smtp.example.com
admin service add Outlook --type imap --name Lists

answer list list
host tree Mail | mask >"$results/tree.txt"
answer backup-full backup Mail "$stores${sep}Backup.pst"
admin generate Outlook --store Mail --count 12 --seed 1 --first 120
answer backup-incremental backup Mail "$stores${sep}Backup.pst"
admin service add Outlook --type pst --name Backup --path "$stores${sep}Backup.pst"
dump backup Outlook Backup
answer sync sync Mail Archive
dump mail Outlook Mail
dump archive Outlook Archive
# The compact build lists, shows trees, backs up and synchronises only.
if [ "$library" = full ]; then
  answer collect collect --all "$stores${sep}collection"
  answer accounts accounts
  answer config config save "$stores${sep}config"
  # The collection restored into a second profile that holds no store.
  admin profile delete Outlook
  admin profile create Outlook
  answer restore restore "$stores${sep}collection"
  dump restored Outlook QorDestination
  answer attach attach "$stores${sep}Archive.pst" --name Attached
  answer list-after list
fi

# The library's log, its times and thread numbers masked (the compact
# build keeps none).
log=$out/host/Logs/corvane.log
if [ "$library" = compact ]; then
  [ ! -e "$log" ] || { echo "e2e: the compact build wrote a log" >&2; exit 1; }
  echo "e2e: $(ls "$results" | wc -l) results in $results"
  exit 0
fi
[ -f "$log" ] || { echo "e2e: no log at $log" >&2; exit 1; }
tr -d '\r' <"$log" | mask |
  sed -E 's/thread--0x[0-9a-fA-F]+/thread--<thread>/g; s/[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[AP]M  [0-9]{2}-[0-9]{2}-[0-9]{4}/<time>/g' \
    >"$results/corvane.log"
echo "e2e: $(ls "$results" | wc -l) results in $results"
