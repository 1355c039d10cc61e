#!/bin/sh
# Where the programs that need Wine (the end-to-end tests, the demo, the benchmark) run. Wine runs
# the 32-bit launcher.exe only where the kernel executes 32-bit x86 programs, and some machines'
# kernels lack that (no 32-bit emulation under their hypervisor). There they run inside an emulated
# x86-64 machine (scripts/emulated/), whose own kernel does.
#
#   wine_road.sh decide FILE            choose the road, record it in FILE (road, then reason)
#   wine_road.sh prepare FILE           on the emulated road, install QEMU and build the machine's
#                                       image unless it is cached
#   wine_road.sh run FILE WHAT [--native-only] -- COMMAND ...
#                                       run COMMAND where the road says (WHAT names it in messages)
#   wine_road.sh summary FILE LOG       after ctest: one line saying which road the Wine groups
#                                       took, and its times; LOG is ctest's output
#
# LAUNCHER_WINE=native|emulated|skip chooses the road; by default native where the kernel runs
# 32-bit programs, else emulated. skip runs no Wine at all, for a quick run. Read when the build
# configures, which every make target does. LAUNCHER_I386_LOADER names the program run as the
# probe (the i386 loader that libc6:i386 brings) and LAUNCHER_SETUP the set-up to run when that
# loader is not there yet; both for the tests.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
verb=${1:-}
file=${2:-}
[ -n "$verb" ] && [ -n "$file" ] || {
  echo "usage: $0 decide|prepare|run|summary FILE ..." >&2
  exit 2
}
loader=${LAUNCHER_I386_LOADER:-/lib/ld-linux.so.2}

# Sets can (yes/no/not-installed) and why.
probe() {
  if [ ! -e "$loader" ]; then
    can=not-installed
    why="$loader is missing"
  elif out=$("$loader" --version 2>&1); then
    can=yes
    why="this machine runs 32-bit x86 programs ($(printf '%s\n' "$out" | head -n 1))"
  else
    can=no
    line=$(printf '%s\n' "$out" | grep -v '^$' | head -n 1)
    why="this machine cannot run 32-bit x86 programs ($loader --version answers \"${line##*: }\")"
  fi
}

decide() {
  wanted=${LAUNCHER_WINE:-}
  case "$wanted" in
    "" | native | emulated | skip) ;;
    *)
      echo "LAUNCHER_WINE must be native, emulated or skip, not '$wanted'" >&2
      exit 2
      ;;
  esac
  if [ "$wanted" = skip ]; then
    printf 'skip\nLAUNCHER_WINE=skip asks for no Wine run\n'
    return
  fi
  if [ "$wanted" = emulated ]; then
    printf 'emulated\nLAUNCHER_WINE=emulated asks for it\n'
    return
  fi
  probe
  if [ "$can" = not-installed ]; then
    # Not a fact about the machine: the set-up has not installed the loader yet.
    ${LAUNCHER_SETUP:-sh "$here/setup.sh"} >&2
    probe
    if [ "$can" = not-installed ]; then
      echo "cannot tell whether this machine runs 32-bit programs: $why even after the set-up" >&2
      exit 1
    fi
  fi
  if [ "$can" = yes ]; then
    printf 'native\n%s\n' "$why"
  elif [ "$wanted" = native ]; then
    echo "LAUNCHER_WINE=native, but $why" >&2
    exit 1
  else
    printf 'emulated\n%s\n' "$why"
  fi
}

road() { sed -n 1p "$file" 2>/dev/null; }
reason() { sed -n 2p "$file" 2>/dev/null; }
# The build folder the road file lies in holds the emulated runs' results and times.
build=$(dirname "$file")

case "$verb" in
  decide)
    mkdir -p "$build"
    decide >"$file.new"
    mv "$file.new" "$file"
    ;;
  prepare)
    rm -f "$build/emulated-image-time"
    [ "$(road)" = emulated ] || exit 0
    sh "$here/setup.sh" emulated
    if [ -f "$(sh "$here/emulated/build_image.sh" path)/complete" ]; then
      exit 0
    fi
    started=$(date +%s)
    sh "$here/emulated/build_image.sh" ensure >&2
    echo "$(($(date +%s) - started))" >"$build/emulated-image-time"
    ;;
  run)
    what=${3:?}
    shift 3
    native_only=""
    [ "${1:-}" = --native-only ] && native_only=1 && shift
    [ "${1:-}" = -- ] && shift
    case "$(road)" in
      native) exec "$@" ;;
      emulated)
        if [ -n "$native_only" ]; then
          echo "$what measures launcher.exe itself, and figures measured in an emulated machine are not the launcher's: $(reason)."
          echo "Run it on a machine whose kernel runs 32-bit programs."
          exit 1
        fi
        echo "$what runs inside an emulated x86-64 machine, about five times slower than natively, because $(reason)."
        exec python3 "$here/emulated/machine.py" run --show \
          --results "$build/emulated-$(echo "$what" | tr -c 'A-Za-z0-9\n' -)" -- "$@"
        ;;
      *)
        echo "$what needs Wine to run launcher.exe, and the build chose to run no Wine: $(reason)."
        echo "Configure it again without LAUNCHER_WINE=skip."
        exit 1
        ;;
    esac
    ;;
  summary)
    log=${3:?}
    skipped=$(sed -n 's/^[[:space:]]*[0-9][0-9]* - \([^ ]*\) (Skipped)$/\1/p' "$log" | tr '\n' ' ' | sed 's/ $//')
    case "$(road)" in
      native) line="the Wine groups ran natively: $(reason)" ;;
      emulated)
        times="$build/emulated-e2e/timings"
        image="cached"
        [ -f "$build/emulated-image-time" ] && image="built in $(cat "$build/emulated-image-time") s"
        line="the Wine groups ran in an emulated x86-64 machine ($(reason)): image $image"
        if [ -f "$times" ]; then
          prefixes=$(sed -n 's/^prefixes //p' "$times")
          line="$line${prefixes:+, Wine prefixes made in $prefixes s}"
          line="$line, boot $(sed -n 's/^boot //p' "$times") s, groups $(sed -n 's/^job //p' "$times") s"
        fi
        ;;
      *) line="the Wine groups were skipped: $(reason)" ;;
    esac
    echo "make test: $line.${skipped:+ Skipped: $skipped.}"
    ;;
  *)
    echo "unknown verb '$verb'" >&2
    exit 2
    ;;
esac
