#!/usr/bin/env bash
# Cross-builds the third-party libraries from Debian's source packages into
# one prefix: libcurl (static, Schannel, HTTP/HTTPS/FILE, proxies) and the LZMA
# SDK's 7z decoder. A finished library is never built twice. (RapidJSON is
# header-only: Debian's rapidjson-dev, see cmake/Dependencies.cmake.)
#   build-deps.sh [i686|x86_64]   (default i686); prints the prefix last
#   OV_DEPS_DIR  where sources and the prefixes live (default ~/.cache/ondravelqor-deps)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
ARCH=${1:-i686}
DEPS=${OV_DEPS_DIR:-$HOME/.cache/ondravelqor-deps}
SRC=$DEPS/src
case "$ARCH" in
  # The i686 prefix keeps its old name, so existing caches stay valid.
  i686) PREFIX=$DEPS/prefix; BUILD=build-mingw;;
  x86_64) PREFIX=$DEPS/prefix-x86_64; BUILD=build-mingw-x86_64;;
  *) echo "build-deps.sh: unknown architecture '$ARCH' (i686 or x86_64)" >&2; exit 1;;
esac
TOOLCHAIN=$here/cmake/mingw-$ARCH.cmake
mkdir -p "$PREFIX" "$SRC"
# The libraries take part in the exe's link-time optimisation; their objects
# keep machine code as well, so test programs link them without it.
LTO="-flto -ffat-lto-objects"
AR=$ARCH-w64-mingw32-gcc-ar-posix

# A prefix built by an older recipe is rebuilt from scratch.
recipe=$(cat "$0" "$TOOLCHAIN" "$here"/scripts/patches/*.patch | sha1sum | cut -d' ' -f1)
if [ "$(cat "$PREFIX/.recipe" 2>/dev/null)" != "$recipe" ]; then
  rm -rf "$PREFIX" "$SRC"/*/"$BUILD"
  mkdir -p "$PREFIX"
fi

fetch() { # package, folder glob
  if ! compgen -G "$SRC/$2" >/dev/null; then
    (cd "$SRC" && apt-get source -qq "$1" >/dev/null 2>&1)
  fi
  compgen -G "$SRC/$2" | head -n1
}

# Only what the installer uses: HTTP and HTTPS (Schannel), FILE (a package
# URL may be "file:///", download/url_text.h), and proxies with their
# authentication through the system's SSPI (NTLM, Negotiate, Digest), which
# the proxy support needs. No zlib: the downloads ask for the identity
# encoding (no CURLOPT_ACCEPT_ENCODING). No cookies and no progress meter
# (the transfer-info callback stays). Its sscanf and snprintf are the C
# runtime's (msvcrt), as in an MSVC build of curl: mingw's C99 scanf and the
# number parsing under it stay out of the exe. No verbose texts (28 KB): the
# log names curl's error by its number, and the debug callback that watches
# proxy answers still gets the headers. No date parsing, DNS shuffling or
# option-name table: nothing here asks for them.
if [ ! -f "$PREFIX/lib/libcurl.a" ]; then
  d=$(fetch curl 'curl-7*')
  rm -rf "$d/$BUILD"
  cmake -S "$d" -B "$d/$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DCMAKE_C_FLAGS="$LTO -D__USE_MINGW_ANSI_STDIO=0" -DCMAKE_AR="$(command -v "$AR")" \
    -DCMAKE_RANLIB="$(command -v "$ARCH-w64-mingw32-gcc-ranlib-posix")" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DENABLE_MANUAL=OFF -DCURL_DISABLE_LDAP=ON \
    -DHTTP_ONLY=OFF -DCURL_DISABLE_FTP=ON -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TELNET=ON \
    -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_SMTP=ON \
    -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_MQTT=ON -DCURL_DISABLE_SMB=ON \
    -DCURL_DISABLE_LDAPS=ON -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_DISABLE_COOKIES=ON -DCURL_DISABLE_MIME=ON -DCURL_DISABLE_NETRC=ON -DCURL_DISABLE_ALTSVC=ON \
    -DCURL_DISABLE_HSTS=ON -DCURL_DISABLE_DOH=ON -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none \
    -DCURL_DISABLE_PROGRESS_METER=ON -DCURL_DISABLE_VERBOSE_STRINGS=ON -DCURL_DISABLE_PARSEDATE=ON \
    -DCURL_DISABLE_SHUFFLE_DNS=ON -DCURL_DISABLE_GETOPTIONS=ON \
    >/dev/null
  cmake --build "$d/$BUILD" >/dev/null
  cmake --install "$d/$BUILD" >/dev/null
fi

if [ ! -f "$PREFIX/lib/liblzma7z.a" ]; then
  d=$(fetch lzma 'lzma-9*')
  b=$d/$BUILD
  rm -rf "$b"; mkdir -p "$b" "$PREFIX/include/lzma7z"
  # Our fixes, on a copy (the fetched source stays as Debian ships it):
  # lzma-7zIn-bounds.patch refuses a header that gives more files a stream
  # than it lists stream sizes for, which 9.22 reads from a null table.
  cp -r "$d/C" "$b/C"
  for p in "$here"/scripts/patches/lzma-*.patch; do patch -s -p1 -d "$b" <"$p"; done
  objs=()
  for n in 7zAlloc 7zBuf 7zCrc 7zCrcOpt 7zDec 7zIn 7zStream CpuArch LzmaDec Lzma2Dec Bra Bra86 Bcj2; do
    # For size. (Without asynchronous unwind tables it would be no smaller:
    # the exe's link-time code generation keeps them.)
    "$ARCH-w64-mingw32-gcc-posix" -Os -ffunction-sections -fdata-sections $LTO -c "$b/C/$n.c" -o "$b/$n.o"
    objs+=("$b/$n.o")
  done
  "$AR" rcs "$b/liblzma7z.a" "${objs[@]}"
  cp "$b"/C/*.h "$PREFIX/include/lzma7z/"
  cp "$b/liblzma7z.a" "$PREFIX/lib/"
fi
echo "$recipe" > "$PREFIX/.recipe"
echo "$PREFIX"
