#!/usr/bin/env bash
# The installer beside a plain copy and beside an NSIS installer of the same kit, measured
# side by side in one run on one machine, under the same Wine and Xvfb:
#   - sizes: setup.exe (i686, x86_64) beside the NSIS installer's stub (its EXE header);
#   - install time: from pressing Install (OK on "Install now?"), less the fixed countdown
#     of four seconds, to the Done page, for the kit and for the kit with 200 files of 1 MB;
#     beside `cp` of the same files and beside the NSIS installer's silent install;
#   - update time: the same kit with 200 files of 1 MB installed again over an earlier
#     installation of it, by the wizard (Install to Done, less the countdown) and unattended,
#     beside the NSIS installer's silent install over its own earlier one;
#   - time to the first window: setup.exe and the NSIS installer, each started by the test
#     driver, from its start to its window painted on the screen; three of each per run,
#     taken in turns.
# Each time is the median of TW_BENCH_RUNS runs (default 3); the first window's of three
# times as many. The NSIS script is written by
# this benchmark: directory page, copy, shortcuts, registry values, uninstaller.
#
# The Windows build that runs is the one the tests run (scripts/wine-run decides): the
# 32-bit setup.exe and NSIS's x86 stub where 32-bit programs start, the 64-bit setup.exe
# and NSIS's amd64 stub where they do not (TW_WINE_64_ONLY=1 takes that path anywhere).
# Every timed run is checked for its work (the window there, the files, the registry
# record and the shortcuts in place); when one did not do it, the benchmark says which
# and exits 1 without a figure. The benchmark runs in a Wine prefix of its own and watches
# only the programs of that prefix: another program of the same name elsewhere on the
# machine (another prefix, another test run) is none of its business.
#
# Usage: bash bench/installer-bench.sh     (needs Debian's nsis package for makensis)
# Results: build/installer-bench/results.txt
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# The build the tests would run on this machine, unless one is asked for.
machine_arch=$(scripts/wine-run --arch)
export TW_WIN_ARCH=${TW_WIN_ARCH:-$machine_arch}
if [ "$TW_WIN_ARCH" = i686 ] && [ "$machine_arch" != i686 ]; then
  echo "TW_WIN_ARCH=i686, but Wine starts only 64-bit programs here"
  exit 1
fi
source tests/e2e/lib.sh
own_display "$root/bench/installer-bench.sh" "$@"
command -v makensis >/dev/null || { echo "makensis is missing: apt-get install nsis"; exit 1; }

bench_dir=$root/build/installer-bench
rm -rf "$bench_dir"
mkdir -p "$bench_dir"
log=$bench_dir/bench.log
runs=${TW_BENCH_RUNS:-3}
results=$bench_dir/results.txt
: >"$results"
say() { echo "$*" | tee -a "$results"; }

case $TW_WIN_ARCH in
  i686) other_arch=x86_64 nsis_target=x86-unicode other_nsis_target=amd64-unicode ;;
  *) other_arch=i686 nsis_target=amd64-unicode other_nsis_target=x86-unicode ;;
esac
if [ "$machine_arch" = i686 ]; then
  why="this machine runs 32-bit programs"
elif [ "${TW_WINE_64_ONLY:-0}" = 1 ]; then
  why="TW_WINE_64_ONLY=1"
else
  why="this machine cannot run 32-bit programs"
fi
[ "$TW_WIN_ARCH" = "$machine_arch" ] || why="TW_WIN_ARCH=$TW_WIN_ARCH"
say "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)), load $(cut -d' ' -f1-3 /proc/loadavg)"
say "== timed: the $TW_WIN_ARCH setup.exe and NSIS's $nsis_target stub ($why), $(scripts/wine-run --version 2>/dev/null)"

echo "== building (the $TW_WIN_ARCH kit, the $other_arch setup.exe)"
e2e_builds || exit 1
build_target "win-$other_arch" setup -- -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$other_arch.cmake \
  -DTW_HOST_TWDB="$twdb" || exit 1
declare -A setup_exe
setup_exe[$TW_WIN_ARCH]=$kit/setup.exe
setup_exe[$other_arch]=$root/build/win-$other_arch/program/setup.exe

