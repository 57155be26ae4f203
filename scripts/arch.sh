# Sourced by the build, test, demo, gallery and bench scripts: which
# architecture the runtime build (tests, demo, gallery, benchmarks) uses.
# The shipped exe is always the i686 build; on a host whose kernel refuses
# 32-bit programs the same sources are also built for x86_64 and run under
# 64-bit Wine.
#   OV_ARCH=i686|x86_64   forces the choice
#   ov_runtime_arch               prints i686 or x86_64 (fails with a reason)
#   ov_build_dir <base> <arch>    the build folder of an architecture
#   ov_runtime_build_dir <base>   the runtime build folder

OV_WINE32_LOADER=/usr/lib/wine/wine
OV_WINE64_BIN=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64

# True when this machine starts 32-bit programs; the reason otherwise goes
# to OV_NO_32BIT_REASON. The 32-bit Wine loader is the program that matters.
ov_can_run_32bit() {
  local err
  if [ ! -x "$OV_WINE32_LOADER" ]; then
    OV_NO_32BIT_REASON="the 32-bit Wine loader ($OV_WINE32_LOADER) is not installed"
    return 1
  fi
  if err=$("$OV_WINE32_LOADER" --version 2>&1 >/dev/null); then
    return 0
  fi
  case "$err" in
    *"Exec format error"*|*"cannot execute binary file"*)
      OV_NO_32BIT_REASON="this machine cannot run 32-bit programs (starting $OV_WINE32_LOADER: Exec format error)";;
    *) OV_NO_32BIT_REASON="the 32-bit Wine loader does not start: ${err:-no message}";;
  esac
  return 1
}

ov_runtime_arch() {
  case "${OV_ARCH:-}" in
    i686)
      if ! ov_can_run_32bit; then
        echo "OV_ARCH=i686, but $OV_NO_32BIT_REASON; unset OV_ARCH or use OV_ARCH=x86_64" >&2
        return 1
      fi
      echo i686;;
    x86_64) echo x86_64;;
    "")
      if ov_can_run_32bit; then echo i686; else echo x86_64; fi;;
    *) echo "OV_ARCH must be i686 or x86_64, not '$OV_ARCH'" >&2; return 1;;
  esac
}

ov_build_dir() {
  if [ "$2" = i686 ]; then echo "$1"; else echo "$1-$2"; fi
}

ov_runtime_build_dir() {
  local arch
  arch=$(ov_runtime_arch) || return 1
  ov_build_dir "$1" "$arch"
}
