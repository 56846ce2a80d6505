#!/usr/bin/env bash
# One machine arranged by the admin tool and taken through every operation of
# the host (list, tree, backups, sync, collect, faults, accounts, config save,
# then restore and attach in a second profile), through the MAPI subsystem: on
# Linux through the stand-in, under Wine through the stand-in's own
# mapi32.dll. What the operations wrote (the stores' dumps, the texts, the
# log) is compared with golden/, which the Linux run pins, so that both
# systems are held to the same answer. The dumps hold no paths and no entry
# identifiers; only line ends are taken as equal (CRLF on Windows).
#   mapi-scenario.sh linux BIN-FOLDER
#   mapi-scenario.sh win64|win32 BIN-FOLDER   (inside a Wine prefix set up by the caller)
set -uo pipefail
mode=$1 bin=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/corvane-scenario.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ "$mode" = linux ]; then
  export CORVANE_PLATFORM_ROOT=$work/root
  # The host runs from a folder of its own, which holds its log settings and
  # its Logs folder; its libraries stay in the build's.
  mkdir "$work/host" && cp "$bin/corvane" "$bin/corvane-compact" "$work/host/"
  hostdir=$work/host
  admin() { "$bin/mapiadmin" "$@"; }
  host() { LD_LIBRARY_PATH=$bin "$hostdir/corvane" -q "$@"; }
  store() { echo "$work/root/$1.pst"; }
  folder() { mkdir -p "$work/root/$1" && echo "$work/root/$1"; }
  storedir=$work/root  # the stores' folder as this script sees it
  sep=/
  # The profile holds a store's path as the system spells it, as the
  # library's own attach writes it: the admin tool is given that spelling.
  profilepath() { printf 'Z:%s\n' "$1" | tr / '\\'; }
else
  loader=/usr/lib/wine/wine64
  [ "$mode" = win32 ] && loader=/usr/lib/wine/wine
  # The host and the library with the subsystem beside them: it is preferred
  # to Wine's own mapi32 (the README says why).
  cp "$bin"/corvane.exe "$bin"/corvane-compact.exe "$bin"/corvane.dll "$bin"/corvane_compact.dll "$bin"/cvframework.dll \
     "$bin"/mailclient/mapi32.dll "$work"/
  hostdir=$work
  admin() { (cd "$bin/mailclient" && "$loader" mapiadmin.exe "$@"); }
  host() { (cd "$work" && WINEDLLOVERRIDES=mapi32=n "$loader" corvane.exe -q "$@"); }
  store() { echo "C:\\users\\Public\\$1.pst"; }
  folder() { mkdir -p "$WINEPREFIX/drive_c/users/Public/$1" && echo "C:\\users\\Public\\$1"; }
  storedir=$WINEPREFIX/drive_c/users/Public
  sep='\'
  profilepath() { echo "$1"; }
fi

status=0
# Failures go to standard error: a step's own output may be thrown away.
fail() { echo "FAILED scenario ($mode): $*" >&2; status=1; }
step() {
  local out code
  out=$("$@" 2>&1)
  code=$?
  if [ "$code" -ne 0 ]; then
    fail "$* gave $code:"
    echo "$out" >&2
    return 1
  fi
  printf '%s\n' "$out"
}

# Compares a command's output with a golden file, line ends aside. On Linux,
# UPDATE_GOLDEN=1 writes the golden files instead.
compare() {  # compare TEXT GOLDEN
  local text
  text=$(tr -d '\r' <<<"$1")
  if [ "$mode" = linux ] && [ -n "${UPDATE_GOLDEN:-}" ]; then
    printf '%s\n' "$text" >"$here/golden/$2"
    return
  fi
  if ! diff <(printf '%s\n' "$text") "$here/golden/$2" >"$work/diff"; then
    fail "differs from golden/$2:"
    head -40 "$work/diff" >&2
  fi
}

# Everything the full library logs, into Logs/scenario.log beside the host.
printf '[log section]\r\nlevel=0\r\nmedia=8\r\nfile=scenario.log\r\n' >"$hostdir/corvane.ini"

step admin install >/dev/null || exit 1
step admin service add Outlook --type pst --name Mail --path "$(profilepath "$(store mail)")" --default >/dev/null || exit 1
step admin generate Outlook --store Mail --folder Inbox --count 20 --seed 7 >/dev/null || exit 1

