#!/usr/bin/env bash
# Configures and builds the project (exe, tools, tests) into a build folder.
#   OV_BUILD_DIR  build folder (default <repo>/build)
#   OV_ARCH       i686|x86_64: forces the runtime build (scripts/arch.sh)
#   extra arguments are passed to the CMake configure step (-DOV_DOWNLOAD_HOST=...)
# The shipped exe is always built for i686 in OV_BUILD_DIR. Where this host
# cannot run 32-bit programs, everything the tests, the demo and the
# benchmarks run is built for x86_64 in OV_BUILD_DIR-x86_64; only the
# shipped exe is then built in the i686 folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/arch.sh"
"$here/scripts/setup-host.sh"
base=${OV_BUILD_DIR:-$here/build}
arch=$(ov_runtime_arch)
if [ "$arch" = x86_64 ] && [ -z "${OV_ARCH:-}" ]; then
  ov_can_run_32bit || echo "note: $OV_NO_32BIT_REASON; tests, demo and benchmarks use the x86_64 build under 64-bit Wine" >&2
fi

configure() {  # <arch> <build dir> [cmake args...]
  local a=$1 dir=$2 prefix
  shift 2
  prefix=$("$here/scripts/build-deps.sh" "$a" | tail -n1)
  # Configured every time (cheap): new subsystem folders are found at configure time.
  # Tests and the demo pin a test publisher made in the build folder
  # (docs/trust.md); a release build names the real pins instead.
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$a.cmake" \
    -DOV_DEPS_PREFIX="$prefix" -DOV_TEST_PUBLISHER=ON "$@" >/dev/null
}

configure i686 "$base" "$@"
if [ "$arch" = i686 ]; then
  cmake --build "$base"
else
  cmake --build "$base" --target OndraVelqorSetup
  run=$(ov_build_dir "$base" x86_64)
  configure x86_64 "$run" -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/wine64/wine" \
    -DOV_SHIPPED_EXE="$base/app/OndraVelqorSetup.exe" "$@"
  cmake --build "$run"
fi
