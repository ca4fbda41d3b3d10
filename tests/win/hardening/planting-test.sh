#!/usr/bin/env bash
# DLLs planted beside setup.exe, under the names of system DLLs that are not KnownDLLs
# (Windows loads those from the program's folder first unless told otherwise), each leaving
# a marker file when loaded. Wine normally serves these names from its own DLLs; with
# WINEDLLOVERRIDES set to n,b for them it searches the program's folder first, as Windows
# does. Then:
# 1. a control program that loads the names by bare name finds the planted ones (so the
#    set-up can show a load), and no longer finds them once it restricts its DLL search as
#    the shipped programs do;
# 2. setup.exe's wizard opens and shows its About box, and no marker appears.
# Left out, as loads that Wine makes past the program's settings where Windows would not:
# version.dll, imm32.dll and zlib1.dll, which Wine's own user32 and comctl32 import, so Wine
# loads them before the program's first instruction (it does not read the load
# configuration's DependentLoadFlags, which keeps Windows from loading them there);
# uxtheme.dll, which Wine's user32 loads through ntdll with the search path the process
# started with, past SetDefaultDllDirectories; and msimg32.dll, which Wine's uxtheme
# delay-loads the same way. The static test reads DependentLoadFlags.
# Usage: planting-test.sh WINE_RUN DRIVER SETUP_EXE PLANTED_DLL PROBE_EXE WORK
set -uo pipefail
wine_run=$1 driver=$2 setup=$3 planted=$4 probe=$5 work=$6
names=(dwmapi cryptbase propsys userenv winmm oleacc profapi sspicli wtsapi32
       riched20 msftedit netapi32 mpr samcli cryptsp ntmarta windowscodecs dbghelp)
source "$(dirname "$0")/wizard.sh"

rm -rf "$work"
kit=$work/kit
mkdir -p "$kit"
cp "$setup" "$kit/setup.exe"
cp "$probe" "$kit/probe.exe"
dlls=()
for name in "${names[@]}"; do
  cp "$planted" "$kit/$name.dll"
  dlls+=("$name.dll")
done
overrides=$(IFS=,; echo "${names[*]}")
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$overrides=n,b"
failed=0
markers() { (cd "$kit" && ls -- *.loaded 2>/dev/null | sed 's/\.loaded$//' | tr '\n' ' '); }

(cd "$kit" && "$wine_run" ./probe.exe "${dlls[@]}") >"$work/probe.out" 2>&1
found=$(markers)
if [ "$(echo $found | wc -w)" -eq ${#names[@]} ]; then
  echo "control: a program that searches its own folder first loads every planted DLL"
else
  echo "FAILED: the control loaded only: $found"
  failed=1
fi
rm -f "$kit"/*.loaded

(cd "$kit" && "$wine_run" ./probe.exe --restricted "${dlls[@]}") >"$work/probe-restricted.out" 2>&1
found=$(markers)
if [ -z "$found" ]; then
  echo "control: with the restricted search it loads none of them"
else
  echo "FAILED: with the restricted search the control loaded: $found"
  failed=1
fi
rm -f "$kit"/*.loaded "$kit/probe.exe"

open_wizard_and_about "$kit" ./setup.exe || failed=1
found=$(markers)
if [ -z "$found" ]; then
  echo "setup.exe loaded none of the ${#names[@]} planted DLLs"
else
  echo "FAILED: setup.exe loaded the planted $found"
  failed=1
fi
exit $failed
