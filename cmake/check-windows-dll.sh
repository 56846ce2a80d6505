#!/bin/sh
# Checks a built Windows DLL's import and export tables:
#  - it imports from system DLLs and cvframework.dll only (the compiler's
#    runtimes are linked in, so no libstdc++/libgcc/libwinpthread DLL);
#  - every import from mapi32.dll is one of the names in the mapi32 .def,
#    decorated as there on i686, undecorated on x86_64 (the system's DLL
#    exports nothing else, and a wrong name fails only at load time);
#  - its export table is exactly the entries of its own .def.
# usage: check-windows-dll.sh OBJDUMP DLL EXPORTS.def MAPI32.def i686|x86_64
set -eu
[ $# -eq 5 ] || { echo "usage: $0 OBJDUMP DLL EXPORTS.def MAPI32.def i686|x86_64" >&2; exit 2; }
objdump=$1 dll=$2 exports_def=$3 mapi32_def=$4 arch=$5

# The DLLs of the system the library may import from.
system_dlls="kernel32.dll advapi32.dll user32.dll shell32.dll shlwapi.dll ole32.dll oleaut32.dll msvcrt.dll mapi32.dll"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$objdump" -p "$dll" > "$tmp/dump"

# The names a .def exports: the first word of each line after EXPORTS,
# without comments, aliases and attributes.
def_names() {
  sed -e 's/;.*//' "$1" | awk '
    /^[ \t]*EXPORTS[ \t]*$/ { on = 1; next }
    on && NF { split($1, name, "="); print name[1] }' | sort
}

failed=0
fail() { echo "$dll: $*" >&2; failed=1; }

# Imported DLLs.
sed -n 's/^[ \t]*DLL Name: //p' "$tmp/dump" | sort -u > "$tmp/dlls"
while read -r name; do
  lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
  case " $system_dlls cvframework.dll " in
    *" $lower "*) ;;
    *) fail "imports $name, which is neither a system DLL nor cvframework.dll" ;;
  esac
done < "$tmp/dlls"

# Imports from mapi32.dll.
awk '
  /^[ \t]*DLL Name: / { dll = tolower($3); next }
  /^[ \t]*$/ { dll = "" }
  dll == "mapi32.dll" && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print $3 }' "$tmp/dump" | sort -u > "$tmp/mapi_imports"
def_names "$mapi32_def" > "$tmp/mapi_expected"
if [ "$arch" = x86_64 ]; then
  sed -i 's/@[0-9]*$//' "$tmp/mapi_expected"
fi
comm -23 "$tmp/mapi_imports" "$tmp/mapi_expected" > "$tmp/mapi_unexpected"
while read -r name; do
  fail "imports $name from mapi32.dll, which $(basename "$mapi32_def") does not list for $arch"
done < "$tmp/mapi_unexpected"

# Exports.
awk '
  /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
  on && /^[ \t]*$/ { on = 0 }
  on { print $NF }' "$tmp/dump" | sort > "$tmp/exports"
def_names "$exports_def" > "$tmp/exports_expected"
if ! diff -u "$tmp/exports_expected" "$tmp/exports" > "$tmp/exports_diff"; then
  fail "export table differs from $(basename "$exports_def") (- in the .def only, + in the DLL only):"
  tail -n +3 "$tmp/exports_diff" | grep '^[-+]' >&2
fi

[ "$failed" -eq 0 ] && echo "$(basename "$dll"): imports and exports as expected"
exit "$failed"
