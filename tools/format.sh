#!/usr/bin/env bash
# Formats the C++ sources with clang-format and the repository's .clang-format.
#   tools/format.sh          rewrite every tracked .cpp and .h in place
#   tools/format.sh --check  change nothing; list the files that differ and fail
set -eu
cd "$(dirname "$0")/.."
tools/deps.sh format
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
      echo "not formatted: $f (tools/format.sh rewrites it)" >&2
      bad=1
    fi
  done
  [ "$bad" = 0 ] && echo "format: ${#files[@]} files as .clang-format has them"
  exit "$bad"
fi
clang-format -i "${files[@]}"
