#!/usr/bin/env bash
# cppcheck and clang-tidy over the four libraries, with the options committed in .cppcheck
# and .clang-tidy. Needs a configured build tree with compile_commands.json.
# Usage: tools/static-analysis.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/static-analysis.sh BUILD_DIR}
libraries=(TvrLib SELib GBLib UxLib)
includes=(-I TvrLib/Include -I SELib/Include -I GBLib/Include -I UxLib/Include -I SELib -I GBLib
          -I UxLib)

mapfile -t options < <(grep -v -e '^#' -e '^$' .cppcheck)
for platform in unix32 unix64; do
  echo "== cppcheck ($platform)"
  cppcheck "${options[@]}" --platform="$platform" "${includes[@]}" "${libraries[@]}"
done

echo "== clang-tidy"
mapfile -t sources < <(ls TvrLib/*.cpp SELib/*.cpp GBLib/*.cpp UxLib/*.cpp)
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${sources[@]/#/$PWD/}" > "$build/clang-tidy.log" 2>&1 || {
  grep -E "warning:|error:" "$build/clang-tidy.log" || cat "$build/clang-tidy.log"
  exit 1
}
echo "clang-tidy: no findings"
