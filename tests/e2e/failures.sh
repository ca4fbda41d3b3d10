# The failure scenarios of the end-to-end run (incomplete_kit to bare_words); sourced by
# run-e2e.sh after unattended.sh, whose helpers they use. Each makes a failure a user or a
# deployment tool meets, and checks from outside that nothing was reported done that was
# not, and that the earlier installation, if any, still works.

# The installed files with their checksums, the record and the Apps & features entry.
installation_state() {  # installation_state UNIX-FOLDER FILE
  {
    (cd "$1" 2>/dev/null && find . -type f -exec md5sum {} + | sort -k 2)
    reg_query 'HKCU\Software\Tarnwhistle'; echo "$queried"
    reg_query "$UNINSTALL_KEY"; echo "$queried"
  } >"$2" 2>&1
}
nothing_installed() {
  reg_absent_key 'HKCU\Software\Tarnwhistle' && reg_absent_key "$UNINSTALL_KEY" &&
    [ ! -e "$(unix_path "$quiet_folder")" ]
}
no_update_files() { [ -z "$(find "$1" -maxdepth 1 \( -name '*.setup-*' -o -name TWSetup.journal \))" ]; }

# A program of the prefix that holds a file open without sharing, as another program may
# (or, hold_run, the one-run lock, as a quiet run at work does), until the test lets it go.
holder_pid=""
hold_file() { start_holder hold "$1"; }  # hold_file WINDOWS-FILE
hold_run() { start_holder hold-run; }
start_holder() {  # start_holder COMMAND [WINDOWS-FILE]
  rm -f "$work/release"
  tw_wine "$driver" "$@" 120 "Z:${work//\//\\}\\release" >"$work/holder.out" 2>&1 &
  holder_pid=$!
  local waited=0
  until grep -q '^held: ' "$work/holder.out" 2>/dev/null; do
    [ $waited -lt 60 ] || return 1
    sleep 0.5
    waited=$((waited + 1))
  done
}
release_file() { touch "$work/release"; wait "$holder_pid" 2>/dev/null; }

scenario_title_incomplete_kit() { echo "setup.exe without the rest of its kit: exit 1, nothing installed"; }
scenario_incomplete_kit() {
  clear_installations
  local lonely=$work/lonely
  rm -rf "$lonely" && mkdir -p "$lonely" && cp "$kit/setup.exe" "$lonely/"
  quietly "$lonely" setup.exe /quiet "/dir=$quiet_folder" "/log=$quiet_log"
  check "exit code 1" exit_code_is 1
  check "the log says what is missing" log_has_match '^Incomplete Kit: The installation kit in .* is incomplete: (TW\.exe|TW\.ini|License\.txt|QuickStart\.rtf|ReadMe\.txt) is missing\.'
  check "nothing is installed" nothing_installed
  start "$lonely" setup.exe
  act "the wizard" wait --window "$SETUP" --showing "Destination Folder" --timeout 90 || return
  act "types the destination folder" type --window "$SETUP" "Destination Folder" "$quiet_folder"
  act "Next" click --window "$SETUP" Next
  act "types the address" type --window "$SETUP" "Your Address" "$address"
  act "types the SMTP host" type --window "$SETUP" "SMTP Host" "$host"
  act "Next" click --window "$SETUP" Next
  act "Install" click --window "$SETUP" Install
  act "OK" answer --window "$BOX" --showing "Install now?" OK
  act "the box says the kit is incomplete" wait --window "Incomplete Kit" --timeout 30 || return
  shot setup-incomplete-kit
  act "OK" answer --window "Incomplete Kit" OK
  check "the wizard stays on Review" drive wait --window "$SETUP" --showing "Review Setup" --timeout 5
  cancel_and_quit "$SETUP" "Quit without installing Tarnwhistle?"
  check "still nothing is installed" nothing_installed
}

