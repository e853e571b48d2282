#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the tree: every program in bin and
# sbin has its manual page, every page renders with every warning on, man's and mandoc's
# (none allowed), tvrbios(8) explains every message of the utility
# (tools/diagnostics-check.py), and hardening-check passes on every installed program and
# library. Runs the installed
# emulator and trap harness, builds the two Debian packages from the same rules, checks
# that each holds its own files and versioned dependencies, and runs lintian on both: any
# error or warning fails. Last, the harness's path to its library is checked for each form
# a builder may give the library folder in.
# Usage: tools/install-check.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: install-check.sh BUILD_DIR}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

fail() { printf 'install check: %s\n' "$*" >&2; exit 1; }
sorted() { printf '%s\n' "$@" | sort; }

utility=(sbin/tvrbios share/man/man8/tvrbios.8.gz share/doc/tvrbios/README.md
         share/doc/tvrbios/copyright share/doc/tvrbios/changelog.gz)
emulator=(bin/tvrbios-emu share/man/man1/tvrbios-emu.1.gz
          share/doc/tvrbios-emu/copyright share/doc/tvrbios-emu/changelog.gz)
if [[ -f "$build/bin/tvrbios-trap" ]]; then
  libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
  emulator+=(bin/tvrbios-trap share/man/man1/tvrbios-trap.1.gz "$libdir/tvrbios/libtvrbios-trap.so")
fi

cmake --install "$build" --prefix "$prefix" > /dev/null
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
[[ "$installed" == "$(sorted "${utility[@]}" "${emulator[@]}")" ]] ||
  fail "the installed tree differs:"$'\n'"$installed"

for program in "$prefix"/bin/* "$prefix"/sbin/*; do
  compgen -G "$prefix/share/man/man[1-8]/$(basename "$program").[1-8].gz" > /dev/null ||
    fail "${program#"$prefix"/} has no manual page"
done
for page in "$prefix"/share/man/man*/*; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" 2>&1 > /dev/null)
  [[ -z "$warnings" ]] || fail "${page#"$prefix"/} renders with warnings:"$'\n'"$warnings"
  warnings=$(mandoc -T lint -W warning "$page" 2>&1 || true)
  [[ -z "$warnings" ]] || fail "${page#"$prefix"/} has mandoc warnings:"$'\n'"$warnings"
done
"$source_dir/tools/diagnostics-check.py" "$source_dir" "$prefix/share/man/man8/tvrbios.8.gz" ||
  fail "tvrbios(8) lacks an entry in DIAGNOSTICS for the messages above"

"$source_dir/tools/hardening-check-tree.sh" "$prefix" ||
  fail "installed programs or libraries lack hardening (above)"

"$prefix/bin/tvrbios-emu" --version
"$prefix/bin/tvrbios-emu" --help > /dev/null
# The installed harness finds its library: the user ID the utility sees is the machine's.
if [[ -f "$prefix/bin/tvrbios-trap" ]] &&
   ! "$prefix/bin/tvrbios-trap" --uid 1000 -- "$prefix/sbin/tvrbios" /ds | grep -q "root access"; then
  fail "the installed tvrbios-trap does not run the installed tvrbios"
fi

# One package per component; each holds exactly its files and depends on the library
# versions it was linked against.
(cd "$build" && cpack -G DEB -B "$scratch/packages" > "$scratch/cpack.log" 2>&1) ||
  fail "cpack failed:"$'\n'"$(cat "$scratch/cpack.log")"
check_package() {
  local name=$1; shift
  local package
  package=$(compgen -G "$scratch/packages/${name}_*.deb") || fail "no package $name"
  local packaged
  packaged=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort)
  [[ "$packaged" == "$(sorted "$@")" ]] || fail "$name holds other files:"$'\n'"$packaged"
  dpkg-deb -f "$package" Depends | grep -q '(>= ' ||
    fail "$name has no versioned dependencies: $(dpkg-deb -f "$package" Depends)"
  packages+=("$package")
}
packages=()
check_package tvrbios "${utility[@]}"
check_package tvrbios-emu "${emulator[@]}"

report=$(lintian --tag-display-limit 0 "${packages[@]}" 2>&1 | grep -v 'root privileges' || true)
printf 'lintian: %s\n' "${report:-(nothing reported)}"
! grep -q '^[EW]: ' <<< "$report" || fail "lintian reports errors or warnings"

# Relative to the prefix or absolute, typed or not (debhelper gives it untyped): the
# library is installed where the builder said, and the harness looks for it there.
check_library_folder() {
  local configured=$scratch/configured-${#checked_forms[@]}
  cmake -S "$source_dir" -B "$configured" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr \
        -DTVR_BUILD_TESTS=OFF -DTVR_BUILD_BENCH=OFF "-DCMAKE_INSTALL_LIBDIR$1" > /dev/null
  local destination from_harness
  destination=$(sed -n 's|.*INSTALL DESTINATION "\([^"]*\)" TYPE SHARED_LIBRARY.*|\1|p' \
                    "$configured/cmake_install.cmake")
  destination=${destination/'${CMAKE_INSTALL_PREFIX}'//usr}
  from_harness=$(grep -o -m1 'TVR_TRAP_INSTALLED_LIBRARY_DIR=\\"[^\]*' "$configured/build.ninja")
  from_harness=$(realpath -m "/usr/bin/${from_harness#*\\\"}")
  [[ "$destination" == "$2" && "$from_harness" == "$2" ]] ||
    fail "CMAKE_INSTALL_LIBDIR$1: the library goes to $destination, the harness looks in $from_harness"
  checked_forms+=("$1")
}
checked_forms=()
check_library_folder =lib/elsewhere /usr/lib/elsewhere/tvrbios
check_library_folder :PATH=lib/elsewhere /usr/lib/elsewhere/tvrbios
check_library_folder =/opt/tvrbios/lib /opt/tvrbios/lib/tvrbios
check_library_folder :PATH=/opt/tvrbios/lib /opt/tvrbios/lib/tvrbios

echo "install check: $(wc -l <<< "$installed") files installed and packaged in" \
     "$(cd "$scratch/packages" && echo *.deb), manual pages clean, lintian clean," \
     "hardened, the harness's library found with the library folder as ${checked_forms[*]}"
