#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite under Wine.
#   OV_BUILD_DIR  build folder (default <repo>/build); extra arguments go to ctest.
#   OV_ARCH       i686|x86_64 forces the runtime build (scripts/arch.sh).
# The tests run in the runtime build; the shipped i686 exe's static checks
# run there too, whatever its architecture. The last lines say, passed or
# failed, which architecture's programs ran and whether the shipped exe
# itself ran on this machine; the exit status is ctest's.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
OV_BUILD_DIR=$build "$here/scripts/build.sh"
. "$here/scripts/wine-env.sh"
arch=$(ov_runtime_arch)
run=$(ov_runtime_build_dir "$build")
ov_wine_up "$run"
trap ov_wine_down EXIT
cd "$run"
echo "tests: $arch build in $run"
status=0
ctest --output-on-failure -j2 "$@" || status=$?

# A green run on a host without 32-bit support never started the PE32 exe
# that ships: say so, with the reason, where it cannot be missed.
shipped=$build/app/OndraVelqorSetup.exe
[ "$status" -eq 0 ] && echo "ctest: passed" || echo "ctest: failed (exit status $status)"
echo "programs run: $arch, runtime build $run"
if [ "$arch" = i686 ]; then
  # The runtime build is the shipped build; tests labelled runs_exe start its exe.
  starters=$(ctest -N -L runs_exe "$@" 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p' | paste -sd, -) || starters=
  if [ -n "$starters" ]; then
    echo "shipped exe $shipped (PE32): run on this machine by the selected tests ${starters//,/, }"
  else
    echo "shipped exe $shipped (PE32): not run: no selected test starts it"
  fi
elif ov_can_run_32bit; then
  echo "shipped exe $shipped (PE32): not run: OV_ARCH=${OV_ARCH:-} chose the x86_64 build (this machine can run it)"
else
  echo "shipped exe $shipped (PE32): not run on this machine: $OV_NO_32BIT_REASON; only its static checks run here"
fi
exit "$status"
