#!/usr/bin/env bash
# The shipped exe: PE32, GUI subsystem, and an import table that names only
# Windows "known DLLs" (everything else is linked in statically). Windows
# loads a known DLL only from the system folder; any other system DLL is
# looked for beside the exe first, so the exe binds those itself from the
# system folder (platform/system_imports.h). Then the 32-bit faults that a
# host without 32-bit support cannot see running: delay-load slots and x87
# arithmetic in our static libraries, the ones of the exe's own build folder
# (tests/check_pe32.py). And no iostreams or locale code, from the link map.
# Last, its Authenticode signature, which must also cover the skin archive.
#   check_exe.sh <exe> [--unsigned-deliberately]
set -euo pipefail
exe=$1
unsigned_ok=${2:-}
build=$(cd "$(dirname "$exe")/.." && pwd)
dump=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$dump" || { echo "not PE32 (i386)"; exit 1; }
grep -Eq 'Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$dump" || { echo "not a GUI subsystem exe"; exit 1; }
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|ws2_32|msvcrt|comdlg32|imm32|normaliz|wldap32|ntdll)\.dll$'
bad=0
while read -r dll; do
  if ! grep -Eiq "$allowed" <<<"$dll"; then echo "import of a DLL that is not a known DLL: $dll (list its functions in platform/system_imports.txt)"; bad=1; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
# No iostreams and no locale: nothing the installer does needs them, and
# they once came in with a JSON reader as about 1 MB of the exe. The link map
# written beside the exe names each member the linker took from libstdc++.a
# and the file whose reference pulled it in.
map=${exe%.exe}.map
stream_or_locale='libstdc\+\+\.a\(([a-z0-9+]+-)?(.*stream.*|ios.*|.*locale.*|.*facets.*|ctype.*|.*codecvt.*|.*_members.*|.*-io-inst|complex_io|basic_file|globals_io)\.o\)$'
if [ ! -f "$map" ]; then
  echo "no link map beside the exe: $map"
  bad=1
else
  pulled=$(awk -v re="$stream_or_locale" '
    function report(by) { if (member ~ re) print "  " member " <- " by; member = "" }
    /^Archive member included/ { on = 1; next }
    on && /^(Discarded input sections|Allocating common symbols|Memory Configuration)/ { exit }
    !on || /^$/ { next }
    /^[^ \t]/ { member = $1; by = substr($0, length($1) + 1); sub(/^[ \t]+/, "", by); if (by != "") report(by); next }
    member != "" { by = $0; sub(/^[ \t]+/, "", by); report(by) }' "$map")
  if [ -n "$pulled" ]; then
    echo "iostreams or locale linked into the exe (member <- what pulled it in):"
    echo "$pulled"
    bad=1
  else
    echo "iostreams, locale: none linked"
  fi
fi
mapfile -t libs < <(find "$build" -name 'libov_*.a' | sort)
[ ${#libs[@]} -gt 0 ] || { echo "no static libraries of ours in $build"; bad=1; }
"$(dirname "$0")/check_pe32.py" "$exe" "${libs[@]}" || bad=1
# The signature: valid against the authority the build signed with, and
# broken by one changed byte inside the embedded skin archive.
ca=${exe%.exe}.signing-ca.pem
if [ -f "$ca" ]; then
  if verified=$(osslsigncode verify -CAfile "$ca" -in "$exe" 2>&1); then
    echo "signature: $(sed -n 's/^\s*Subject: //p' <<<"$verified" | head -1), $(sed -n 's/^Message digest algorithm *: *//p' <<<"$verified" | head -1), $(grep -qx 'Timestamp is not available' <<<"$verified" && echo 'no timestamp' || echo 'timestamped')"
    flipped=$(mktemp --suffix=.exe)
    cp "$exe" "$flipped"
    if python3 - "$flipped" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
at = data.find(b"7z\xbc\xaf\x27\x1c")
if at < 0:
    sys.exit("no skin archive in the exe")
data[at + 64] ^= 0x01  # inside the packed skins, past the archive's header
open(path, "wb").write(bytes(data))
PY
    then
      if osslsigncode verify -CAfile "$ca" -in "$flipped" >/dev/null 2>&1; then
        echo "the signature still verifies with a byte of the skin archive changed"
        bad=1
      fi
    else
      bad=1
    fi
    rm -f "$flipped"
  else
    echo "the exe's signature does not verify against $ca:"
    tail -n 5 <<<"$verified"
    bad=1
  fi
elif [ "$unsigned_ok" = --unsigned-deliberately ]; then
  echo "signature: none (built unsigned deliberately)"
else
  echo "the exe is not signed (no $ca beside it: tools/signing/sign-exe.sh)"
  bad=1
fi
[ $bad -eq 0 ] || exit 1
echo "imports: $(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
echo "size: $(stat -c %s "$exe") bytes"