# ---------------------------------------------------------------------------------------
# The kits and their NSIS installers

big_kit=$bench_dir/kit-200x1MB
mkdir -p "$big_kit"
cp "$kit"/* "$big_kit/"
for i in $(seq -w 1 200); do head -c 1048576 /dev/urandom >"$big_kit/data$i.bin"; done

# nsis_installer KIT OUT [TARGET]: the NSIS installer of the kit's files (setup.exe aside),
# for NSIS's stub TARGET (default: the one that runs here).
nsis_installer() {
  local source=$1 out=$2 target=${3:-$nsis_target} script=$2.nsi
  cat >"$script" <<EOF
Target $target
Name "Tarnwhistle"
OutFile "$out"
InstallDir "\$PROGRAMFILES\\Tarnwhistle"
RequestExecutionLevel user
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
Section
  SetOutPath "\$INSTDIR"
  File /x setup.exe "$source/*.*"
  IfFileExists "\$INSTDIR\\TW.dbc" +2
  CopyFiles /SILENT "\$INSTDIR\\TW.ini" "\$INSTDIR\\TW.dbc"
  WriteRegStr HKCU "Software\\Tarnwhistle" "AppDir" "\$INSTDIR"
  WriteRegStr HKCU "Software\\Tarnwhistle" "Version" "0.9b2"
  WriteRegStr HKCU "Software\\Tarnwhistle" "Program Group" "Tarnwhistle"
  WriteRegDWORD HKCU "Software\\Tarnwhistle" "WindowState" 0
  WriteRegStr HKCU "Software\\Tarnwhistle" "WindowPos" "-1,-1,565,350"
  WriteRegDWORD HKCU "Software\\Tarnwhistle" "Update" 1
  WriteUninstaller "\$INSTDIR\\UninstTW.exe"
  CreateDirectory "\$SMPROGRAMS\\Tarnwhistle"
  CreateShortcut "\$SMPROGRAMS\\Tarnwhistle\\License.lnk" "\$INSTDIR\\License.txt"
  CreateShortcut "\$SMPROGRAMS\\Tarnwhistle\\Tarnwhistle.lnk" "\$INSTDIR\\TW.exe"
  CreateShortcut "\$SMPROGRAMS\\Tarnwhistle\\Uninstall TW.lnk" "\$INSTDIR\\UninstTW.exe"
  CreateShortcut "\$SMPROGRAMS\\Tarnwhistle\\QuickStart.lnk" "\$INSTDIR\\QuickStart.rtf"
  CreateShortcut "\$SMPROGRAMS\\Tarnwhistle\\ReadMe.lnk" "\$INSTDIR\\ReadMe.txt"
SectionEnd
Section "Uninstall"
  RMDir /r "\$SMPROGRAMS\\Tarnwhistle"
  Delete "\$INSTDIR\\*.*"
  DeleteRegKey HKCU "Software\\Tarnwhistle"
SectionEnd
EOF
  makensis -V4 "$script" >"$out.makensis.log" 2>&1 || { tail -n 20 "$out.makensis.log"; return 1; }
}
echo "== NSIS installers of both kits"
nsis_installer "$kit" "$bench_dir/nsis-kit.exe" || exit 1
nsis_installer "$big_kit" "$bench_dir/nsis-big.exe" || exit 1
# For the size of the other stub only.
nsis_installer "$kit" "$bench_dir/nsis-kit-$other_arch.exe" "$other_nsis_target" || exit 1

size() { stat -c %s "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "none" }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# stub_size INSTALLER: the size of its stub, as makensis reports it ("EXE header size").
stub_size() { sed -n 's/^EXE header size: *\([0-9]*\) \/.*/\1/p' "$1.makensis.log"; }

declare -A stub
stub[$TW_WIN_ARCH]=$(stub_size "$bench_dir/nsis-kit.exe")
stub[$other_arch]=$(stub_size "$bench_dir/nsis-kit-$other_arch.exe")
say "== sizes (bytes)"
for a in i686 x86_64; do
  say "setup.exe $a: $(size "${setup_exe[$a]}"), NSIS stub $a (EXE header) ${stub[$a]}; ratio $(ratio "$(size "${setup_exe[$a]}")" "${stub[$a]}")"
