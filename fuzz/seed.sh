#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora in <build>/seeds/<target>/: the real
# files of the shared test data (registry exports, hives, mail) and small
# files made here (store files by the built admin tool, catalogs by sqlite3,
# settings files, host records). The test data is only read.
#   fuzz/seed.sh build/asan
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz/seed.sh <build folder>}
data=${CORVANE_TESTDATA:-$(pwd)/../shared/testdata}
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{regfile_import,hive_restore,store_open,catalog_read,mail_import,settings_read,catalog_records}

copy() {  # copy <target> <files...>: the files that exist
  local target=$1; shift
  for f in "$@"; do [ -f "$f" ] && cp "$f" "$seeds/$target/"; done
  return 0
}
copy regfile_import "$data"/reg/*.reg
copy hive_restore "$data"/hive/*
copy mail_import "$data"/mail/eml/* "$data"/mail/mbox/*
copy store_open "$data"/pst/*.pst   # another program's format: refused, never read as ours

# A small store of ours with mail in two folders, made on a machine of its own.
machine=$(mktemp -d)
trap 'rm -rf "$machine"' EXIT
admin() { CORVANE_PLATFORM_ROOT=$machine "$build/bin/mapiadmin" "$@" >/dev/null; }
admin install
admin service add Outlook --type pst --name Mail --path "$machine/mail.pst"
admin store create "$machine/empty.pst"
eml=$(ls "$data"/mail/eml/* 2>/dev/null | head -2 || true)
mbox=$(ls "$data"/mail/mbox/mailparser-from-quoting.mbox 2>/dev/null || true)
[ -n "$eml" ] && admin import Outlook --store Mail --folder Inbox $eml
[ -n "$mbox" ] && admin import Outlook --store Mail --folder Lists/Archive $mbox
cp "$machine/mail.pst" "$machine/empty.pst" "$seeds/store_open/"

# Catalogs: one as a collection writes it, one that names no store, one with
# a name that leaves its folder.
catalog() {  # catalog <file> <statements>
  sqlite3 "$seeds/catalog_read/$1" "$2"
}
schema="create table category (Id integer primary key asc,cat_type integer not null,cat_dest text not null,cat_desc text);
create table outlookfolder(Id integer primary key asc,ou_name text not null,ou_type integer not null,ou_parent integer,ou_class text);"
catalog collected.db3 "$schema insert into category(cat_type,cat_dest,cat_desc) values(1,'outlook.pst','outlook');
insert into outlookfolder(ou_type,ou_name) values(1,'Inbox'),(0,'Lists');"
catalog empty.db3 "$schema"
catalog escaping.db3 "$schema insert into category(cat_type,cat_dest,cat_desc) values(1,'..\\..\\x.pst','outlook');"

# Settings files.
printf '[log section]\r\nlevel=0\r\nmedia=8\r\nfile=corvane.log\r\nmaxsize=1\r\n' >"$seeds/settings_read/file.ini"
printf '[log section]\nlevel=2\nmedia=1\n\n[other]\nkey = value ; note\n' >"$seeds/settings_read/debugger.ini"
printf '\xff\xfe[\0l\0o\0g\0 \0s\0e\0c\0t\0i\0o\0n\0]\0\r\0\n\0m\0e\0d\0i\0a\0=\x008\0\r\0\n\0' >"$seeds/settings_read/utf16.ini"

# Host records (232 bytes each): kind, entry identifier length, its first 24
# bytes, name and class of 50 UTF-16 characters each.
record() {  # record <kind> <name>: one record on stdout
  printf "\\x$(printf %02x "$1")\\0\\0\\0\\0\\0\\0\\0"
  head -c 24 /dev/zero
  local name
  name=$(printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n' | sed 's/../\\x&/g')
  printf "$name"
  head -c $((200 - 2 * ${#2})) /dev/zero
}
record 1 Inbox >"$seeds/catalog_records/inbox"
{ record 1 Inbox; record 0 Lists; } >"$seeds/catalog_records/inbox-lists"
record 0 Archive >"$seeds/catalog_records/archive"
record 99 "$(printf 'I%.0s' {1..50})" >"$seeds/catalog_records/unterminated-kind-99"  # a name of 50 characters has no room for its end
echo "fuzz: seeds in $seeds: $(find "$seeds" -type f | wc -l) files"
