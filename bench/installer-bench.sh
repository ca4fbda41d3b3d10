#!/usr/bin/env bash
# The installer beside a plain copy and beside an NSIS installer of the same kit, measured
# side by side in one run on one machine, under the same Wine and Xvfb:
#   - sizes: setup.exe (i686, x86_64) beside the NSIS installer's stub (its EXE header);
#   - install time: from pressing Install (OK on "Install now?"), less the fixed countdown
#     of four seconds, to the Done page, for the kit and for the kit with 200 files of 1 MB;
#     beside `cp` of the same files and beside the NSIS installer's silent install;
#   - time to the first window: setup.exe and the NSIS installer, from start to the window.
# Each time is the median of TW_BENCH_RUNS runs (default 3). The NSIS script is written by
# this benchmark: directory page, copy, shortcuts, registry values, uninstaller.
#
# Usage: bash bench/installer-bench.sh     (needs Debian's nsis package for makensis)
# Results: build/installer-bench/results.txt
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
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

echo "== building (i686 kit, x86_64 setup.exe)"
e2e_builds || exit 1
build_target "${TW_BENCH_X64_BUILD:-win-x86_64}" setup -- \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake || exit 1
setup64=$root/build/${TW_BENCH_X64_BUILD:-win-x86_64}/program/setup.exe

# ---------------------------------------------------------------------------------------
# The kits and their NSIS installers

big_kit=$bench_dir/kit-200x1MB
mkdir -p "$big_kit"
cp "$kit"/* "$big_kit/"
for i in $(seq -w 1 200); do head -c 1048576 /dev/urandom >"$big_kit/data$i.bin"; done

# nsis_installer KIT OUT: the NSIS installer of the kit's files (setup.exe aside).
nsis_installer() {
  local source=$1 out=$2 script=$2.nsi
  cat >"$script" <<EOF
Unicode true
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

size() { stat -c %s "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

stub=$(sed -n 's/^EXE header size: *\([0-9]*\) \/.*/\1/p' "$bench_dir/nsis-kit.exe.makensis.log")
say "== sizes (bytes)"
say "setup.exe i686:                 $(size "$kit/setup.exe")"
say "setup.exe x86_64:               $(size "$setup64")"
say "NSIS stub (EXE header):         $stub"
say "NSIS installer of the kit:      $(size "$bench_dir/nsis-kit.exe")"
say "ratio setup.exe i686 / NSIS stub:   $(ratio "$(size "$kit/setup.exe")" "$stub")"
say "ratio setup.exe x86_64 / NSIS stub: $(ratio "$(size "$setup64")" "$stub")"

# ---------------------------------------------------------------------------------------
# Times under Wine

scratch_prefix "$bench_dir"
at() { sed -n 's/^at: //p' <<<"$driven" | tail -n 1; }
now_ms() { date +%s%3N; }

# Leaves the prefix without an installation: the next run is a first installation again.
uninstall_quietly() {
  # The shell window that setup opens on the new group folder.
  drive close --window Tarnwhistle --showing Tarnwhistle --timeout 5
  settle
  rm -rf "$(unix_path 'C:\BenchTW')" "$(unix_path "$(programs_folder)")/Tarnwhistle"
  reg_delete 'HKCU\Software\Tarnwhistle'
  reg_delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwhistle'
}

# setup_install_ms KIT: one installation by setup.exe; prints Install-to-Done less 4 s.
setup_install_ms() {
  local source=$1 t0 t1
  start "$source" setup.exe
  drive wait --window "Tarnwhistle Setup" --showing "Destination Folder" --timeout 90 &&
    drive type --window "Tarnwhistle Setup" "Destination Folder" 'C:\BenchTW' &&
    drive click --window "Tarnwhistle Setup" Next &&
    drive type --window "Tarnwhistle Setup" "Your Address" "bench@example.net" &&
    drive type --window "Tarnwhistle Setup" "SMTP Host" "smtp.example.net" &&
    drive click --window "Tarnwhistle Setup" Next &&
    drive click --window "Tarnwhistle Setup" Install &&
    drive wait --window Tarnwhistle --showing "Install now?" || { echo "setup did not get to Install" >&2; return 1; }
  drive answer --window Tarnwhistle --showing "Install now?" OK || return 1
  t0=$(at)
  drive wait --window "Tarnwhistle Setup" --showing "Installation complete!" --timeout 600 || return 1
  t1=$(at)
  drive tick --window "Tarnwhistle Setup" "Run Tarnwhistle" off
  drive click --window "Tarnwhistle Setup" Exit
  finish
  echo $((t1 - t0 - 4000))
}

