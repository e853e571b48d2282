#!/usr/bin/env bash
# Fails when a C or C++ file that git tracks is not laid out as .clang-format says, and
# names each one. `tools/format-check.sh --fix` lays them out instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  clang-format --style=file --dry-run --Werror "$file" 2> /dev/null || unformatted+=("$file")
done
if [ "${#unformatted[@]}" -gt 0 ]; then
  printf 'format check: not laid out as .clang-format says (tools/format-check.sh --fix):\n' >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "format check: ${#files[@]} files laid out as .clang-format says"
