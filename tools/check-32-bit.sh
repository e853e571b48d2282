#!/usr/bin/env bash
# Builds the whole tree as a 32-bit program, as distributions build it (large-file offsets and
# 64-bit clock readings), with warnings as errors, and runs its tests: natively where the
# kernel runs 32-bit programs, else through qemu-i386 (Debian's qemu-user), which runs them
# instruction by instruction on this processor. Under qemu-i386 the runs under the trap harness
# cannot work (they need the kernel itself under the program: ptrace, the system-call filter,
# faults on real port instructions), so they are left out, and this says so.
#
#   tools/check-32-bit.sh BUILD_DIR [long]
#
# With `long`, only the long trapped runs (label trap-long), where the kernel runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: $0 BUILD_DIR [long]}
what=${2:-quick}
jobs=$(nproc)

configure=(-S . -B "$build" -G Ninja -DTVR_WERROR=ON -DTVR_GTEST_FROM_SOURCE=ON -DTVR_BUILD_BENCH=OFF
           "-DCMAKE_CXX_FLAGS=-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
if tools/machine-facts.sh runs-32-bit; then
  skip=trap-long
  emulator=""
else
  if [ "$what" = long ]; then
    echo "32-bit: this kernel cannot run 32-bit programs; the long trapped runs need it, skipped"
    exit 0
  fi
  skip='^trap'
  emulator=$(command -v qemu-i386) || { echo "32-bit: qemu-i386 is missing (tools/setup.sh)" >&2; exit 1; }
  echo "32-bit: this kernel cannot run 32-bit programs: the tests run through $emulator;" \
       "skipped: every run under the trap harness (labels trap and trap-long), which needs the kernel itself" \
       "under the program (ptrace, the system-call filter, faults on port instructions)"
fi
cmake "${configure[@]}" -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator"
cmake --build "$build" -j "$jobs"
if [ "$what" = long ]; then
  ctest --test-dir "$build" --output-on-failure -j "$jobs" -L trap-long
else
  ctest --test-dir "$build" --output-on-failure -j "$jobs" -LE "$skip"
fi