# nsis_silent_ms INSTALLER: the silent install from start to end of its process.
nsis_silent_ms() {
  local t0 t1
  t0=$(now_ms)
  tw_wine "$1" /S '/D=C:\BenchTW' >>"$log" 2>&1
  t1=$(now_ms)
  echo $((t1 - t0))
}

# setup_quiet_ms KIT: the unattended install (setup.exe /quiet), from start to the end of its
# process, as a deployment tool waits for it; beside NSIS's /S.
setup_quiet_ms() {
  local t0 t1
  t0=$(now_ms)
  (cd "$1" && tw_wine setup.exe /quiet '/dir=C:\BenchTW' /address=bench@example.net \
    /host=smtp.example.net) >>"$log" 2>&1 || { echo "setup.exe /quiet failed" >&2; return 1; }
  t1=$(now_ms)
  echo $((t1 - t0))
}

cp_ms() {  # cp_ms KIT: cp of the kit's files into a new folder of the prefix's drive C:
  local target t0 t1
  target=$WINEPREFIX/drive_c/BenchTW
  rm -rf "$target"
  t0=$(now_ms)
  mkdir "$target" && cp "$1"/* "$target/"
  t1=$(now_ms)
  rm -rf "$target"
  echo $((t1 - t0))
}

# The start of a program that does nothing: what every Wine start costs.
wine_start_ms() {
  local t0 t1
  t0=$(now_ms)
  tw_wine "$driver" gone --window "no such window" --timeout 0 >>"$log" 2>&1
  t1=$(now_ms)
  echo $((t1 - t0))
}

# first_window_ms DIR PROGRAM: from the start of the program to its window, whose caption
# begins with "Tarnwhistle Setup" (NSIS adds the page's name).
first_window_ms() {
  local dir=$1 program=$2 t0 t1
  t0=$(now_ms)
  start "$dir" "$program"
  drive wait --window "Tarnwhistle Setup*" --timeout 90 || return 1
  t1=$(at)
  drive close --window "Tarnwhistle Setup*"
  # NSIS asks before it quits.
  drive answer --window "Tarnwhistle Setup*" --showing "Are you sure" --timeout 3 Yes
  finish || settle
  echo $((t1 - t0))
}

declare -A samples
measure() {  # measure NAME COMMAND...: one sample, appended to samples[NAME]
  local name=$1 value; shift
  value=$("$@") || { echo "failed: $name" | tee -a "$log"; return 1; }
  samples[$name]="${samples[$name]:-} $value"
  echo "  $name: $value ms"
}

echo "== times ($runs runs each)"
for run in $(seq "$runs"); do
  measure wine_start wine_start_ms
  measure setup_first_window first_window_ms "$kit" setup.exe
  measure nsis_first_window first_window_ms "$bench_dir" nsis-kit.exe
  measure setup_kit setup_install_ms "$kit"; uninstall_quietly
  measure nsis_kit nsis_silent_ms "$bench_dir/nsis-kit.exe"; uninstall_quietly
  measure cp_kit cp_ms "$kit"
  measure setup_big setup_install_ms "$big_kit"; uninstall_quietly
  measure nsis_big nsis_silent_ms "$bench_dir/nsis-big.exe"; uninstall_quietly
  measure setup_quiet_big setup_quiet_ms "$big_kit"; uninstall_quietly
  measure cp_big cp_ms "$big_kit"
done
tw_wineserver -k 2>/dev/null

m() { median ${samples[$1]}; }
say "== times (median of $runs runs, ms)"
say "Wine start of a program doing nothing:       $(m wine_start)"
say "first window: setup.exe $(m setup_first_window), NSIS $(m nsis_first_window); ratio $(ratio "$(m setup_first_window)" "$(m nsis_first_window)")"
say "kit ($(du -sk "$kit" | cut -f1) KB): setup.exe $(m setup_kit), NSIS silent $(m nsis_kit), cp $(m cp_kit)"
say "  ratio setup/NSIS $(ratio "$(m setup_kit)" "$(m nsis_kit)"), setup/cp $(ratio "$(m setup_kit)" "$(m cp_kit)")"
say "kit + 200 x 1 MB: setup.exe $(m setup_big), NSIS silent $(m nsis_big), cp $(m cp_big)"
say "  ratio setup/NSIS $(ratio "$(m setup_big)" "$(m nsis_big)"), setup/cp $(ratio "$(m setup_big)" "$(m cp_big)")"
say "kit + 200 x 1 MB, unattended: setup.exe /quiet $(m setup_quiet_big), NSIS /S $(m nsis_big); ratio $(ratio "$(m setup_quiet_big)" "$(m nsis_big)")"
echo "results: $results"
