# The unattended scenarios of the end-to-end run (quiet_install to client_running); sourced by run-e2e.sh after
# scenarios.sh, whose helpers they use. A deployment tool's view: the exit code, and the
# outcome read from outside.

quiet_folder='C:\Quiet Tarn'
quiet_log='C:\logs\quiet run.log'
UNINSTALL_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwhistle'

# quietly DIR PROGRAM ARGS...: runs the program from DIR and waits for it, as a
# deployment tool does; its exit code is in $code.
code=""
quietly() {
  local dir=$1 program=$2; shift 2
  step "$program $*"
  (cd "$dir" && tw_wine "$program" "$@") >>"$work/programs.log" 2>"$work/quiet.err"
  code=$?
  cat "$work/quiet.err" >>"$log"
  echo "exit code $code" >>"$log"
}
exit_code_is() { [ "$code" = "$1" ] || { echo "exit code $code, expected $1"; return 1; }; }

run_log() { tr -d '\r' <"$(unix_path "$quiet_log")" 2>/dev/null | cut -c21-; }
# grep reads the whole log (no -q): under pipefail, a grep that stops at the first match
# leaves the commands before it writing into a closed pipe, and the pipeline fails.
# A line missing from the program's log puts the whole log into the run's, to see why.
log_has() {
  run_log | grep -xF -- "$1" >/dev/null && return 0
  { echo "the program's log, $quiet_log:"; run_log; } >>"$log"
  echo "not in the log: $1"
  return 1
}
log_has_match() { run_log | grep -E -- "$1" >/dev/null || { echo "no line like: $1"; return 1; }; }
log_ends_with() { [ "$(run_log | tail -n 1)" = "$1" ] || { echo "last line: $(run_log | tail -n 1)"; return 1; }; }

clear_installations() {
  reg_delete 'HKCU\Software\Tarnwhistle'
  reg_delete 'HKCU\Software\Mixmaster'
  reg_delete "$UNINSTALL_KEY"
  rm -rf "$(group_dir)" "$(unix_path "$quiet_folder")" "$WINEPREFIX/drive_c/Mix" "$(unix_path "$quiet_log")"
  mkdir -p "$(unix_path 'C:\logs')"
}

check_apps_and_features() {  # check_apps_and_features WINDOWS-FOLDER UNIX-FOLDER
  local d=$1 size today
  today=$(date +%Y%m%d)
  # The record is written before the seeding: the folder then holds the kit's files, with
  # TW.dbc still the copy of the template.
  size=$(( ($(find "$2" -maxdepth 1 -type f ! -iname TW.dbc -printf '%s+' ; echo 0) +
            $(stat -c %s "$kit/TW.ini") + 1023) / 1024 ))
  check "DisplayName" reg_value "$UNINSTALL_KEY" DisplayName REG_SZ Tarnwhistle
  check "DisplayVersion, the kit's" reg_value "$UNINSTALL_KEY" DisplayVersion REG_SZ "$(
    "$twdb" get-setting "$kit/TW.ini" Version)"
  check "Publisher" reg_value "$UNINSTALL_KEY" Publisher REG_SZ "The Tarnwhistle developers"
  check "InstallLocation" reg_value "$UNINSTALL_KEY" InstallLocation REG_SZ "$d"
  check "UninstallString, quoted" reg_value "$UNINSTALL_KEY" UninstallString REG_SZ "\"$d\\UninstTW.exe\""
  check "QuietUninstallString: the client only" reg_value "$UNINSTALL_KEY" QuietUninstallString REG_SZ "\"$d\\UninstTW.exe\" /quiet /client"
  check "DisplayIcon, TW.exe's first" reg_value "$UNINSTALL_KEY" DisplayIcon REG_SZ "$d\\TW.exe,0"
  check "EstimatedSize, the files' KB" reg_value "$UNINSTALL_KEY" EstimatedSize REG_DWORD "$(printf '0x%x' "$size")"
  check "InstallDate, today" reg_value "$UNINSTALL_KEY" InstallDate REG_SZ "$today"
  check "NoModify" reg_value "$UNINSTALL_KEY" NoModify REG_DWORD 0x1
  check "NoRepair" reg_value "$UNINSTALL_KEY" NoRepair REG_DWORD 0x1
}

no_window_opened() {
  check "no shell window opened" drive gone --window "$BOX" --showing Tarnwhistle --timeout 2
  check "no client started" drive gone --window "$BOX" --showing "Folder: " --timeout 1
}

