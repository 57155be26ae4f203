#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite under Wine.
#   OV_BUILD_DIR  build folder (default <repo>/build); extra arguments go to ctest.
#   OV_ARCH       i686|x86_64 forces the runtime build (scripts/arch.sh).
# The tests run in the runtime build; the shipped i686 exe's static checks
# run there too, whatever its architecture.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
OV_BUILD_DIR=$build "$here/scripts/build.sh"
. "$here/scripts/wine-env.sh"
run=$(ov_runtime_build_dir "$build")
ov_wine_up "$run"
trap ov_wine_down EXIT
cd "$run"
echo "tests: $(ov_runtime_arch) build in $run"
ctest --output-on-failure -j2 "$@"
