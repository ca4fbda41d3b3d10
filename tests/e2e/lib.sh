# Sourced by tests/e2e/run-e2e.sh and bench/installer-bench.sh, from the project root: the
# builds they need, a scratch Wine prefix, the driver that acts as the user, and the
# outside readers (registry, folders of the prefix).
#
# Needs: root (the project root). Sets: arch, twdb, client_move, kit, driver (after
# e2e_builds), and WINEPREFIX and friends (after scratch_prefix). Every helper writes its
# details to $log.

source scripts/build.sh

# own_display SCRIPT ARGS...: runs the script again inside a virtual display of its own,
# so that screenshots and timings see only the run's windows; returns once inside it.
own_display() {
  [ -n "${TW_E2E_DISPLAY:-}" ] && return 0
  export TW_E2E_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$@"
}
arch=${TW_WIN_ARCH:-i686}
log=${log:-/dev/null}

# build_target BUILD TARGET... [-- CMAKE ARGS...]: configures build/BUILD once with the
# arguments (later runs configure it again as it is, so that targets added since are
# known), then builds the targets.
build_target() {
  local name=$1; shift
  local targets=() args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=("$1"); shift; done
  [ $# -gt 0 ] && shift && args=("$@")
  [ -f "build/$name/CMakeCache.txt" ] && args=()
  cmake -S . -B "build/$name" "${args[@]}" >"build/$name.configure.log" 2>&1 \
    || { cat "build/$name.configure.log"; return 1; }
  cmake --build "build/$name" -j"$tw_jobs" --target "${targets[@]}" >"build/$name.e2e-build.log" 2>&1 \
    || { tail -n 40 "build/$name.e2e-build.log"; return 1; }
}

# The native twdb and the client's mailbox move (TW_E2E_NATIVE_BUILD, default
# build/native) and the kit with the driver of the Windows build (TW_E2E_WIN_BUILD, default
# build/win-$arch).
e2e_builds() {
  local native_build=${TW_E2E_NATIVE_BUILD:-native} win_build=${TW_E2E_WIN_BUILD:-win-$arch}
  mkdir -p build
  build_target "$native_build" twdb e2e_client_move -- -DCMAKE_BUILD_TYPE=Debug || return 1
  twdb=$root/build/$native_build/twdb/twdb
  client_move=$root/build/$native_build/tests/e2e/e2e-client-move
  build_target "$win_build" kit e2e_driver -- -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
    -DTW_HOST_TWDB="$twdb" || return 1
  kit=$root/build/$win_build/dist/kit
  driver=$root/build/$win_build/tests/e2e/e2e-driver.exe
}

wine_functions() {
  declare -F tw_wine >/dev/null || tw_wine() { wine "$@"; }
  declare -F tw_wineserver >/dev/null || tw_wineserver() { wineserver "$@"; }
}

# scratch_prefix DIR: a new Wine prefix in DIR for this run, copied from one
# made once per architecture (build/e2e-prefix-$arch), which saves Wine's first start.
scratch_prefix() {
  local dir=$1
  source scripts/wine-env.sh "build/e2e-prefix-$arch"
  wine_functions
  tw_wine_prefix_ready
  tw_wineserver -w
  local template=$WINEPREFIX
  # The prefix's name follows the Wine loader this machine uses.
  source scripts/wine-env.sh "$dir"
  wine_functions
  rm -rf "$WINEPREFIX"
  mkdir -p "$dir"
  cp -a "$template" "$WINEPREFIX"
  work=$dir
}

# drive COMMAND ARGS...: one action of the user (tests/e2e/UserDriver.cpp); its output is
# in $driven, without carriage returns.
driven=""
drive() {
  local rc attempt
  for attempt in 1 2 3; do
    tw_wine "$driver" "$@" >"$work/driver.out" 2>&1
    rc=$?
    # Now and then Wine fails to start a program under load: the driver then ends at once
    # without a word, or the launcher says so, or Wine's client lost its server as it was
    # stopping. That is no answer of the program under test; the driver itself always
    # says why it failed.
    [ $rc -ne 0 ] || break
    [ -s "$work/driver.out" ] &&
      ! grep -qE '^(ShellExecuteEx failed|wine client error)' "$work/driver.out" && break
    sleep 1
  done
  driven=$(tr -d '\r' <"$work/driver.out")
  { echo "drive $*"; echo "$driven"; } >>"$log"
  return $rc
}

# start DIR PROGRAM ARGS...: starts a Windows program with DIR as its current folder, as
# a shortcut's working folder would; its process is $app_pid.
app_pid=""
start() {
  local dir=$1 program=$2; shift 2
  (cd "$dir" && tw_wine "$program" "$@") >>"$work/programs.log" 2>&1 &
  app_pid=$!
}
# finish: waits up to 30 s for the started program to end; false when it did not.
finish() {
  local waited=0
  while kill -0 "$app_pid" 2>/dev/null; do
    [ $waited -lt 60 ] || { kill "$app_pid" 2>/dev/null; return 1; }
    sleep 0.5
    waited=$((waited + 1))
  done
  wait "$app_pid" 2>/dev/null
  return 0
}
# settle: lets every Windows program of the prefix end (30 s at most, then stops Wine).
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

# unix_path 'C:\A\B': the file of the prefix's drive C:, its names matched without regard
# to case as Windows matches them.
unix_path() {
  local rest=${1#[Cc]:\\} path=$WINEPREFIX/drive_c part match parts
  IFS='\' read -r -a parts <<<"$rest"
  for part in "${parts[@]}"; do
    [ -n "$part" ] || continue
    match=$(find "$path" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
    path=${match:-$path/$part}
  done
  echo "$path"
}

# reg_query KEY [/v NAME]: `wine reg query`, its output in $queried; its status.
queried=""
reg_query() {
  tw_wine reg query "$@" >"$work/reg.out" 2>&1
  local rc=$?
  queried=$(tr -d '\r' <"$work/reg.out")
  { echo "reg query $*"; echo "$queried"; } >>"$log"
  return $rc
}
reg_add() { tw_wine reg add "$@" /f >>"$log" 2>&1; }
reg_delete() { tw_wine reg delete "$@" /f >>"$log" 2>&1; }

# The user's Start-menu Programs folder, as the shell records it.
programs_folder() {
  reg_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Programs
  sed -n 's/^    Programs    REG_SZ    //p' <<<"$queried"
}
