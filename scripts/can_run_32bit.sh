#!/bin/sh
# Whether this machine can execute 32-bit x86 programs. Wine needs that to run launcher.exe, and
# some machines' kernels lack it (no 32-bit emulation under their hypervisor): there the Wine tests
# are skipped, and the demo and the benchmark explain why they cannot run.
#
#   can_run_32bit.sh probe FILE           find out and record the answer in FILE
#   can_run_32bit.sh require FILE WHAT    exit 0 on "yes"; otherwise say in two lines why WHAT
#                                         cannot run here, and exit 1
#   can_run_32bit.sh skipped FILE LOG     after ctest: one line naming the tests that LOG (its
#                                         output) shows as skipped, with the reason from FILE
#
# FILE holds the answer on its first line, "yes", "no" or "not-installed", and the reason on its
# second. LAUNCHER_RUN_32BIT=yes or =no forces the answer when probing, so the "cannot" road can be
# taken on any machine; the build reads it when it configures, on every make target.
# LAUNCHER_I386_LOADER names the program run as the probe (the i386 loader that libc6:i386 brings).
set -eu

verb=${1:-}
file=${2:-}
[ -n "$verb" ] && [ -n "$file" ] || {
  echo "usage: $0 probe|require|skipped FILE [WHAT|LOG]" >&2
  exit 2
}

probe() {
  case "${LAUNCHER_RUN_32BIT:-}" in
    yes) printf 'yes\nforced by LAUNCHER_RUN_32BIT=yes\n' ;;
    no) printf 'no\nforced by LAUNCHER_RUN_32BIT=no\n' ;;
    "")
      loader=${LAUNCHER_I386_LOADER:-/lib/ld-linux.so.2}
      if [ ! -e "$loader" ]; then
        # Not a fact about the machine: set-up has not installed the loader (libc6:i386) yet.
        printf 'not-installed\n%s is missing: run make setup\n' "$loader"
      elif out=$("$loader" --version 2>&1); then
        printf 'yes\n%s\n' "$(printf '%s\n' "$out" | head -n 1)"
      else
        line=$(printf '%s\n' "$out" | grep -v '^$' | head -n 1)
        printf 'no\n%s answers "%s"\n' "$loader --version" "${line##*: }"
      fi
      ;;
    *)
      echo "LAUNCHER_RUN_32BIT must be yes or no, not '$LAUNCHER_RUN_32BIT'" >&2
      exit 2
      ;;
  esac
}

answer() { sed -n 1p "$file" 2>/dev/null; }
reason() { sed -n 2p "$file" 2>/dev/null; }

case "$verb" in
  probe)
    mkdir -p "$(dirname "$file")"
    probe >"$file.new"
    mv "$file.new" "$file"
    ;;
  require)
    [ "$(answer)" = yes ] && exit 0
    what=${3:-this}
    if [ "$(answer)" = no ]; then
      echo "$what needs Wine to run launcher.exe, a 32-bit Windows program, and this machine cannot run 32-bit x86 programs ($(reason))."
      echo "Run it on a machine whose kernel runs 32-bit programs; here \`make test\` runs every test that needs no Wine."
    else
      echo "$what needs Wine to run launcher.exe, but whether this machine runs 32-bit programs is unknown: $(reason)."
      echo "Run \`make setup\` first, then try again."
    fi
    exit 1
    ;;
  skipped)
    log=${3:?}
    names=$(sed -n 's/^[[:space:]]*[0-9][0-9]* - \([^ ]*\) (Skipped)$/\1/p' "$log" | tr '\n' ' ' | sed 's/ $//')
    [ -z "$names" ] && exit 0
    if [ "$(answer)" = no ]; then
      echo "make test: skipped $names: they run launcher.exe under Wine, and this machine cannot run 32-bit x86 programs ($(reason))."
    else
      echo "make test: skipped $names."
    fi
    ;;
  *)
    echo "unknown verb '$verb'" >&2
    exit 2
    ;;
esac
