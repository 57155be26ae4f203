#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own
# (docs/architecture.md has the picture). Tests, tools and benchmarks may
# include anything; unit tests beside the code count as tests.
#   check-layers.sh   (from anywhere; exit 1 and one line per violation)
set -euo pipefail
cd "$(dirname "$0")/.."

# folder -> the folders its production sources may include from
declare -A allowed=(
  [platform]="platform"
  [analytics/sdk]="analytics/sdk"
  [analytics]="analytics analytics/sdk platform"
  [download]="download platform"
  [install]="install download platform analytics"
  [toolkit]="toolkit platform"
  [ui]="ui toolkit install download analytics platform app"
  [app]="app ui toolkit install download analytics analytics/sdk platform"
)

bad=0
for folder in analytics/sdk analytics platform download install toolkit ui app; do
  while IFS= read -r file; do
    case "$file" in *_test.cpp|*test_support*) continue;; esac
    [ "$folder" = analytics ] && [[ "$file" == analytics/sdk/* ]] && continue
    while IFS= read -r header; do
      root=${header%/*}
      [ "$root" = "$header" ] && continue  # system or same-folder style include
      [[ "$header" == analytics/sdk/* ]] && root=analytics/sdk
      ok=0
      for a in ${allowed[$folder]}; do [ "$root" = "$a" ] && ok=1; done
      # Only the settings record of app/ may be read by the window.
      [ "$folder" = ui ] && [ "$root" = app ] && [ "$header" != app/settings.h ] && ok=0
      if [ $ok -eq 0 ]; then
        echo "$file includes $header: $folder may include only from: ${allowed[$folder]}"
        bad=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  done < <(find "$folder" -name '*.cpp' -o -name '*.h' | sort)
done
[ $bad -eq 0 ] && echo "layers: every include points down"
exit $bad
