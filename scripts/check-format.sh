#!/usr/bin/env bash
# Fails when a C++ source of the repository differs from .clang-format, as
# Debian 12's clang-format (14) formats it.
#   check-format.sh         one line per file that differs; exit 1 if any
#   check-format.sh --fix   formats those files in place
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || ./scripts/setup-host.sh

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# One run over all files; each violation is reported as "file:line:col: error: ...".
mapfile -t differing < <(clang-format --dry-run -Werror "${files[@]}" 2>&1 |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*clang-format-violations.*/\1/p' | sort -u)
if [ ${#differing[@]} -gt 0 ]; then
  printf '%s: differs from .clang-format (scripts/check-format.sh --fix)\n' "${differing[@]}"
  exit 1
fi
echo "format: every source matches .clang-format"
