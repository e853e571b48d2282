#!/usr/bin/env bash
# Runs hardening-check (devscripts) on every ELF file under a folder, detached debug
# symbols left out: each must have the stack protector, the checked C library calls (where
# it uses any), read-only relocations bound at start, and be position-independent. Not
# control-flow protection: Debian 12's C library start files carry no IBT/SHSTK mark, so
# no program linked there has it, and its dpkg-buildflags does not ask for it.
# Usage: tools/hardening-check-tree.sh FOLDER
set -euo pipefail
folder=${1:?usage: hardening-check-tree.sh FOLDER}
failed=0 checked=0
while IFS= read -r -d '' file; do
  [[ "$(head -c 4 "$file" | tr -d '\0')" == $'\x7fELF' && "$file" != */lib/debug/* ]] || continue
  checked=$((checked + 1))
  hardening-check --quiet --nocfprotection "$file" || failed=1
done < <(find "$folder" -type f -print0 | sort -z)
((checked)) || { echo "hardening-check: no ELF file under $folder" >&2; exit 1; }
exit "$failed"
