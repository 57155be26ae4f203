#!/usr/bin/env bash
# The shipped exe: PE32, GUI subsystem, and an import table that names only
# Windows "known DLLs" (everything else is linked in statically). Windows
# loads a known DLL only from the system folder; any other system DLL is
# looked for beside the exe first, so the exe binds those itself from the
# system folder (platform/system_imports.h). Then the 32-bit faults that a
# host without 32-bit support cannot see running: delay-load slots and x87
# arithmetic in our static libraries, the ones of the exe's own build folder
# (tests/check_pe32.py).
set -euo pipefail
exe=$1
build=$(cd "$(dirname "$exe")/.." && pwd)
dump=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$dump" || { echo "not PE32 (i386)"; exit 1; }
grep -Eq 'Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$dump" || { echo "not a GUI subsystem exe"; exit 1; }
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|ws2_32|msvcrt|comdlg32|imm32|normaliz|wldap32|ntdll)\.dll$'
bad=0
while read -r dll; do
  if ! grep -Eiq "$allowed" <<<"$dll"; then echo "import of a DLL that is not a known DLL: $dll (list its functions in platform/system_imports.txt)"; bad=1; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
mapfile -t libs < <(find "$build" -name 'libov_*.a' | sort)
[ ${#libs[@]} -gt 0 ] || { echo "no static libraries of ours in $build"; bad=1; }
"$(dirname "$0")/check_pe32.py" "$exe" "${libs[@]}" || bad=1
[ $bad -eq 0 ] || exit 1
echo "imports: $(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
echo "size: $(stat -c %s "$exe") bytes"
