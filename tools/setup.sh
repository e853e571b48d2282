#!/usr/bin/env bash
# Installs the Debian packages that building, testing and checking tvrbios use and that are
# missing: the compilers and build tools, the test and benchmark libraries, the analysers,
# the protocol decoder that checks the recorded serial lines, sd-bus for the inhibitor lock
# and a private message bus with a mock logind to test it, what renders the manual pages,
# and checks them with mandoc, what builds and checks the Debian packages (dpkg-shlibdeps
# in dpkg-dev, which reads the programs with file; lintian; debhelper for the source
# package, autopkgtest, hardening-check in devscripts), and the PC, kernel and shell that
# the shipped program is booted with, and qemu-user, which runs the 32-bit tests where the
# kernel cannot. Run it as root (CI does); it changes nothing when everything is there.
set -euo pipefail

packages=(cmake ninja-build g++ g++-multilib libgtest-dev libgmock-dev googletest libbenchmark-dev
          clang libclang-rt-14-dev clang-tidy cppcheck
          sigrok-cli python3 pkg-config libsystemd-dev dbus-daemon dbus-bin python3-dbusmock
          groff-base man-db dpkg-dev file lintian
          debhelper devscripts autopkgtest fakeroot mandoc
          qemu-system-x86 linux-image-amd64 busybox-static qemu-user)
packages+=(acl)  # setfacl and getfacl: access control lists the file tests set and read
packages+=(binutils)  # objdump: the disassembler the trap decoder is held against
packages+=(clang-format)  # tools/format-check.sh: one layout for the whole tree
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
