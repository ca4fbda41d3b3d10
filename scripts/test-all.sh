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
failures=()
failed=0
passed_total=0
failed_total=0
skipped_total=0

# run_suite LABEL BUILD [CTEST ARGS...]: runs the tests of a build (the Windows ones on the
# display) and keeps CTest's closing line.
run_suite() {
  local label=$1 name=$2; shift 2
  echo "== $label"
  case $name in
    win-*) tw_with_display bash scripts/ctest-in.sh "$name" "$@" ;;
    *) bash scripts/ctest-in.sh "$name" "$@" ;;
  esac
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
  keep_failures "$label" "build/$name.ctest.log"
}

# keep_failures LABEL LOG: the failed test cases of a run and where they failed, for the
# summary; a long log's tail alone does not show them.
keep_failures() {
  local label=$1 log=$2 found
  found=$({ grep -E -A4 --no-group-separator ': Failure$' "$log"; grep -E '^\[  FAILED  \] [^0-9]' "$log"; } \
    | awk '!seen[$0]++' | head -n 40)
  if [ -n "$found" ]; then failures+=("-- $label" "$found"); fi
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

# A build whose programs this machine cannot start: only its static checks run (imports,
# size, layers); the rest is counted as skipped, and said so.
run_static_checks() {
  local arch=$1
  run_suite "wine-$arch static checks" "win-$arch" -L static
  local all static
  all=$(cd "build/win-$arch" && ctest -N | sed -n 's/^Total Tests: //p')
  static=$(cd "build/win-$arch" && ctest -N -L static | sed -n 's/^Total Tests: //p')
  skipped_total=$((skipped_total + all - static))
  summaries+=("wine-$arch: skipped: this machine cannot run 32-bit programs ($((all - static)) tests)")
}

# The Windows suites share one Wine prefix and one display.
tw_wine_prefix_ready
export TW_ARTIFACTS_DIR
for arch in i686 x86_64; do
  mkdir -p "build/artifacts/$arch"
  # Wine's drive Z: is the Unix root.
  TW_ARTIFACTS_DIR="Z:${PWD//\//\\}\\build\\artifacts\\$arch"
  build_or_fail "wine-$arch" "win-$arch" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
    -DTW_HOST_TWDB="$PWD/build/native/twdb/twdb" || continue
  if [ "$arch" = i686 ] && [ "$TW_WIN_ARCH" != i686 ]; then
    run_static_checks "$arch"
  else
    run_suite "wine-$arch" "win-$arch"
  fi
done
tw_wineserver -k 2>/dev/null

# run_e2e ARCH: the shipped setup.exe and UninstTW.exe of a build, driven as a user would in
# a scratch prefix of their own; each check counts as one test.
run_e2e() {
  local arch=$1 log=build/e2e-$1.log
  echo "== end-to-end ($arch)"
  TW_WIN_ARCH=$arch TW_E2E_WIN_BUILD=win-$arch TW_E2E_NATIVE_BUILD=native \
    bash tests/e2e/run-e2e.sh >"$log" 2>&1
  local rc=$?
  local found
  found=$(grep -E 'FAILED' "$log" | head -n 20)
  if [ -n "$found" ]; then echo "$found"; failures+=("-- e2e-$arch" "$found"); fi
  local line
  line=$(grep -E '^== end-to-end' "$log" | tail -n 1)
  summaries+=("e2e-$arch: ${line:-no summary (exit $rc); see $log}")
  if [[ $line =~ ([0-9]+)\ checks\ passed,\ ([0-9]+)\ failed ]]; then
    passed_total=$((passed_total + BASH_REMATCH[1]))
    failed_total=$((failed_total + BASH_REMATCH[2]))
  fi
  [ $rc -eq 0 ] && [ -n "$line" ] || failed=1
}
for arch in i686 x86_64; do
  if [ "$arch" = i686 ] && [ "$TW_WIN_ARCH" != i686 ]; then
    summaries+=("e2e-i686: skipped: this machine cannot run 32-bit programs")
    continue
  fi
  [ -f "build/win-$arch/dist/kit/setup.exe" ] && run_e2e "$arch"
done

# Screenshots the dialog tests saved, as PNG beside them.
for bmp in build/artifacts/*/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null && rm -f "$bmp"
done

echo
echo "== summary"
[ ${#failures[@]} -gt 0 ] && printf '%s\n' "failed cases:" "${failures[@]}"
printf '%s\n' "${summaries[@]}"
if [ $skipped_total -gt 0 ]; then
  echo "tests: $passed_total passed, $failed_total failed, $skipped_total skipped"
else
  echo "tests: $passed_total passed, $failed_total failed"
fi
exit $failed