scenario_title_quiet_install() { echo "quiet install into a new folder"; }
scenario_quiet_install() {
  clear_installations
  local dir
  quietly "$kit" setup.exe /QUIET "/dir=$quiet_folder" "/address=$address" /Host="$host" "/log=$quiet_log"
  check "exit code 0" exit_code_is 0
  dir=$(unix_path "$quiet_folder")
  no_window_opened
  check_installed_files "$dir"
  check_registry_record "$quiet_folder" 0x0 "-1,-1,565,350"
  check_apps_and_features "$quiet_folder" "$dir"
  check_program_group "$quiet_folder"
  check_default_entries "$dir/TW.dbc" "$address" "$host"
  check "the log: the steps" bash -c 'for s in "copy the kit" "registry record" "default entries" "program group"; do grep -qxF "step $s: done" <<<"$1" || exit 1; done' _ "$(run_log)"
  local kit_windows="Z:${kit//\//\\}"
  check "the log: each copied file" log_has "copy $kit_windows\\TW.exe to $quiet_folder\\TW.exe: done"
  check "the log: setup.exe arrives as UninstTW.exe" log_has "copy $kit_windows\\setup.exe to $quiet_folder\\UninstTW.exe: done"
  check "the log: the registry values" log_has "registry value HKCU\\Software\\Tarnwhistle\\AppDir = $quiet_folder: done"
  check "the log: the Apps & features values" log_has "registry value HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwhistle\\NoRepair = 1: done"
  check "the log: the entries" log_has "entry default/message in $quiet_folder\\TW.dbc: done"
  check "the log: the links" log_has_match '^link .*\\Tarnwhistle\\ReadMe\.LNK to .*readme\.txt: done$'
  check "the log ends with the exit code" log_ends_with "exit code 0: done"
}

scenario_title_quiet_update() { echo "quiet update over the quiet installation"; }
scenario_quiet_update() {
  local dir key='HKCU\Software\Tarnwhistle'
  dir=$(unix_path "$quiet_folder")
  reg_add "$key" /v WindowState /t REG_DWORD /d 2
  printf 'From: a friend\r\n\r\nHello\r\n' | "$twdb" put "$dir/TW.dbc" Mailboxes Inbox 1 2>>"$log"
  rm -f "$dir/ReadMe.txt"
  quietly "$kit" setup.exe /quiet "/log=$quiet_log"
  check "exit code 0" exit_code_is 0
  no_window_opened
  check "the recorded folder was updated: ReadMe.txt is back" cmp "$kit/ReadMe.txt" "$dir/ReadMe.txt"
  check "TW.exe is the kit's" cmp "$kit/TW.exe" "$dir/TW.exe"
  check "WindowState keeps the client's value" reg_value "$key" WindowState REG_DWORD 0x2
  check "the mail survives" entry_is "$dir/TW.dbc" <(crlf 'From: a friend' '' Hello) Mailboxes Inbox 1
  check_default_entries "$dir/TW.dbc" "$address" "$host"
  check "the log holds both runs" test "$(run_log | grep -c '^exit code 0: done$')" = 2
}

scenario_title_quiet_removal() { echo "quiet removal: nothing of the uninstaller is left"; }
scenario_quiet_removal() {
  local dir home
  dir=$(unix_path "$quiet_folder")
  make_mixmaster 'C:\Mix'
  quietly "$dir" UninstTW.exe /quiet "/log=$quiet_log"
  check "exit code 0" exit_code_is 0
  sleep 2  # the copy removes the uninstaller once the first process has ended
  check "the home holds only the database, no UninstTW.exe" diff <(echo TW.dbc) <(names_in "$dir")
  check "the registry record is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
  check "the Apps & features entry is gone" reg_absent_key "$UNINSTALL_KEY"
  check "the group folder is gone" test ! -e "$(group_dir)"
  check "Mixmaster, offered checked, is gone too" test ! -e "$WINEPREFIX/drive_c/Mix"
  check "no notice, no window" drive gone --window "$NOTICE" --timeout 1
  check "the log: the steps, without pacing lines of its own" log_has "   program files...done"
  check "the log: each deleted file" log_has "delete $quiet_folder\\TW.exe: done"
  check "the log ends with the exit code" log_ends_with "exit code 0: done"
  # Windows removes the temporary copy at the next restart; Wine does not record that, so
  # the next run of the program removes it.
  rm -rf "$dir"
  quietly "$kit" setup.exe -u /quiet
  check "removing again: exit code 3, nothing to do" exit_code_is 3
  check "no temporary copy is left after the next run" \
    test -z "$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -iname 'Tarnwhistle-uninstall-*')"
}

