#!/usr/bin/env bash
# Line coverage of each library reached by the fuzz targets: builds them with clang's
# source-based coverage, runs every target once over its corpus (the committed seeds and
# any folders given), and prints llvm-cov's report per library.
# Usage: tools/fuzz-coverage.sh BUILD_DIR [CORPUS_ROOT...]
#   each CORPUS_ROOT holds one folder per target (commandline, pinstext, biosfile, flashimage).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/fuzz-coverage.sh BUILD_DIR [CORPUS_ROOT...]}
shift
roots=(fuzz/corpus "$@")
targets=(commandline pinstext biosfile flashimage)

CXX=clang++ cmake -S . -B "$build" -G Ninja -DTVR_FUZZ=ON -DTVR_BUILD_TESTS=OFF -DTVR_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" > /dev/null
cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz-}"
rm -f "$build"/*.profraw
for target in "${targets[@]}"; do
  folders=()
  for root in "${roots[@]}"; do [[ -d $root/$target ]] && folders+=("$root/$target"); done
  LLVM_PROFILE_FILE="$build/$target.profraw" "$build/bin/fuzz-$target" -runs=0 "${folders[@]}" > /dev/null 2>&1
done
llvm-profdata-14 merge -o "$build/fuzz.profdata" "$build"/*.profraw
objects=()
for target in "${targets[@]:1}"; do objects+=(-object "$build/bin/fuzz-$target"); done
for library in TvrLib SELib GBLib UxLib; do
  echo "== $library"
  llvm-cov-14 report "$build/bin/fuzz-commandline" "${objects[@]}" -instr-profile="$build/fuzz.profdata" \
    "$library/" | tail -n 1
done
