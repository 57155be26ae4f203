#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite under Wine.
#   OV_BUILD_DIR  build folder (default <repo>/build); extra arguments go to ctest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
OV_BUILD_DIR=$build "$here/scripts/build.sh"
. "$here/scripts/wine-env.sh"
ov_wine_up "$build"
trap ov_wine_down EXIT
cd "$build"
ctest --output-on-failure -j2 "$@"
