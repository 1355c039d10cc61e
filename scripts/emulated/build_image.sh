#!/bin/sh
# The emulated x86-64 machine that runs the Wine tests where this kernel cannot run 32-bit
# programs: Debian's own kernel, 32-bit and 64-bit Wine, Xvfb and Python, from Debian's packages,
# in a raw disk image that qemu boots straight into guest_init.
#
#   build_image.sh ensure    build the image unless the cache holds one made by this recipe;
#                            prints its folder on the last line
#   build_image.sh path      print the folder the image of this recipe lives in (built or not)
#
# The cache lives outside the clone, so fresh clones on one machine share it:
# $LAUNCHER_MACHINE_CACHE, else $XDG_CACHE_HOME/launcher-emulated-machine, else
# ~/.cache/launcher-emulated-machine. It is keyed by its recipe (the file `recipe` and guest_init):
# a change to either builds a new image, and the old ones are removed once it is built. Tests boot it with -snapshot,
# so no run writes it. Building needs root (debootstrap, chroot): sudo is used when not root.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cache=${LAUNCHER_MACHINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/launcher-emulated-machine}
key=$(cat "$here/recipe" "$here/guest_init" | sha256sum | cut -c1-16)
image_dir=$cache/$key
. "$here/recipe"
# Free space the build needs at its peak: the root file system with apt's cache, and the image.
need_mb=9000

case "${1:-}" in
  path) echo "$image_dir"; exit 0 ;;
  ensure) ;;
  *) echo "usage: $0 ensure|path" >&2; exit 2 ;;
esac

if [ -f "$image_dir/complete" ]; then
  echo "$image_dir"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
for tool in debootstrap mkfs.ext4 qemu-system-x86_64; do
  command -v "$tool" >/dev/null 2>&1 || PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null 2>&1 || {
    echo "emulated machine: $tool is missing: run sh scripts/setup.sh emulated" >&2
    exit 1
  }
done
export PATH="$PATH:/usr/sbin:/sbin"

mkdir -p "$cache"
free_mb=$(df -Pm "$cache" | awk 'NR == 2 { print $4 }')
if [ "$free_mb" -lt "$need_mb" ]; then
  echo "emulated machine: building the image needs about $need_mb MB free in $cache, and it has $free_mb MB." >&2
  echo "emulated machine: free some space there, or point LAUNCHER_MACHINE_CACHE at a disk with room." >&2
  exit 1
fi

# The mirror this machine's own packages come from: a host name is never written here.
mirror=$(
  { grep -h '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{ print $2 }'
    grep -h '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      sed 's/\[[^]]*\]//' | awk '{ print $2 }'
  } | grep -E '/debian/?$' | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

work=$image_dir.partial
$sudo rm -rf "$work"
mkdir -p "$work"
root=$work/root
total_started=$(date +%s)
step_number=0

# Runs one step with its output in a log of its own; a failure names the step, the log and the
# command to try again.
step() {
  what=$1
  shift
  step_number=$((step_number + 1))
  log=$work/step$step_number.log
  printf 'emulated machine: [%s/5] %s ... ' "$step_number" "$what"
  started=$(date +%s)
  if "$@" >"$log" 2>&1; then
    echo "done in $(($(date +%s) - started)) s"
  else
    echo "failed after $(($(date +%s) - started)) s"
    echo "emulated machine: step '$what' failed; its log: $log" >&2
    tail -n 5 "$log" | sed 's/^/  /' >&2
    echo "emulated machine: retry with: sh $here/build_image.sh ensure" >&2
    exit 1
  fi
}

in_root() { $sudo chroot "$root" env LC_ALL=C DEBIAN_FRONTEND=noninteractive PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

install_wine() {
  in_root dpkg --add-architecture i386
  in_root apt-get update -qq
  # shellcheck disable=SC2086  # a list of package names
  in_root apt-get install -y -qq $wine_packages
  in_root apt-get clean
  $sudo rm -rf "$root/var/lib/apt/lists"/*_Packages* "$root/var/cache/apt"/*.bin
}

install_init() {
  $sudo install -m 755 "$here/guest_init" "$root/sbin/launcher-init"
  kernel=$(ls "$root"/boot/vmlinuz-* | sort | tail -n 1)
  initrd=$(ls "$root"/boot/initrd.img-* | sort | tail -n 1)
  $sudo cp "$kernel" "$work/vmlinuz"
  $sudo cp "$initrd" "$work/initrd.img"
  $sudo chmod 644 "$work/vmlinuz" "$work/initrd.img"
}

make_disk() {
  used_mb=$($sudo du -sm "$root" | cut -f1)
  size_mb=$((used_mb + used_mb / 4 + 512))
  $sudo mkfs.ext4 -q -F -d "$root" -L root "$work/disk.img" "${size_mb}M"
  $sudo chmod 644 "$work/disk.img"
}

echo "emulated machine: building the image from $mirror ($release) into $image_dir"
step "debootstrap $release" $sudo debootstrap --variant=minbase \
  --include="$base_packages" \
  "$release" "$root" "$mirror"
step "install 32-bit and 64-bit Wine" install_wine
step "install the machine's first process" install_init
step "make the disk image" make_disk
step "remove the root file system" $sudo rm -rf "$root"

touch "$work/complete"
for old in "$cache"/*; do
  [ "$old" = "$work" ] || $sudo rm -rf "$old"
done
mv "$work" "$image_dir"
echo "emulated machine: image built in $(($(date +%s) - total_started)) s, $(du -sm "$image_dir" | cut -f1) MB on disk"
echo "$image_dir"
