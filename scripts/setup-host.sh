#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the
# benchmarks need. Safe to run again: it only adds what is missing.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

PKGS=(
  mingw-w64 libz-mingw-w64-dev cmake ninja-build dpkg-dev patch
  wine wine32:i386 wine64
  xvfb xdotool imagemagick fonts-wqy-zenhei fonts-wqy-microhei
  nginx-light 7zip googletest
  curl aria2 python3 time openssl osslsigncode tinyproxy winbind
  python3-pil python3-numpy fonts-dejavu-core clang-format rapidjson-dev zopfli
)

need_update=0
# 32-bit Wine needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
# The dependency sources come from Debian source packages.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  if grep -q '^Types: deb$' "$f"; then
    $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    need_update=1
  fi
done
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list \
   && ! grep -q '^deb-src ' /etc/apt/sources.list; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee -a /etc/apt/sources.list >/dev/null
  need_update=1
fi

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
