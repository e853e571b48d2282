#!/usr/bin/env bash
# Runs each fuzz target for a bounded number of runs (at most 15 s each) on its committed
# corpus. New inputs go to a scratch folder, never into the repository. Any finding fails.
# Usage: tools/fuzz-ci.sh FUZZ_BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/fuzz-ci.sh FUZZ_BUILD_DIR}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# target and runs: sized to what each target does per input (the flash and BIOS-file
# targets drive the emulated card).
targets=(commandline:1000000 pinstext:30000 biosfile:1500 flashimage:1500)
for entry in "${targets[@]}"; do
  target=${entry%%:*}
  runs=${entry##*:}
  mkdir -p "$scratch/$target"
  echo "== fuzz-$target: $runs runs"
  if ! "$build/bin/fuzz-$target" -runs="$runs" -max_total_time=15 -rss_limit_mb=4096 \
      -artifact_prefix="$scratch/" "$scratch/$target" "fuzz/corpus/$target" > "$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    for artifact in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-*; do
      [[ -e $artifact ]] && echo "finding: $(basename "$artifact") $(base64 -w0 "$artifact" | head -c 400)"
    done
    exit 1
  fi
  grep -E "^Done|DONE" "$scratch/$target.log" | tail -n 2
done