scenario_title_held_file() { echo "TW.exe held by another program during an update: asked, or waited for"; }
scenario_held_file() {
  clear_installations
  local dir newer=$work/kit-newer
  quietly "$kit" setup.exe /quiet "/dir=$quiet_folder" "/address=$address" "/host=$host"
  check "installed: exit code 0" exit_code_is 0
  dir=$(unix_path "$quiet_folder")
  rm -rf "$newer" && cp -r "$kit" "$newer" && echo "a newer read-me" >"$newer/ReadMe.txt"
  hold_file "$quiet_folder\\TW.exe" || { fail "the holder did not start"; return; }
  start "$newer" setup.exe
  act "setup.exe opens on the Review page" wait --window "$SETUP" --showing "Review Setup" --timeout 90 || return
  act "Install" click --window "$SETUP" Install
  act "OK" answer --window "$BOX" --showing "Install now?" OK
  local question="TW.exe is in use by another program. Close it, then click Retry."
  act "the question" wait --window "$BOX" --showing "$question" --timeout 30 || return
  shot setup-file-in-use
  check "it offers Retry and Cancel" shows_all "$BOX" Retry Cancel
  act "Retry while it is still held: the question again" answer --window "$BOX" --showing "$question" Retry
  act "the question again" wait --window "$BOX" --showing "$question" --timeout 10
  release_file
  act "Retry once the holder has ended" answer --window "$BOX" --showing "$question" Retry
  act "the Done page" wait --window "$SETUP" --showing "Installation complete!" --timeout 60 || return
  act "Run Tarnwhistle: off" tick --window "$SETUP" "Run Tarnwhistle" off
  act "Exit" click --window "$SETUP" Exit
  program_ends
  check "the update arrived" cmp "$newer/ReadMe.txt" "$dir/ReadMe.txt"
  check "nothing of the update's own is left" no_update_files "$dir"

  # Unattended, the run tries again while the file is held, and goes on once it is free.
  echo "a third read-me" >"$newer/ReadMe.txt"
  hold_file "$quiet_folder\\TW.exe" || { fail "the holder did not start"; return; }
  (cd "$newer" && tw_wine setup.exe /quiet "/log=$quiet_log") >>"$work/programs.log" 2>&1 &
  local quiet_pid=$!
  sleep 4
  check "while it is held, the quiet run waits" kill -0 "$quiet_pid"
  release_file
  wait "$quiet_pid"
  code=$?
  check "once it is free: exit code 0" exit_code_is 0
  check "the update arrived" cmp "$newer/ReadMe.txt" "$dir/ReadMe.txt"
  check "the mail and the entries are sound" "$twdb" check "$dir/TW.dbc"
}

scenario_title_empty_database() { echo "a TW.dbc of 0 bytes is replaced by the template"; }
scenario_empty_database() {
  clear_installations
  local dir
  dir=$(unix_path "$quiet_folder")
  mkdir -p "$dir" && : >"$dir/TW.dbc"
  quietly "$kit" setup.exe /quiet "/dir=$quiet_folder" "/address=$address" "/host=$host"
  check "exit code 0" exit_code_is 0
  check "TW.dbc is a sound database (twdb check)" "$twdb" check "$dir/TW.dbc"
  check "it is the template's" test "$("$twdb" get-setting "$dir/TW.dbc" Version)" = \
    "$("$twdb" get-setting "$kit/TW.ini" Version)"
  check_default_entries "$dir/TW.dbc" "$address" "$host"
}

# A drive of 4 MB in memory, mapped as S:; the scenario is skipped where the machine does not
# let the test mount one.
small_disk=""
mount_small_disk() {
  small_disk=$work/small-disk
  mkdir -p "$small_disk"
  mount -t tmpfs -o size=4m tmpfs "$small_disk" 2>>"$log" || return 1
  ln -sfn "$small_disk" "$WINEPREFIX/dosdevices/s:"
}
unmount_small_disk() {
  rm -f "$WINEPREFIX/dosdevices/s:"
  umount "$small_disk" 2>>"$log"
}