done
say "NSIS installer of the kit ($TW_WIN_ARCH): $(size "$bench_dir/nsis-kit.exe")"

# ---------------------------------------------------------------------------------------
# Times under Wine

scratch_prefix "$bench_dir"
at() { sed -n 's/^at: //p' <<<"$driven" | tail -n 1; }
now_ms() { date +%s%3N; }
target='C:\BenchTW'

# Leaves the prefix without an installation: the next run is a first installation again.
uninstall_quietly() {
  # The shell window that setup opens on the new group folder.
  [ "${1:-}" = setup ] && drive close --window Tarnwhistle --showing Tarnwhistle --timeout 5
  settle
  rm -rf "$(unix_path "$target")" "$(unix_path "$(programs_folder)")/Tarnwhistle"
  reg_delete 'HKCU\Software\Tarnwhistle'
  reg_delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwhistle'
}

# installed KIT: the installation of the kit is in place, as either installer leaves it:
# every file of the kit (setup.exe as UninstTW.exe), the database, the record and the
# group of five shortcuts. Says what is missing when it is not.
installed() {
  local source=$1 folder file name copy group
  folder=$(unix_path "$target")
  for file in "$source"/*; do
    name=${file##*/}
    [ "$name" = setup.exe ] && continue
    copy=$folder/$name
    [ -f "$copy" ] && [ "$(stat -c %s "$copy")" = "$(stat -c %s "$file")" ] ||
      { echo "$target\\$name missing or of another size" >&2; return 1; }
  done
  for name in UninstTW.exe TW.dbc; do
    [ -f "$folder/$name" ] || { echo "$target\\$name missing" >&2; return 1; }
  done
  reg_query 'HKCU\Software\Tarnwhistle' /v AppDir && grep -qiF "$target" <<<"$queried" ||
    { echo "no installation record" >&2; return 1; }
  group=$(unix_path "$(programs_folder)")/Tarnwhistle
  [ "$(find "$group" -maxdepth 1 -iname '*.lnk' 2>/dev/null | wc -l)" = 5 ] ||
    { echo "not five shortcuts in the program group" >&2; return 1; }
}

# setup_install_ms KIT: one installation by setup.exe; prints Install-to-Done less 4 s.
setup_install_ms() {
  local source=$1
  start "$source" setup.exe
  drive wait --window "Tarnwhistle Setup" --showing "Destination Folder" --timeout 90 &&
    drive type --window "Tarnwhistle Setup" "Destination Folder" "$target" &&
    drive click --window "Tarnwhistle Setup" Next &&
    drive type --window "Tarnwhistle Setup" "Your Address" "bench@example.net" &&
    drive type --window "Tarnwhistle Setup" "SMTP Host" "smtp.example.net" &&
    drive click --window "Tarnwhistle Setup" Next ||
    { echo "setup did not get to Review: $(tail -n 1 <<<"$driven")" >&2; return 1; }
  install_from_review_ms "$source"
}

# setup_update_ms KIT: setup.exe over an earlier installation, which opens on Review;
# prints Install-to-Done less 4 s.
setup_update_ms() {
  start "$1" setup.exe
  drive wait --window "Tarnwhistle Setup" --showing "Review Setup" --timeout 90 ||
    { echo "setup did not open on Review: $(tail -n 1 <<<"$driven")" >&2; return 1; }
  install_from_review_ms "$1"
}

# install_from_review_ms KIT: Install, OK, and the time to the Done page less 4 s; then Exit.
install_from_review_ms() {
  local source=$1 t0 t1
  drive click --window "Tarnwhistle Setup" Install &&
    drive wait --window Tarnwhistle --showing "Install now?" ||
    { echo "setup did not get to Install: $(tail -n 1 <<<"$driven")" >&2; return 1; }
  drive answer --window Tarnwhistle --showing "Install now?" OK || return 1
  t0=$(at)
  drive wait --window "Tarnwhistle Setup" --showing "Installation complete!" --timeout 600 ||
    { echo "setup did not get to the Done page" >&2; return 1; }
  t1=$(at)
  drive tick --window "Tarnwhistle Setup" "Run Tarnwhistle" off &&
    drive click --window "Tarnwhistle Setup" Exit && finish ||
    { echo "setup did not end on Exit" >&2; return 1; }
  installed "$source" || return 1
  echo $((t1 - t0 - 4000))
}

