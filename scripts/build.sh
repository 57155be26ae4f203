#!/usr/bin/env bash
# Configures and builds the project (exe, tools, tests) into a build folder.
#   OV_BUILD_DIR  build folder (default <repo>/build)
#   extra arguments are passed to the CMake configure step (-DOV_DOWNLOAD_HOST=...)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup-host.sh"
prefix=$("$here/scripts/build-deps.sh" | tail -n1)
build=${OV_BUILD_DIR:-$here/build}
# Configured every time (cheap): new subsystem folders are found at configure time.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
  -DOV_DEPS_PREFIX="$prefix" "$@" >/dev/null
cmake --build "$build"
