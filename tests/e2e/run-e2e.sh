#!/usr/bin/env bash
# End-to-end runs of the shipped program: setup.exe started from the kit folder and
# UninstTW.exe started from the installation folder, under Wine in a virtual display, in a
# scratch Wine prefix made for this run. The user is tests/e2e's driver, which only finds
# windows, types, clicks, ticks and answers; every check reads the outcome from outside:
# `wine reg query`, the file system, `lnkinfo` and the native twdb. Every page, message box
# and notice is photographed into the run's screenshot folder.
#
# Usage: bash tests/e2e/run-e2e.sh [SCENARIO...]     (default: 1 2 3 4 5)
#   1 first installation    2 second run over it    3 uninstall from the installation folder
#   4 Mixmaster alone and with the client            5 cancel and close paths change nothing
# Scenarios 2 and 3 continue from the installation of scenario 1; 4 and 5 make their own.
#
# Environment:
#   TW_WIN_ARCH          i686 (default) or x86_64: which Windows build runs
#   TW_E2E_WIN_BUILD     its folder under build/ (default win-$TW_WIN_ARCH); configured and
#                        built (targets kit, e2e_driver) when needed
#   TW_E2E_NATIVE_BUILD  the native build under build/ whose twdb reads the databases
#                        (default native; target twdb)
# Exit status 0 only when every check of every scenario passed.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

# One virtual display for the whole run, so that the screenshots show only our windows.
if [ -z "${TW_E2E_DISPLAY:-}" ]; then
  export TW_E2E_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

source scripts/build.sh
arch=${TW_WIN_ARCH:-i686}
win_build=${TW_E2E_WIN_BUILD:-win-$arch}
native_build=${TW_E2E_NATIVE_BUILD:-native}
run_dir=$root/build/e2e-$arch
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(1 2 3 4 5)

mkdir -p build
# ---------------------------------------------------------------------------------------
# Builds