scenario_title_full_disk() { echo "an update on a full disk: exit 1, the earlier installation whole"; }
scenario_full_disk() {
  clear_installations
  if ! mount_small_disk; then
    step "SKIPPED: this machine does not let the test mount a small drive"
    echo "    skipped: mounting a tmpfs was refused"
    return
  fi
  local folder='S:\Tarnwhistle' dir=$small_disk/Tarnwhistle
  local before=$run_dir/state-before-full_disk.txt after=$run_dir/state-after-full_disk.txt
  quietly "$kit" setup.exe /quiet "/dir=$folder" "/address=$address" "/host=$host"
  check "the first installation fits: exit code 0" exit_code_is 0
  printf 'From: a friend\r\n\r\nHello\r\n' | "$twdb" put "$dir/TW.dbc" Mailboxes Inbox 1 2>>"$log"
  # The disk filled up but for 512 KB: less than the update needs beside the old files.
  local free
  free=$(df -B1 --output=avail "$small_disk" | tail -n 1)
  head -c $((free - 524288)) /dev/zero >"$small_disk/filler" 2>>"$log"
  installation_state "$dir" "$before"
  quietly "$kit" setup.exe /quiet "/log=$quiet_log"
  check "the update: exit code 1" exit_code_is 1
  check "the log gives the sizes" log_has_match '^Not Enough Room: There is not enough room on S:\\ for Tarnwhistle: it needs [0-9.]+ MB, and 0\.[0-9] MB are free\.'
  installation_state "$dir" "$after"
  check "every file, the record and the entry as before" diff "$before" "$after"
  check "the mail survives" entry_is "$dir/TW.dbc" <(crlf 'From: a friend' '' Hello) Mailboxes Inbox 1
  rm -f "$small_disk/filler"
  quietly "$kit" setup.exe /quiet "/log=$quiet_log"
  check "with room made, the update: exit code 0" exit_code_is 0
  check "nothing of the update's own is left" no_update_files "$dir"
  settle
  unmount_small_disk
}

scenario_title_stays_put() { echo "an update stays where it is: /dir= elsewhere exits 2"; }
scenario_stays_put() {
  clear_installations
  quietly "$kit" setup.exe /quiet "/dir=$quiet_folder" "/address=$address" "/host=$host"
  check "installed: exit code 0" exit_code_is 0
  quietly "$kit" setup.exe /quiet '/dir=C:\Elsewhere' "/log=$quiet_log"
  check "/dir= elsewhere: exit code 2" exit_code_is 2
  check "the log names both folders" log_has_match "^Invalid path: Tarnwhistle is installed in C:\\\\Quiet Tarn, and /dir= names C:\\\\Elsewhere\."
  check "no folder was made" test ! -e "$(unix_path 'C:\Elsewhere')"
  check "the record still names the installation" reg_value 'HKCU\Software\Tarnwhistle' AppDir REG_SZ "$quiet_folder"
}

# close_on_start_page WHAT SECONDS: the started setup wizard opens on its Start page within
# SECONDS, is closed there and ends with exit code 6.
close_on_start_page() {
  act "$1: the setup wizard opens" wait --window "$SETUP" --showing "Destination Folder" --timeout "$2" || return
  act "closes it on the Start page" close --window "$SETUP"
  act "the wizard closes" gone --window "$SETUP" --timeout 20
  wait "$app_pid"
  code=$?
  check "$1: exit code 6, cancelled" exit_code_is 6
}

scenario_title_bare_words() { echo "words that are no switches: the wizard opens; with /quiet, exit 2"; }
scenario_bare_words() {
  clear_installations
  local args
  for args in "/u" "x -u"; do
    # shellcheck disable=SC2086
    start "$kit" setup.exe $args "/log=$quiet_log"
    close_on_start_page "setup.exe $args" 90 || return
  done
  check "the log records what was ignored" log_has "ignored: unknown switch: /u"
  check "and the word" log_has "ignored: unknown switch: x"
  quietly "$kit" setup.exe /quiet /u
  check "setup.exe /quiet /u: exit code 2" exit_code_is 2
  check "nothing is installed" nothing_installed
}

waits_unseen() { ! drive wait --window "$SETUP" --timeout 4 && kill -0 "$app_pid"; }

scenario_title_held_run() { echo "a wizard started while a quiet run works waits for it, then opens"; }
scenario_held_run() {
  clear_installations
  hold_run || { fail "the holder did not start"; return; }
  start "$kit" setup.exe
  check "while the run is held, no wizard and no exit" waits_unseen
  release_file
  close_on_start_page "once the run ends, setup.exe" 60
}
