#!/usr/bin/env bash
# End-to-end runs of the shipped program: setup.exe started from the kit folder and
# UninstTW.exe started from the installation folder, under Wine in a virtual display, in a
# scratch Wine prefix made for this run. The user is tests/e2e's driver, which only finds
# windows, types, clicks, ticks and answers; every check reads the outcome from outside:
# `wine reg query`, the file system, `lnkinfo` and the native twdb. Every page, message box
# and notice is photographed into the run's screenshot folder.
#
# Usage: bash tests/e2e/run-e2e.sh [SCENARIO...]     (default: all, in this order)
#   1 first installation    2 second run over it    3 uninstall from the installation folder
#   4 Mixmaster alone and with the client            5 cancel and close paths change nothing
#   6 the client's home inside Mixmaster's pool      7 one home under two spellings
#   kit_database     an update from a used, read-only kit started from another folder
#   client_namesakes an update of a database with two entries of one name in an index
#   quiet_install, quiet_update, quiet_removal       the unattended runs, one after another
#   bad_switches     exit code 2, nothing changed    client_running  exit code 4 and the question
#   own_tools        a folder of the user's files refused; Browse adds \Tarnwhistle
#   own_downloads    Downloads refused on both sides  own_letters     a record naming the user's files
#   own_temp_link    a link in %TEMP% named as the uninstaller's copies
#   own_mix_dbc      TW.dbc in Mixmaster's home kept  own_apps_features  the client only, from Settings
#   own_reinstall    uninstall, then install at once
#   keyboard_install, keyboard_update, keyboard_removal   the same with keys alone (xdotool),
#                    the focus and what a screen reader hears checked between the keys
#   incomplete_kit, held_file, held_run, empty_database, full_disk, stays_put, bare_words
#                    failures: nothing reported done that was not, the earlier installation whole
# Scenarios 2 and 3 continue from the installation of scenario 1, quiet_update and
# quiet_removal from quiet_install, keyboard_update and keyboard_removal from
# keyboard_install; the others make their own.
#
# Environment:
#   TW_WIN_ARCH          i686 (default) or x86_64: which Windows build runs
#   TW_E2E_WIN_BUILD     its folder under build/ (default win-$TW_WIN_ARCH); configured when
#                        missing, and its targets kit and e2e_driver built
#   TW_E2E_NATIVE_BUILD  the native build under build/ whose twdb reads the databases
#                        (default native; configured when missing, target twdb built)
# Results: build/e2e-$TW_WIN_ARCH/ (run.log, screenshots/). Exit status 0 only when every
# check of every scenario passed.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source tests/e2e/lib.sh
own_display "$root/tests/e2e/run-e2e.sh" "$@"
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(1 2 3 4 5 6 7 kit_database client_namesakes quiet_install
  quiet_update quiet_removal bad_switches client_running own_tools own_downloads own_letters
  own_temp_link own_mix_dbc own_apps_features own_reinstall keyboard_install keyboard_update
  keyboard_removal incomplete_kit held_file held_run empty_database full_disk stays_put bare_words)

echo "== building twdb (native), the kit and the driver ($arch)"
e2e_builds || exit 1
echo "kit: $kit"

run_dir=$root/build/e2e-$arch
rm -rf "$run_dir"
scratch_prefix "$run_dir"
shots=$run_dir/screenshots
mkdir -p "$shots"
log=$run_dir/run.log
: >"$log"
echo "scratch prefix: $WINEPREFIX"

# ---------------------------------------------------------------------------------------
# Steps, checks and screenshots

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
# act DESCRIPTION COMMAND ARGS...: an action of the user that has to succeed.
act() {
  local what=$1; shift
  step "$what"
  drive "$@" || { fail "$what: $(tail -n 1 <<<"$driven")"; return 1; }
}
# The started program ends by itself once its window has closed.
program_ends() { finish || fail "the program ended after its window closed"; }

shot() {
  shot_number=$((shot_number + 1))
  local file
  file=$shots/$(printf '%02d' "$shot_number")-$1.png
  sleep 0.5  # the last repaint
  import -window root "$file" 2>>"$log" && echo "    screenshot: $file"
}

reg_value() {  # reg_value KEY NAME TYPE DATA: the value exists with this type and data
  reg_query "$1" /v "$2" || return 1
  grep -qxF -- "    $2    $3    $4" <<<"$queried"
}
reg_absent_key() { ! reg_query "$1"; }

# The state that the cancelled runs must not change: the registry keys of both products,
# and the files under the Start menu's Programs folder and the installation folders.
snapshot() {  # snapshot FILE
  local dir
  {
    reg_query 'HKCU\Software\Tarnwhistle'; echo "$queried"
    reg_query 'HKCU\Software\Mixmaster'; echo "$queried"
    for dir in "$(unix_path "$(programs_folder)")" "$WINEPREFIX/drive_c/Programs" \
               "$WINEPREFIX/drive_c/Program Files/Tarnwhistle" "$WINEPREFIX/drive_c/Mix"; do
      [ -d "$dir" ] && find "$dir" -exec ls -ld --time-style=+%s {} + | sort -k 7
      [ -d "$dir" ] && find "$dir" -type f -exec md5sum {} + | sort -k 2
    done
  } >"$1" 2>&1
}

# Database checks through the native twdb.
entry_is() {  # entry_is DB EXPECTED-FILE COMPONENT...: the entry holds the file's bytes
  local db=$1 expected=$2; shift 2
  "$twdb" get "$db" "$@" >"$run_dir/entry.out" 2>>"$log" || return 1
  cmp "$expected" "$run_dir/entry.out"
}
crlf() { local line; for line in "$@"; do printf '%s\r\n' "$line"; done; }
# names_in DIR: the names in a folder, as `ls` lists them, but for an empty TW.dbc-journal:
# the store keeps its journal beside the database between writes, emptied once a write is
# done. A journal that still holds a write is listed.
names_in() {
  local name
  ls "$1" | while read -r name; do
    [ "$name" = TW.dbc-journal ] && [ ! -s "$1/$name" ] && continue
    echo "$name"
  done
}

source tests/e2e/scenarios.sh
source tests/e2e/unattended.sh
source tests/e2e/ownership.sh
source tests/e2e/keyboard.sh
source tests/e2e/failures.sh

# ---------------------------------------------------------------------------------------

for scenario in "${scenarios[@]}"; do
  if ! declare -F "scenario_$scenario" >/dev/null; then
    fail "no scenario $scenario"
    continue
  fi
  echo "== scenario $scenario: $(scenario_title_"$scenario")"
  "scenario_$scenario"
  settle
done
tw_wineserver -k 2>/dev/null

echo
echo "== end-to-end ($arch): $checks_passed checks passed, $checks_failed failed"
echo "screenshots: $shots"
echo "log: $log"
[ "$checks_failed" -eq 0 ]
