#!/bin/sh
# Installs, from Debian's packages only, whatever the build, the tests and the demo need and the
# machine lacks. Does nothing (and needs no network) when everything is already there.
#
# A mirror that is syncing can break one package index, and then the install may find the
# libraries of one architecture only in the security archive and those of the other only in the
# release ("unmet dependencies"): the index failure is a warning, and such an install is retried
# pinned to the installed release. Anything else stops with what is missing and the command to run.
#
# SETUP_COMMANDS names a folder that holds apt-get, dpkg and dpkg-query to use in place of the
# system's (the tests' stubs; sudo resets PATH, so PATH cannot do this). SETUP_SUDO overrides the
# sudo prefix and SETUP_OS_RELEASE the file that names the release.
set -eu

# `setup.sh fuzz` also installs clang's libFuzzer, which only `make fuzz` needs; `setup.sh
# emulated` what builds and boots the emulated machine, needed only where the Wine tests run there.
extra=""
case "${1:-}" in
  fuzz) extra="clang-14 libclang-rt-14-dev" ;;
  emulated) extra="qemu-system-x86 qemu-utils debootstrap e2fsprogs" ;;
esac

bin=${SETUP_COMMANDS:+$SETUP_COMMANDS/}
apt_get=${bin}apt-get
dpkg=${bin}dpkg
dpkg_query=${bin}dpkg-query

need=""
have() { "$dpkg_query" -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in make cmake g++ libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
           wine wine32:i386 wine64 xvfb python3 osslsigncode openssl libengine-pkcs11-openssl \
           softhsm2 opensc $extra; do
  have "$pkg" || need="$need $pkg"
done
[ -z "$need" ] && exit 0

echo "setup: installing$need" >&2
if [ -n "${SETUP_SUDO+set}" ]; then
  sudo=$SETUP_SUDO
elif [ "$(id -u)" -eq 0 ]; then
  sudo=""
else
  sudo="sudo"
fi
# apt's messages are matched below, so they must be in English.
apt() { $sudo env LC_ALL=C DEBIAN_FRONTEND=noninteractive "$apt_get" "$@"; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT

case "$need" in
  *:i386*) "$dpkg" --print-foreign-architectures | grep -qx i386 || $sudo "$dpkg" --add-architecture i386 ;;
esac

if ! apt update -qq >"$log" 2>&1; then
  echo "setup: warning: some package indexes could not be downloaded; going on with the others:" >&2
  grep '^[EW]:' "$log" | sed 's/^/  /' >&2 || true
fi

# shellcheck disable=SC2086  # $need is a list of package names
if apt install -y -qq $need >"$log" 2>&1; then
  exit 0
fi
release=$(. "${SETUP_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
pinned=""
if grep -q -e 'unmet dependencies' -e 'held broken packages' "$log" && [ -n "$release" ]; then
  echo "setup: mixed package versions; trying again with the $release release's own" >&2
  pinned="-t $release"
  # shellcheck disable=SC2086
  if apt install -y -qq $pinned $need >"$log" 2>&1; then
    exit 0
  fi
fi

echo "setup: could not install:$need" >&2
grep '^E:' "$log" | sed 's/^/  /' >&2 || true
echo "setup: install them with: ${sudo:+$sudo }apt-get install $pinned$need" | tr -s ' ' >&2
exit 1
