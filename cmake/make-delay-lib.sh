#!/usr/bin/env bash
# Makes a delay-load import library from the toolchain's ordinary one: the
# same exports, resolved on first call through the delay-load helper
# instead of by the loader before the program's first instruction.
#   make-delay-lib.sh <triple> <ordinary import lib> <DLL name> <output lib>
set -euo pipefail
triple=$1 ordinary=$2 dll=$3 output=$4
def="$output.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # "__imp_Name" (x86_64) or "__imp__Name@N" (i686): the name as the import
  # library decorates it, without the "__imp_" and the i686 leading "_".
  "$triple-nm" "$ordinary" | sed -n 's/^.* I __imp_\(.*\)$/\1/p' |
    if [ "$triple" = i686-w64-mingw32 ]; then sed 's/^_//'; else cat; fi | sort -u
} >"$def"
kill_at=()
[ "$triple" = i686-w64-mingw32 ] && kill_at=(-k)  # the DLL exports the names without "@N"
rm -f "$output"
"$triple-dlltool" "${kill_at[@]}" -d "$def" -D "$dll" -y "$output"
