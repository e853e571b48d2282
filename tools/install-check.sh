#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the tree, renders both manual pages
# with every warning on (none allowed), runs the installed emulator, and builds the Debian
# package from the same rules and checks that it holds the same files.
# Usage: tools/install-check.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: install-check.sh BUILD_DIR}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

expected=(bin/tvrbios-emu sbin/tvrbios share/doc/tvrbios/README.md
          share/man/man1/tvrbios-emu.1 share/man/man8/tvrbios.8)
if [[ -f "$build/bin/tvrbios-trap" ]]; then
  libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
  expected+=(bin/tvrbios-trap "$libdir/tvrbios/libtvrbios-trap.so")
fi
sorted() { printf '%s\n' "$@" | sort; }

cmake --install "$build" --prefix "$prefix" > /dev/null
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
if [[ "$installed" != "$(sorted "${expected[@]}")" ]]; then
  printf 'install check: the installed tree differs:\n%s\n' "$installed" >&2
  exit 1
fi

for page in share/man/man1/tvrbios-emu.1 share/man/man8/tvrbios.8; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$prefix/$page" 2>&1 > /dev/null)
  if [[ -n "$warnings" ]]; then
    printf 'install check: %s renders with warnings:\n%s\n' "$page" "$warnings" >&2
    exit 1
  fi
done
"$prefix/bin/tvrbios-emu" --version
"$prefix/bin/tvrbios-emu" --help > /dev/null
# The installed harness finds its library: the user ID the utility sees is the machine's.
if [[ -f "$prefix/bin/tvrbios-trap" ]] &&
   ! "$prefix/bin/tvrbios-trap" --uid 1000 -- "$prefix/sbin/tvrbios" /ds | grep -q "root access"; then
  echo "install check: the installed tvrbios-trap does not run the installed tvrbios" >&2
  exit 1
fi

(cd "$build" && cpack -G DEB > /dev/null)
package=$(ls "$build"/tvrbios_*.deb)
packaged=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort)
if [[ "$packaged" != "$(sorted "${expected[@]}")" ]]; then
  printf 'install check: the package holds other files:\n%s\n' "$packaged" >&2
  exit 1
fi
echo "install check: $(wc -l <<< "$installed") files installed and packaged in $(basename "$package"), manual pages clean"
