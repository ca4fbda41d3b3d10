#!/usr/bin/env bash
# The main job: builds setup.exe, puts a kit folder together, and starts setup from it under
# Wine. The shipped build is the 32-bit one; a machine that cannot run 32-bit programs runs
# the 64-bit build instead. On the user's display it stays open until the user closes it;
# with no display it runs in a virtual one, which is photographed, and the wizard is closed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
mkdir -p build
source scripts/build.sh
source scripts/wine-env.sh build

if [ "$TW_WIN_ARCH" = i686 ]; then
  echo "building setup.exe (32-bit)"
else
  echo "this machine cannot run 32-bit programs: building and running the 64-bit setup.exe"
fi
tw_build "kit-$TW_WIN_ARCH" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$TW_WIN_ARCH.cmake" -DTW_TESTS=OFF

kit=build/kit
rm -rf "$kit"
mkdir -p "$kit"
cp "build/kit-$TW_WIN_ARCH/program/setup.exe" "$kit/setup.exe"
cp kit/* "$kit/"
echo "kit: $PWD/$kit"
ls -l "$kit"

tw_wine_prefix_ready
if [ -n "${DISPLAY:-}" ]; then
  tw_wine "$kit/setup.exe" >build/setup-run.log 2>&1
  exit 0
fi

screenshot=$PWD/build/setup-wizard.png
export tw_wine_run
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -u
  "$tw_wine_run" "$1" >build/setup-run.log 2>&1 &
  for _ in $(seq 60); do
    window=$(xdotool search --name "^Tarnwhistle Setup$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 1
  done
  [ -n "${window:-}" ] || { echo "the wizard did not open; see build/setup-run.log"; exit 1; }
  sleep 2
  import -window root "$2"
  # Alt+F4 is the close box: on the first page the wizard closes without a question.
  xdotool windowactivate --sync "$window" >/dev/null 2>&1
  xdotool key --window "$window" alt+F4 >/dev/null 2>&1
  closed=no
  for _ in $(seq 20); do
    xdotool search --name "^Tarnwhistle Setup$" >/dev/null 2>&1 || { closed=yes; break; }
    sleep 1
  done
  if [ $closed = yes ]; then echo "the wizard closed"; else echo "the wizard did not close; stopping Wine"; fi
  timeout 20 "$tw_wine_run" --server -w || "$tw_wine_run" --server -k
' _ "$kit/setup.exe" "$screenshot"
echo "screenshot of the opened wizard: $screenshot"