build_target() {  # build_target BUILD TARGET... [-- CMAKE ARGS...]: configures once, builds
  local name=$1; shift
  local targets=() args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=("$1"); shift; done
  [ $# -gt 0 ] && shift && args=("$@")
  if [ ! -f "build/$name/CMakeCache.txt" ]; then
    cmake -S . -B "build/$name" "${args[@]}" >"build/$name.configure.log" 2>&1 \
      || { cat "build/$name.configure.log"; return 1; }
  fi
  cmake --build "build/$name" -j"$tw_jobs" --target "${targets[@]}" >"build/$name.e2e-build.log" 2>&1 \
    || { tail -n 40 "build/$name.e2e-build.log"; return 1; }
}

echo "== building twdb (native) and the kit ($arch)"
build_target "$native_build" twdb -- -DCMAKE_BUILD_TYPE=Debug || exit 1
twdb=$root/build/$native_build/twdb/twdb
build_target "$win_build" kit e2e_driver -- -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
  -DTW_HOST_TWDB="$twdb" || exit 1
kit=$root/build/$win_build/dist/kit
driver=$root/build/$win_build/tests/e2e/e2e-driver.exe
echo "kit: $kit"

# ---------------------------------------------------------------------------------------
# A scratch Wine prefix: a fresh copy of a prefix made once per architecture.

rm -rf "$run_dir"
mkdir -p "$run_dir/screenshots"
source scripts/wine-env.sh "build/e2e-prefix-$arch"
declare -F tw_wine >/dev/null || tw_wine() { wine "$@"; }
declare -F tw_wineserver >/dev/null || tw_wineserver() { wineserver "$@"; }
tw_wine_prefix_ready
cp -a "$WINEPREFIX" "$run_dir/wineprefix"
source scripts/wine-env.sh "$run_dir"
declare -F tw_wine >/dev/null || tw_wine() { wine "$@"; }
declare -F tw_wineserver >/dev/null || tw_wineserver() { wineserver "$@"; }
shots=$run_dir/screenshots
log=$run_dir/run.log
: >"$log"
echo "prefix: $WINEPREFIX"

# ---------------------------------------------------------------------------------------
# Steps and checks

checks_passed=0
checks_failed=0
shot_number=0
scenario=""

step() { echo "  $*"; echo "[$scenario] $*" >>"$log"; }
pass() { checks_passed=$((checks_passed + 1)); echo "    ok: $1"; }
fail() { checks_failed=$((checks_failed + 1)); echo "    FAILED: $1"; echo "FAILED: $1" >>"$log"; }
# check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
check() {
  local what=$1; shift
  if "$@" >>"$log" 2>&1; then pass "$what"; else fail "$what"; fi
}

# drive COMMAND ARGS...: one action of the user; its output is in $driven (CR removed).
driven=""
drive() {
  tw_wine "$driver" "$@" >"$run_dir/driver.out" 2>&1
  local rc=$?
  driven=$(tr -d '\r' <"$run_dir/driver.out")
  { echo "drive $*"; echo "$driven"; } >>"$log"
  return $rc
}
# act DESCRIPTION COMMAND ARGS...: a user's action that must succeed.
act() {
  local what=$1; shift
  step "$what"
  drive "$@" || { fail "$what: $(tail -n 1 <<<"$driven")"; return 1; }
}
# shows WINDOW TEXT: the window's visible controls include a text that contains TEXT.
shows() {
  drive dump --window "$1" --timeout 5 || return 1
  grep -qF -- "$2" <<<"$driven"
}

shot() {
  shot_number=$((shot_number + 1))
  local file
  file=$shots/$(printf '%02d' "$shot_number")-$1.png
  sleep 0.5  # the last repaint
  import -window root "$file" 2>>"$log" && echo "    screenshot: $file"
}

# start DIR PROGRAM ARGS...: starts a Windows program with DIR as its current folder.
app_pid=""
start() {
  local dir=$1 program=$2; shift 2
  (cd "$dir" && tw_wine "$program" "$@") >"$run_dir/program-$shot_number.log" 2>&1 &
  app_pid=$!
}
# finish: waits for the started program to end.
finish() {
  local waited=0
  while kill -0 "$app_pid" 2>/dev/null; do
    sleep 0.5
    waited=$((waited + 1))
    [ $waited -lt 60 ] || { fail "the program ended"; kill "$app_pid" 2>/dev/null; return 1; }
  done
  wait "$app_pid" 2>/dev/null
  return 0
}
# Ends every Windows program of the prefix; the next scenario starts on a quiet prefix.
settle() {
  tw_wineserver -w &
  local waiter=$! waited=0
  while kill -0 "$waiter" 2>/dev/null && [ $waited -lt 60 ]; do sleep 0.5; waited=$((waited + 1)); done
  if kill -0 "$waiter" 2>/dev/null; then
    echo "  (programs still running; stopping Wine)"
    tw_wineserver -k
  fi
  wait "$waiter" 2>/dev/null
}

# Windows paths of the prefix's drive C: and their Unix places.
unix_path() {  # unix_path 'C:\A\B' -> the prefix's file, matched without regard to case
  local rest=${1#[Cc]:\\} path=$WINEPREFIX/drive_c part match
  IFS='\' read -r -a parts <<<"$rest"
  for part in "${parts[@]}"; do
    [ -n "$part" ] || continue
    match=$(find "$path" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
    path=${match:-$path/$part}
  done
  echo "$path"
}

# reg_query KEY [/v NAME]: `wine reg query` into $queried; its status.
queried=""
reg_query() {
  tw_wine reg query "$@" >"$run_dir/reg.out" 2>&1
  local rc=$?
  queried=$(tr -d '\r' <"$run_dir/reg.out")
  { echo "reg query $*"; echo "$queried"; } >>"$log"
  return $rc
}
# reg_value KEY NAME TYPE DATA: the value exists with this type and data.
reg_value() {
  reg_query "$1" /v "$2" || return 1
  grep -qxF -- "    $2    $3    $4" <<<"$queried"
}
reg_absent_value() { ! reg_query "$1" /v "$2"; }
reg_absent_key() { ! reg_query "$1"; }
reg_add() { tw_wine reg add "$@" /f >>"$log" 2>&1; }

programs_folder() {  # the user's Start-menu Programs folder, as the shell records it
  reg_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Programs
  sed -n 's/^    Programs    REG_SZ    //p' <<<"$queried"
}

# The state of what the runs touch: the registry keys of both products, the files under
# the Start menu's Programs folder and the installation folders, with their contents.
snapshot() {  # snapshot FILE
  {
    reg_query 'HKCU\Software\Tarnwhistle'; echo "$queried"
    reg_query 'HKCU\Software\Mixmaster'; echo "$queried"
    local dir
    for dir in "$(unix_path "$(programs_folder)")" "$WINEPREFIX/drive_c/Programs" \
               "$WINEPREFIX/drive_c/Program Files/Tarnwhistle" "$WINEPREFIX/drive_c/Mix"; do
      [ -d "$dir" ] && find "$dir" -type f -exec md5sum {} + | sort
    done
  } >"$1" 2>&1
}

# Database checks through the native twdb.
entry_is() {  # entry_is DB EXPECTED-BYTES COMPONENT...
  local db=$1 expected=$2; shift 2
  "$twdb" get "$db" "$@" >"$run_dir/entry.out" 2>>"$log" || return 1
  printf '%s' "$expected" | cmp - "$run_dir/entry.out"
}
crlf() { local line; for line in "$@"; do printf '%s\r\n' "$line"; done; }

# lnkinfo's report of a link: description, working folder, icon and target.
link_says() {  # link_says FILE FIELD-PATTERN VALUE-PATTERN
  lnkinfo "$1" >"$run_dir/lnk.out" 2>&1 || return 1
  cat "$run_dir/lnk.out" >>"$log"
  grep -qiE "^[[:space:]]*$2[[:space:]]*:[[:space:]]*$3[[:space:]]*\$" "$run_dir/lnk.out"
}

source tests/e2e/scenarios.sh

# ---------------------------------------------------------------------------------------

for scenario in "${scenarios[@]}"; do
  fn=scenario_$scenario
  if ! declare -F "$fn" >/dev/null; then echo "no scenario $scenario"; checks_failed=$((checks_failed + 1)); continue; fi
  echo "== scenario $scenario: $(scenario_title_$scenario)"
  "$fn"
  settle
done
tw_wineserver -k 2>/dev/null

echo
echo "== end-to-end ($arch): $checks_passed checks passed, $checks_failed failed"
echo "screenshots: $shots"
echo "log: $log"
[ "$checks_failed" -eq 0 ]
