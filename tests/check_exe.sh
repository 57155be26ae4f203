#!/usr/bin/env bash
# The shipped exe: PE32, GUI subsystem, and an import table that names only
# Windows "known DLLs" (everything else is linked in statically). Windows
# loads a known DLL only from the system folder; any other system DLL is
# looked for beside the exe first, so the exe delay-loads those
# (cmake/DelayLoad.cmake) and start-up loads them from the system folder.
set -euo pipefail
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$dump" || { echo "not PE32 (i386)"; exit 1; }
grep -Eq 'Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$dump" || { echo "not a GUI subsystem exe"; exit 1; }
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|ws2_32|msvcrt|comdlg32|imm32|normaliz|wldap32|ntdll)\.dll$'
bad=0
while read -r dll; do
  if ! grep -Eiq "$allowed" <<<"$dll"; then echo "import of a DLL that is not a known DLL: $dll (delay-load it: cmake/DelayLoad.cmake)"; bad=1; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
[ $bad -eq 0 ] || exit 1
echo "imports: $(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
echo "size: $(stat -c %s "$exe") bytes"
