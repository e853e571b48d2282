#!/usr/bin/env bash
# Builds the Debian packages from a clean clone of the checked-out commit, both ways, and
# checks them as a distribution would before an upload:
#   - cpack's packages twice, in two folders, from builds of what they hold (no tests, no
#     benchmarks): every file the same byte for byte;
#   - dpkg-buildpackage on the source package in debian/ (with DEB_BUILD_OPTIONS=nocheck
#     unless given otherwise: CI ran the same tests in its first stage), holding the same
#     files as cpack's; lintian on the .changes finds no error or warning (its info tags are
#     printed); autopkgtest runs debian/tests on the installed packages, and purges them;
#   - hardening-check passes on every ELF file of every package.
# Usage: tools/package-check.sh
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
jobs=$(nproc)

fail() { printf 'package check: %s\n' "$*" >&2; exit 1; }
# Every build takes the same commit: the first clone's, even if the checkout moves meanwhile.
origin=$scratch/origin
git clone --quiet --no-checkout "$source_dir" "$origin"
clone() { git clone --quiet "$origin" "$1"; }
file_list() { dpkg-deb -c "$1" | awk '$NF != "./" {print $NF}' | sort; }

cpack_packages() {
  local folder=$scratch/$1
  clone "$folder/tvrbios"
  cmake -S "$folder/tvrbios" -B "$folder/tvrbios/build" -G Ninja -DTVR_BUILD_TESTS=OFF \
        -DTVR_BUILD_BENCH=OFF > /dev/null
  cmake --build "$folder/tvrbios/build" -j "$jobs" > /dev/null
  (cd "$folder/tvrbios/build" && cpack -G DEB -B "$folder/packages" > /dev/null)
}
cpack_packages first
cpack_packages second
for package in "$scratch"/first/packages/*.deb; do
  cmp "$package" "$scratch/second/packages/$(basename "$package")" ||
    fail "$(basename "$package") differs between two builds in two folders"
done
echo "package check: cpack's packages are the same from two folders:" \
     "$(cd "$scratch/first/packages" && echo *.deb)"

debian=$scratch/debian
clone "$debian/tvrbios"
(cd "$debian/tvrbios" &&
 DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-nocheck} dpkg-buildpackage -us -uc -b \
   > "$scratch/dpkg-buildpackage.log" 2>&1) ||
  fail "dpkg-buildpackage failed:"$'\n'"$(tail -40 "$scratch/dpkg-buildpackage.log")"
for package in "$scratch"/first/packages/*.deb; do
  name=$(dpkg-deb -f "$package" Package)
  [[ "$(file_list "$package")" == "$(file_list "$debian/${name}_"*.deb)" ]] ||
    fail "$name holds other files from dpkg-buildpackage than from cpack"
done

for package in "$scratch"/first/packages/*.deb "$debian"/*.deb; do
  unpacked=$scratch/unpacked/$(basename "$package")
  mkdir -p "$unpacked" && dpkg-deb -x "$package" "$unpacked"
  [[ "$package" == *-dbgsym_* ]] || "$source_dir/tools/hardening-check-tree.sh" "$unpacked" ||
    fail "$(basename "$package") holds files that are not hardened"
done
echo "package check: hardening-check passes on every program and library"

report=$(lintian -i -E --pedantic --tag-display-limit 0 "$debian"/*.changes 2>&1 || true)
tags=$(grep -E '^[EWIPX]: ' <<< "$report" || true)
printf 'lintian: %s\n' "${tags:-(nothing reported)}"
! grep -q '^[EW]: ' <<< "$tags" || fail "lintian reports errors or warnings"

autopkgtest "$debian"/*.changes "$debian/tvrbios" -- null > "$scratch/autopkgtest.log" 2>&1 ||
  fail "autopkgtest failed:"$'\n'"$(tail -40 "$scratch/autopkgtest.log")"
sed -n '/@@@@ summary/,$p' "$scratch/autopkgtest.log" | grep -E '^[^ ]+ +(PASS|FAIL|SKIP|FLAKY)'
dpkg --purge tvrbios tvrbios-emu > /dev/null
echo "package check: the source package builds, installs, passes its tests and is purged"