listing=$(step host list) || exit 1
grep -q "Mail" <<<"$listing" || fail "list does not show the store Mail: $listing"
# The folder tree, but for the store's path on its first line.
tree=$(step host tree Mail) && compare "$(sed '1s/  (.*$//' <<<"$tree")" tree.txt
# The compact library lists and shows the same.
listing=$(step host --library compact list) && { grep -q "Mail" <<<"$listing" || fail "compact list: $listing"; }
tree=$(step host --library compact tree Mail) && compare "$(sed '1s/  (.*$//' <<<"$tree")" tree.txt

# A full backup, then one after new mail: only what the destination lacks.
step host backup Mail "$(store backup)" >/dev/null
step admin generate Outlook --store Mail --folder Inbox --count 5 --seed 8 --first 20 >/dev/null
step host backup Mail "$(store backup)" >/dev/null
# The compact build writes the same store.
step host --library compact backup Mail "$(store compact)" >/dev/null

for name in backup compact; do
  # Checked first: adding a service for a missing file would make an empty store.
  if admin store create "$(store "$name")" --name probe >/dev/null 2>&1; then
    fail "$name.pst was not written"
    continue
  fi
  step admin service add Outlook --type pst --name "$name" --path "$(profilepath "$(store "$name")")" >/dev/null || continue
  dump=$(step admin dump Outlook --store "$name") || continue
  # The golden is of the store named "backup".
  compare "${dump/\"store\": \"$name\"/\"store\": \"backup\"}" backup.json
done

# New mail on the backup's side, then both ways: each store gets what the
# other has.
step admin generate Outlook --store backup --folder Inbox --count 3 --seed 9 --first 40 >/dev/null
step host sync Mail backup >/dev/null
# And through the compact library, after new mail on the first store's side.
step admin generate Outlook --store Mail --folder Inbox --count 2 --seed 10 --first 50 >/dev/null
step host --library compact sync Mail backup >/dev/null
# Every store of the profile into a collection folder.
collection=$(folder collection)
step host collect --all "$collection" >/dev/null
step admin service add Outlook --type pst --name collected --path "$(profilepath "$collection${sep}outlook.pst")" >/dev/null

# A copy that fails inside the operation, through the subsystem's fault seam
# (CORVANE_FAULTS, read by mapi32.dll too): the backup fails with the same
# result on both systems and with both libraries. The text after ";" names
# the host's folder and is left out.
for library in full compact; do
  out=$(CORVANE_FAULTS='IMAPIFolder::CopyMessages=0x80040115' host --library "$library" backup Mail \
        "$(store "faulted-$library")" 2>&1)
  code=$?
  [ "$code" -eq 1 ] || fail "a backup whose copy fails ($library) gave exit $code: $out"
  compare "${out%%;*}" "fault-$library.txt"
done

# The accounts the library reads from the profile.
step admin account add Outlook --kind pop --name "Home mail" --email me@example.com --pop3-server pop.example.com \
  --smtp-server smtp.example.com >/dev/null
step admin account add Outlook --kind imap --name "Work mail" --imap-server imap.example.com >/dev/null
step admin service add Outlook --type imap --name "Work mail" >/dev/null
accounts=$(step host accounts) && compare "$accounts" accounts.txt

# The configuration saved: the profiles through the system's registry
# editor, the account list as a hive, both beside each other.
step host config save "$(folder config)" >/dev/null
for file in olconfig.reg oaconnect.reg; do
  [ -s "$storedir/config/$file" ] || fail "config save wrote no $file"
done

for name in Mail backup collected; do
  dump=$(step admin dump Outlook --store "$name") && compare "$dump" "$name-synced.json"
done

# A second profile, as on a new machine: the collection restored into it (a
# store of its own, since the profile has none), then the first store
# attached beside it; attaching it again leaves it listed once.
step admin profile delete Outlook >/dev/null
step admin profile create Outlook >/dev/null
step host restore "$collection" >/dev/null
step host attach "$(store mail)" >/dev/null
step host attach "$(store mail)" >/dev/null
listing=$(step host list) && compare "$(sed -n '2,$p' <<<"$listing" | awk '{ print $1 }')" restored-list.txt
dump=$(step admin dump Outlook --store QorDestination) && compare "$dump" restored.json

