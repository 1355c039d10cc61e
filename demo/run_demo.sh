#!/bin/sh
# Shows launcher.exe at work under Wine, in a private X display and a throwaway prefix of 64-bit
# Windows, all removed afterwards. Usage: demo/run_demo.sh <windows build dir>
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 <windows build dir>" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
PYTHONPATH="$here/../tests/lib" exec python3 "$here/demo.py" \
  --launcher "$build/launcher.pinned-to-stub.exe" --shipped "$build/launcher.exe" \
  --helpers "$build/tests/e2e"
