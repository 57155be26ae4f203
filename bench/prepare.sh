# Sourced by the benchmark scripts: builds (OV_BUILD_DIR, default
# <repo>/build), brings the Wine prefix of the runtime build up and takes it
# down at exit. Sets here, build and run (the runtime build folder: x86_64
# where this host cannot run 32-bit programs).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
OV_BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
. "$here/scripts/wine-env.sh"
run=$(ov_runtime_build_dir "$build")
ov_wine_up "$run"
trap ov_wine_down EXIT