scenario_title_bad_switches() { echo "bad switches: exit code 2, nothing changed"; }
scenario_bad_switches() {
  local before=$run_dir/state-before-bad_switches.txt after=$run_dir/state-after-bad_switches.txt
  clear_installations
  snapshot "$before"
  local args
  for args in "/quiet /bogus" "/quiet /dir" "/quiet /dir=relative\\tw" "/quiet /dir=C:\\" \
              "/quiet /address=" "/quiet /client" "/quiet /silent"; do
    # shellcheck disable=SC2086
    quietly "$kit" setup.exe $args
    check "setup.exe $args: exit code 2" exit_code_is 2
  done
  quietly "$kit" setup.exe -u /quiet /nogroup
  check "setup.exe -u /quiet /nogroup: exit code 2" exit_code_is 2
  quietly "$kit" setup.exe -u /quiet /client /mixmaster
  check "/client with /mixmaster: exit code 2" exit_code_is 2
  check "the message says why" grep -q "exclude each other" "$work/quiet.err"
  snapshot "$after"
  check "the registry and the files are as before" diff "$before" "$after"
  check "no folder was made" test ! -e "$kit/relative"
}

# The stand-in client started from its home, as the group's shortcut starts it.
start_client() {  # start_client UNIX-DIR
  (cd "$1" && tw_wine TW.exe) >>"$work/programs.log" 2>&1 &
  client_pid=$!
  act "the client runs" wait --window "$BOX" --showing "Folder: " --timeout 30
}
stop_client() {
  drive close --window "$BOX" --showing "Folder: "
  drive gone --window "$BOX" --showing "Folder: " --timeout 20
  wait "$client_pid" 2>/dev/null
}

scenario_title_client_running() { echo "a running client: exit code 4 and the question, nothing changed"; }
scenario_client_running() {
  clear_installations
  local dir before=$run_dir/state-before-client_running.txt after=$run_dir/state-after-client_running.txt
  quietly "$kit" setup.exe /quiet "/dir=$quiet_folder" "/address=$address" "/host=$host"
  check "installed: exit code 0" exit_code_is 0
  dir=$(unix_path "$quiet_folder")
  rm -f "$dir/ReadMe.txt"
  start_client "$dir"
  snapshot "$before"
  find "$dir" -type f -exec md5sum {} + | sort -k 2 >>"$before"

  quietly "$kit" setup.exe /quiet "/log=$quiet_log"
  check "quiet install: exit code 4" exit_code_is 4
  check "the console was told" grep -q "Tarnwhistle is running" "$work/quiet.err"
  check "the log ends with the exit code" log_ends_with "exit code 4: Tarnwhistle is running; nothing was changed"
  quietly "$dir" UninstTW.exe /quiet
  check "quiet removal: exit code 4" exit_code_is 4
  sleep 1

  step "the setup wizard asks"
  start "$kit" setup.exe
  act "setup.exe opens on the Review page" wait --window "$SETUP" --showing "Review Setup" --timeout 90 || return
  quietly "$kit" setup.exe
  check "a second run while the wizard is open: exit code 5" exit_code_is 5
  act "Install" click --window "$SETUP" Install
  act "OK" answer --window "$BOX" --showing "Install now?" OK
  act "the question" wait --window "$BOX" --showing "Tarnwhistle is running. Close it, then click Retry." --timeout 30 || return
  shot setup-client-running
  check "it offers Retry and Cancel" shows_all "$BOX" Retry Cancel
  act "Retry: the client still runs, the question again" answer --window "$BOX" --showing "Close it, then click Retry." Retry
  act "the question again" wait --window "$BOX" --showing "Close it, then click Retry." --timeout 10
  act "Cancel" answer --window "$BOX" --showing "Close it, then click Retry." Cancel
  check "the wizard stays on Review" drive wait --window "$SETUP" --showing "Review Setup" --timeout 5
  cancel_and_quit "$SETUP" "Quit without installing Tarnwhistle?"

  step "the uninstall wizard asks"
  open_uninstall "$dir" UninstTW.exe || return
  act "Next" click --window "$UNINSTALL" Next
  act "Next" click --window "$UNINSTALL" Next
  act "Finish" click --window "$UNINSTALL" Finish
  act "OK" answer --window "$BOX" --showing "Uninstall now?" OK
  act "the question" wait --window "$BOX" --showing "Tarnwhistle is running. Close it, then click Retry." --timeout 30 || return
  shot uninstall-client-running
  act "Cancel" answer --window "$BOX" --showing "Close it, then click Retry." Cancel
  check "the wizard is back on Review" drive wait --window "$UNINSTALL" --showing "Review Un-installation" --timeout 5
  cancel_and_quit "$UNINSTALL" "Quit without removing Tarnwhistle?"

  snapshot "$after"
  find "$dir" -type f -exec md5sum {} + | sort -k 2 >>"$after"
  check "no file and no registry value changed" diff "$before" "$after"

  stop_client
  quietly "$dir" UninstTW.exe /quiet
  check "with the client closed, the quiet removal: exit code 0" exit_code_is 0
}
