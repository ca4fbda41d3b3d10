#!/usr/bin/env bash
# Runs every test: native, native under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the Windows suites of both the 32-bit and the 64-bit build under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
mkdir -p build
source scripts/build.sh
source scripts/wine-env.sh build

summaries=()
failed=0
passed_total=0
failed_total=0

# run_suite LABEL BUILD [PREFIX...]: runs the tests of a build (through PREFIX, such as
# tw_with_display) and keeps CTest's closing line.
run_suite() {
  local label=$1 name=$2; shift 2
  echo "== $label"
  "$@" bash scripts/ctest-in.sh "$name"
  local rc=$?
  tail -n 25 "build/$name.ctest.log"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "build/$name.ctest.log" | tail -n 1)
  summaries+=("$label: ${line:-no summary (ctest exit $rc)}")
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed_total=$((failed_total + BASH_REMATCH[1]))
    passed_total=$((passed_total + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  [ $rc -eq 0 ] && [ -n "$line" ] || failed=1
}

build_or_fail() {
  local label=$1; shift
  echo "== building $label"
  if ! tw_build "$@"; then
    summaries+=("$label: build failed")
    failed=1
    return 1
  fi
}

build_or_fail native native -DCMAKE_BUILD_TYPE=Debug && run_suite native native
build_or_fail sanitizers asan -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON && run_suite sanitizers asan

# The Windows suites share one Wine prefix and one display.
tw_wine_prefix_ready
export TW_ARTIFACTS_DIR
for arch in i686 x86_64; do
  mkdir -p "build/artifacts/$arch"
  # Wine's drive Z: is the Unix root.
  TW_ARTIFACTS_DIR="Z:${PWD//\//\\}\\build\\artifacts\\$arch"
  build_or_fail "wine-$arch" "win-$arch" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake &&
    run_suite "wine-$arch" "win-$arch" tw_with_display
done
wineserver -k 2>/dev/null

# Screenshots the dialog tests saved, as PNG beside them.
for bmp in build/artifacts/*/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null && rm -f "$bmp"
done

echo
echo "== summary"
printf '%s\n' "${summaries[@]}"
echo "tests: $passed_total passed, $failed_total failed"
exit $failed