# nsis_silent_ms INSTALLER KIT: the silent install from start to end of its process.
nsis_silent_ms() {
  local t0 t1 rc
  t0=$(now_ms)
  tw_wine "$1" /S "/D=$target" >>"$log" 2>&1
  rc=$?
  t1=$(now_ms)
  [ $rc -eq 0 ] || { echo "the NSIS installer ended with $rc" >&2; return 1; }
  installed "$2" || return 1
  echo $((t1 - t0))
}

# setup_quiet_ms KIT: the unattended install (setup.exe /quiet), from start to the end of its
# process, as a deployment tool waits for it; beside NSIS's /S.
setup_quiet_ms() {
  local t0 t1
  t0=$(now_ms)
  (cd "$1" && tw_wine setup.exe /quiet "/dir=$target" /address=bench@example.net \
    /host=smtp.example.net) >>"$log" 2>&1 || { echo "setup.exe /quiet failed" >&2; return 1; }
  t1=$(now_ms)
  installed "$1" || return 1
  echo $((t1 - t0))
}

cp_ms() {  # cp_ms KIT: cp of the kit's files into a new folder of the prefix's drive C:
  local copy t0 t1 rc
  copy=$WINEPREFIX/drive_c/BenchCopy
  rm -rf "$copy"
  t0=$(now_ms)
  mkdir "$copy" && cp "$1"/* "$copy/"
  rc=$?
  t1=$(now_ms)
  diff -rq "$1" "$copy" >/dev/null || rc=1
  rm -rf "$copy"
  [ $rc -eq 0 ] || { echo "cp did not copy the kit" >&2; return 1; }
  echo $((t1 - t0))
}

# The start of a program that does nothing: what every Wine start costs.
wine_start_ms() {
  local t0 t1
  t0=$(now_ms)
  tw_wine "$driver" gone --window "no such window" --timeout 0 >>"$log" 2>&1 ||
    { echo "Wine did not run the driver" >&2; return 1; }
  t1=$(now_ms)
  echo $((t1 - t0))
}

# own_processes PROGRAM: the processes of this benchmark's Wine prefix whose command line
# names PROGRAM.
own_processes() {
  local pid
  for pid in $(pgrep -f -- "$1"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -xF "WINEPREFIX=$WINEPREFIX" >/dev/null && echo "$pid"
  done
}

# first_window_ms DIR PROGRAM: from the start of the program to its window, whose caption
# begins with "Tarnwhistle Setup" (NSIS adds the page's name), painted on the screen: the
# last change of its picture before it stays the same for 200 ms. The driver starts the
# program itself, as the shell would, once it is running and looking every 5 ms: started
# beside the program, its own start would race the program's and could be what is timed.
first_window_ms() {
  local dir=$1 program=$2 t0 t1 waited=0
  drive painted --window "Tarnwhistle Setup*" --timeout 90 --poll 5 --start "Z:${dir//\//\\}\\$program" ||
    { echo "no window of $program: $(tail -n 1 <<<"$driven")" >&2; return 1; }
  t0=$(sed -n 's/^started: //p' <<<"$driven")
  t1=$(sed -n 's/^painted: //p' <<<"$driven")
  drive close --window "Tarnwhistle Setup*"
  # NSIS asks before it quits.
  [ "$program" = setup.exe ] ||
    drive answer --window "Tarnwhistle Setup*" --showing "Are you sure" --timeout 10 Yes
  while [ -n "$(own_processes "$program")" ]; do
    [ $waited -lt 60 ] || { echo "$program did not end when its window closed" >&2; return 1; }
    sleep 0.5
    waited=$((waited + 1))
  done
  [ -n "$t0" ] && [ -n "$t1" ] || { echo "no times from the driver for $program" >&2; return 1; }
  echo $((t1 - t0))
}

declare -A samples
# measure NAME COMMAND...: one sample, appended to samples[NAME]. A run that did not do its
# work ends the benchmark: no figure is better than one from runs that failed.
measure() {
  local name=$1 value; shift
  if ! value=$("$@" 2>"$bench_dir/failure.txt"); then
    say "failed: $name: $(tail -n 1 "$bench_dir/failure.txt")"
    echo "details: $log, $work/programs.log"
    tw_wineserver -k 2>/dev/null
    exit 1
  fi
  samples[$name]="${samples[$name]:-} $value"
  echo "  $name: $value ms"
}

echo "== times ($runs runs each)"
# The first program of a prefix starts Wine's own services: not part of any figure.
wine_start_ms >/dev/null 2>"$bench_dir/failure.txt" ||
  { say "failed: warm-up: $(tail -n 1 "$bench_dir/failure.txt")"; exit 1; }
for run in $(seq "$runs"); do
  measure wine_start wine_start_ms
  for turn in 1 2 3; do
    measure setup_first_window first_window_ms "$kit" setup.exe
    measure nsis_first_window first_window_ms "$bench_dir" nsis-kit.exe
  done
  measure setup_kit setup_install_ms "$kit"; uninstall_quietly setup
  measure nsis_kit nsis_silent_ms "$bench_dir/nsis-kit.exe" "$kit"; uninstall_quietly
  measure cp_kit cp_ms "$kit"
  measure setup_big setup_install_ms "$big_kit"
  measure setup_update setup_update_ms "$big_kit"; uninstall_quietly setup
  measure nsis_big nsis_silent_ms "$bench_dir/nsis-big.exe" "$big_kit"
  measure nsis_update nsis_silent_ms "$bench_dir/nsis-big.exe" "$big_kit"; uninstall_quietly
  measure setup_quiet_big setup_quiet_ms "$big_kit"
  measure setup_quiet_update setup_quiet_ms "$big_kit"; uninstall_quietly
  measure cp_big cp_ms "$big_kit"
done
tw_wineserver -k 2>/dev/null

m() { median ${samples[$1]}; }
say "== times (median of $runs runs, ms; $TW_WIN_ARCH; load at the end $(cut -d' ' -f1-3 /proc/loadavg))"
say "Wine start of a program doing nothing:       $(m wine_start)"
say "first window ($((runs * 3)) each): setup.exe $(m setup_first_window), NSIS $(m nsis_first_window); ratio $(ratio "$(m setup_first_window)" "$(m nsis_first_window)")"
say "  setup.exe:$(tr ' ' '\n' <<<"${samples[setup_first_window]}" | sort -n | tr '\n' ' ')"
say "  NSIS:     $(tr ' ' '\n' <<<"${samples[nsis_first_window]}" | sort -n | tr '\n' ' ')"
say "kit ($(du -sk "$kit" | cut -f1) KB): setup.exe $(m setup_kit), NSIS silent $(m nsis_kit), cp $(m cp_kit)"
say "  ratio setup/NSIS $(ratio "$(m setup_kit)" "$(m nsis_kit)"), setup/cp $(ratio "$(m setup_kit)" "$(m cp_kit)")"
say "kit + 200 x 1 MB: setup.exe $(m setup_big), NSIS silent $(m nsis_big), cp $(m cp_big)"
say "  ratio setup/NSIS $(ratio "$(m setup_big)" "$(m nsis_big)"), setup/cp $(ratio "$(m setup_big)" "$(m cp_big)")"
say "kit + 200 x 1 MB, unattended: setup.exe /quiet $(m setup_quiet_big), NSIS /S $(m nsis_big); ratio $(ratio "$(m setup_quiet_big)" "$(m nsis_big)")"
say "update, kit + 200 x 1 MB over an earlier installation: setup.exe $(m setup_update), NSIS silent $(m nsis_update); ratio $(ratio "$(m setup_update)" "$(m nsis_update)")"
say "  unattended: setup.exe /quiet $(m setup_quiet_update), NSIS /S $(m nsis_update); ratio $(ratio "$(m setup_quiet_update)" "$(m nsis_update)")"
echo "results: $results"
