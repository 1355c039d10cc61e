#!/bin/sh
# Installs, from Debian's packages only, whatever the build, the tests and the demo need and the
# machine lacks. Does nothing (and needs no network) when everything is already there.
set -eu

# `setup.sh fuzz` also installs clang's libFuzzer, which only `make fuzz` needs.
fuzz=""
[ "${1:-}" = fuzz ] && fuzz="clang-14 libclang-rt-14-dev"

need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in make cmake g++ libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
           wine wine32:i386 xvfb python3 $fuzz; do
  have "$pkg" || need="$need $pkg"
done
[ -z "$need" ] && exit 0

echo "setup: installing$need" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
case "$need" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
esac
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need >/dev/null
