#!/usr/bin/env bash
# The store as twdb and setup run it (bench/StoreLoop.cpp): a plain process that reads and
# writes an entry of a 10,000-entry database in a loop, beside the floor measured in the same
# run, natively on glibc's malloc and under Wine on Windows' heap. The Windows builds that
# run are the ones Wine starts here: x86_64 everywhere, and i686 too where 32-bit programs
# start (scripts/wine-run decides). Each program first builds its databases in a run of its
# own, then measures in a fresh process.
#
# Usage: bash bench/store-loop.sh [STORE_LOOP OPTIONS...]    e.g. --rounds 30
#   TW_BENCH_DIR         where the databases and the flush probe go (default
#                        build/store-loop/data): put it on the disk being measured
#   TW_LOOP_BUILD_TYPE   the CMake build type of every program (default Release)
# Results: build/store-loop/results.txt. When any program cannot do its work, the script
# says which and exits 1 without a figure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/store-loop
mkdir -p "$out"
results=$out/results.txt
data=$(realpath -m "${TW_BENCH_DIR:-$out/data}")
type=${TW_LOOP_BUILD_TYPE:-Release}
options=("$@")

fail() {
  echo "store-loop: $*" >&2
  exit 1
}

bash scripts/install-deps.sh || fail "the build's packages could not be installed"
source scripts/build.sh
source scripts/wine-env.sh "$out"

# build_loop NAME [CMAKE ARGS...]: store_loop alone, in build/NAME.
build_loop() {
  local name=$1; shift
  local dir=$root/build/$name
  echo "== building $name ($type)"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DTW_BENCH=ON -DTW_TESTS=OFF "$@" \
    >"$out/$name.configure.log" 2>&1 || fail "$name: configuring failed (see $out/$name.configure.log)"
  cmake --build "$dir" -j"$tw_jobs" --target store_loop >"$out/$name.build.log" 2>&1 \
    || fail "$name: building failed (see $out/$name.build.log)"
}

# measure LABEL FOLDER COMMAND...: the databases made, then the measuring run, each output
# in a file (Wine's background processes hold pipes open); the figures go to $label.log.
measure() {
  local label=$1 folder=$2; shift 2
  echo "== $label"
  TW_BENCH_DIR=$folder "$@" --make "${options[@]}" >"$out/$label.make.log" 2>&1 \
    || fail "$label: building the databases failed: $(tail -n 3 "$out/$label.make.log")"
  TW_BENCH_DIR=$folder "$@" "${options[@]}" >"$out/$label.log" 2>&1 \
    || fail "$label: the measuring run failed: $(tail -n 3 "$out/$label.log")"
}

arches=(x86_64)
[ "$TW_WIN_ARCH" = i686 ] && arches+=(i686)
build_loop store-loop-native
for arch in "${arches[@]}"; do
  build_loop "store-loop-win-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake"
done
tw_wine_prefix_ready

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
mkdir -p "$data/native"
measure native "$data/native" "$root/build/store-loop-native/bench/store_loop"
for arch in "${arches[@]}"; do
  mkdir -p "$data/wine-$arch"
  # Wine's drive Z: is the Unix root.
  measure "wine-$arch" "Z:${data//\//\\}\\wine-$arch" \
    "$tw_wine_run" "$root/build/store-loop-win-$arch/bench/store_loop.exe"
done
tw_wineserver -k 2>/dev/null
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
  echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1))"
  echo "== load average $load_before before, $load_after after; $type builds; databases in $data ($(df -PT "$data" | awk 'NR == 2 { print $2 " on " $1 }'))"
  echo "== $("$tw_wine_run" --version 2>/dev/null)"
  for label in native "${arches[@]/#/wine-}"; do
    echo
    echo "== $label"
    cat "$out/$label.log"
  done
} >"$results"
cat "$results"