# The log, but for what differs by nature: the time and thread of each line,
# the user's folder, the folder of the stores; separators are taken as one.
# A 32-bit host on a 64-bit system says so and saves the account list from
# the 32-bit branch (Wow6432node), which the library names itself.
# And the thread's last error that a failed MAPI call's line carries: MAPI
# does not set it, so it is whatever the calls before left (SQLite's Windows
# file calls leave ERROR_ALREADY_EXISTS in the DLL, the stand-in's file
# probes ERROR_FILE_NOT_FOUND).
if [ -f "$hostdir/Logs/scenario.log" ]; then
  # The stores' folder as the library spells it: Windows paths on both
  # systems ("Z:" is the Linux stand-in's drive), plus the POSIX form there.
  if [ "$mode" = linux ]; then stores="Z:$work/root/|$work/root/"; else stores='C:/users/Public/'; fi
  log=$(sed -e 's/thread--0x[0-9a-fA-F]* [0-9:.]*[AP]M  [0-9-]*:/thread--T TIME:/' \
            -e 's/---------.*AppData.Roaming/---------<roaming>/' -e 's/, Error:[0-9]*,HRESULT:/, Error:N,HRESULT:/' \
            "$hostdir/Logs/scenario.log" |
        tr '\\' / |
        sed -E -e 's#[A-Za-z]:/[^ ]*/AppData/Roaming/#<roaming>/#g' -e '/Run under 64bi os\./d' -e 's#Software/Wow6432node/#Software/#' |
        awk -v stores="$stores" 'BEGIN { n = split(stores, each, "|") }
          { for (k = 1; k <= n; ++k)
              while ((i = index($0, each[k])) > 0) $0 = substr($0, 1, i - 1) "<stores>/" substr($0, i + length(each[k]))
            print }')
  compare "$log" scenario.log
else
  fail "the host wrote no log"
fi

# The operation mutex held by a second process (the check program, which
# releases it when told): a backup waits for it, then runs (the Linux suite
# has its own).
if [ "$mode" != linux ]; then
  (cd "$bin" && exec "$loader" wincheck.exe --hold-mutex-until 'C:\users\Public\held' 'C:\users\Public\release') \
    >/dev/null 2>&1 &
  holder=$!
  for _ in $(seq 200); do
    [ -e "$storedir/held" ] && break
    sleep 0.1
  done
  [ -e "$storedir/held" ] || fail "the mutex's holder did not start"
  host backup Mail "$(store waited)" >"$work/waited.out" 2>&1 &
  waiter=$!
  sleep 3
  kill -0 "$waiter" 2>/dev/null && [ ! -e "$storedir/waited.pst" ] ||
    fail "a backup ran while another process held the operation mutex: $(cat "$work/waited.out")"
  touch "$storedir/release"
  wait "$holder" || fail "the mutex's holder gave $?"
  wait "$waiter"
  code=$?
  [ "$code" -eq 0 ] && [ -e "$storedir/waited.pst" ] ||
    fail "the backup that waited for the mutex gave exit $code: $(cat "$work/waited.out")"
fi

# Ctrl-C under Wine reaches the host's console handler: the backup stops
# after the message in hand and says so (the Linux suite has its own).
if [ "$mode" != linux ]; then
  step admin service add Outlook --type pst --name Big --path "$(profilepath "$(store big)")" >/dev/null
  step admin generate Outlook --store Big --count 3000 --seed 3 >/dev/null
  : >"$work/cancel.out"
  (cd "$work" && WINEDLLOVERRIDES=mapi32=n exec "$loader" corvane.exe backup Big "$(store big-backup)") \
    >"$work/cancel.out" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    grep -q "messages/s" "$work/cancel.out" && break
    sleep 0.1
  done
  kill -INT "$pid"
  wait "$pid"
  code=$?
  [ "$code" -eq 130 ] && grep -q "backup of Big cancelled after" "$work/cancel.out" ||
    fail "a backup given Ctrl-C gave exit $code: $(tail -3 "$work/cancel.out")"
fi

echo "mapi-scenario: $mode exit $status"
exit "$status"
