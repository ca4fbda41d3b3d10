# The end-to-end scenarios of setup and uninstall touching only what is Tarnwhistle's: the
# user's folders, links and other products stay whole (own_tools to own_reinstall).
# Sourced by run-e2e.sh after unattended.sh, whose helpers they use.

DOWNLOADS_ID='{374DE290-123F-4565-9164-39C4925E467B}'

# shell_folder NAME: the user's folder as the shell records it ("Personal", or the id of a
# known folder).
shell_folder() {
  reg_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v "$1"
  sed -n "s/^    $1    REG_SZ    //p" <<<"$queried"
}

# own_user_folder NAME: the user's folder, made a folder of the scratch prefix. Wine links
# Documents and Downloads to the Unix home, which the runs here must not write into.
own_user_folder() {
  local folder dir
  folder=$(shell_folder "$1")
  dir=$(unix_path "$folder")
  if [ -L "$dir" ]; then rm "$dir" && mkdir -p "$dir"; fi
  echo "$folder"
}

# windows_variable NAME: the variable as Windows programs of the prefix see it.
windows_variable() {
  tw_wine cmd /c echo "%$1%" >"$work/variable.out" 2>>"$log"
  tr -d '\r' <"$work/variable.out"
}

# tree_state DIR: every entry under DIR with its kind, and every file's checksum.
tree_state() {
  (cd "$1" && find . -printf '%y %p\n' | sort && find . -type f -exec md5sum {} + | sort -k 2)
}

installed_quietly() {
  clear_installations
  quietly "$kit" setup.exe /quiet "/dir=$quiet_folder" "/address=$address" "/host=$host"
  check "installed: exit code 0" exit_code_is 0
}

record_naming() {  # record_naming WINDOWS-FOLDER: the client's record and its Apps & features entry
  reg_add 'HKCU\Software\Tarnwhistle' /v AppDir /t REG_SZ /d "$1"
  reg_add "$UNINSTALL_KEY" /v DisplayName /t REG_SZ /d Tarnwhistle
}
records_stay() {  # records_stay WINDOWS-FOLDER
  check "the record stays" reg_value 'HKCU\Software\Tarnwhistle' AppDir REG_SZ "$1"
  check "the Apps & features entry stays" reg_query "$UNINSTALL_KEY"
}

scenario_title_own_tools() {
  echo "a folder of the user's files: refused by /dir= and the wizard; Browse adds \\Tarnwhistle"
}
scenario_own_tools() {
  clear_installations
  local tools='C:\Tools' dir kitcopy before=$run_dir/tools-before.txt
  dir=$(unix_path "$tools")
  rm -rf "$dir" && mkdir -p "$dir/sub"
  echo putty >"$dir/putty.exe"
  echo notes >"$dir/notes.txt"
  echo keep >"$dir/sub/a.txt"
  tree_state "$dir" >"$before"
  quietly "$kit" setup.exe /quiet "/dir=$tools" "/log=$quiet_log"
  check "/dir=C:\\Tools: exit code 2" exit_code_is 2
  check "the console says why" grep -qF "\"$tools\" already holds other files" "$work/quiet.err"
  check "the log ends with the exit code" log_has_match '^exit code 2: '

  step "the wizard, from a copy of the kit on C:, where its folder picker starts"
  kitcopy=$(unix_path 'C:\Kit')
  rm -rf "$kitcopy" && cp -r "$kit" "$kitcopy"
  start "$kitcopy" setup.exe
  act "setup.exe opens on the Start page" \
    wait --window "$SETUP" --showing "Destination Folder" --timeout 90 || return
  act "types C:\\Tools" type --window "$SETUP" "Destination Folder" "$tools"
  act "Next" click --window "$SETUP" Next
  act "the box names the folder" \
    wait --window "Invalid path" --showing "already holds other files" --timeout 10 || return
  shot setup-folder-of-other-files
  check "and says what to choose" shows_all "Invalid path" "such as C:\\Tools\\Tarnwhistle."
  act "OK" answer --window "Invalid path" OK
  check "the wizard stays on the Start page" drive wait --window "$SETUP" --showing "Destination Folder" --timeout 5
  act "Browse" click --window "$SETUP" Browse
  act "the folder picker" wait --window "Select Directory" --timeout 10 || return
  act "opens c:\\" open --window "Select Directory" 'c:\'
  act "opens Tools" open --window "Select Directory" Tools
  shot setup-browse-tools
  act "Ok" click --window "Select Directory" Ok
  act "the picker closes" gone --window "Select Directory" --timeout 10
  check "the destination is a folder of its own in C:\\Tools" shows_all "$SETUP" 'c:\tools\Tarnwhistle'
  close_on_first_page "$SETUP"
  check "C:\\Tools is as it was" diff "$before" <(tree_state "$dir")
  check "nothing was recorded" reg_absent_key 'HKCU\Software\Tarnwhistle'
  rm -rf "$kitcopy" "$dir"
}

scenario_title_own_downloads() { echo "Downloads: refused by setup, left alone by the uninstaller"; }
scenario_own_downloads() {
  clear_installations
  local downloads dir before=$run_dir/downloads-before.txt
  downloads=$(own_user_folder "$DOWNLOADS_ID")
  dir=$(unix_path "$downloads")
  echo "a download" >"$dir/installer.zip"
  tree_state "$dir" >"$before"
  quietly "$kit" setup.exe /quiet "/dir=$downloads"
  check "setup.exe /dir=Downloads: exit code 2" exit_code_is 2
  check "the console says why" grep -qF "is a user's profile or one of its folders" "$work/quiet.err"
  check "nothing came into Downloads" diff "$before" <(tree_state "$dir")

  step "an installation that an earlier setup made in Downloads"
  cp "$kit/TW.exe" "$kit/ReadMe.txt" "$dir/"
  cp "$kit/setup.exe" "$dir/UninstTW.exe"
  tree_state "$dir" >"$before"
  record_naming "$downloads"
  quietly "$kit" setup.exe -u /quiet "/log=$quiet_log"
  check "the uninstaller: exit code 1" exit_code_is 1
  check "the console says what stayed" \
    grep -qF "could not remove: $downloads\\ (cannot be a program's home)" "$work/quiet.err"
  check "every file in Downloads stays" diff "$before" <(tree_state "$dir")
  records_stay "$downloads"
  rm -f "$dir/installer.zip" "$dir/TW.exe" "$dir/ReadMe.txt" "$dir/UninstTW.exe"
}

scenario_title_own_letters() {
  echo "a record naming the user's letters: nothing deleted, quiet and wizard; exit 1, record kept"
}
scenario_own_letters() {
  clear_installations
  local letters dir f before=$run_dir/letters-before.txt
  letters="$(own_user_folder Personal)\\Letters"
  dir=$(unix_path "$letters")
  mkdir -p "$dir"
  for f in letter.doc notes.txt photo.jpg taxes.xls; do echo "the user's $f" >"$dir/$f"; done
  tree_state "$dir" >"$before"
  record_naming "$letters"
  quietly "$kit" setup.exe -u /quiet "/log=$quiet_log"
  check "quiet: exit code 1" exit_code_is 1
  check "the log says why nothing went" \
    log_has "   program files...left alone ($letters\\ holds no Tarnwhistle installation)"
  check "the log lists what stayed" log_has "Some items could not be removed:"
  check "the log ends with the exit code" log_has_match '^exit code 1: '
  check "the letters are untouched" diff "$before" <(tree_state "$dir")
  records_stay "$letters"

  step "the wizard"
  open_uninstall "$kit" setup.exe -u || return
  act "Next" click --window "$UNINSTALL" Next
  act "Next" click --window "$UNINSTALL" Next
  act "Finish" click --window "$UNINSTALL" Finish
  act "OK" answer --window "$BOX" --showing "Uninstall now?" OK
  act "the run ends incomplete" \
    wait --window "$UNINSTALL" --showing "Un-Installation incomplete" --timeout 60 || return
  shot uninstall-letters
  check "the Finish page lists what stayed" shows_all "$UNINSTALL" \
    "Some items could not be removed:" "$letters\\ (holds no Tarnwhistle installation)"
  check "no notice" drive gone --window "$NOTICE" --showing "VERY IMPORTANT" --timeout 1
  close_uninstall
  check "the letters are untouched" diff "$before" <(tree_state "$dir")
  records_stay "$letters"
  clear_installations
  rm -rf "$dir"
}

scenario_title_own_temp_link() {
  echo "a link in %TEMP% named as the uninstaller's copies: its target untouched"
}
scenario_own_temp_link() {
  local temp victim=$run_dir/victim link dir before=$run_dir/victim-before.txt
  temp=$(unix_path "$(windows_variable TEMP)")
  rm -rf "$victim" && mkdir -p "$victim/sub"
  echo keep >"$victim/keep.txt"
  echo keep >"$victim/sub/keep.txt"
  cp "$kit/setup.exe" "$victim/UninstTW.exe"
  link=$temp/Tarnwhistle-uninstall-999
  ln -sfn "$victim" "$link"
  tree_state "$victim" >"$before"
  installed_quietly
  dir=$(unix_path "$quiet_folder")
  quietly "$dir" UninstTW.exe /quiet
  check "the quiet removal: exit code 0" exit_code_is 0
  check "the copy worked in a new folder of its own, named unguessably" \
    test -n "$(find "$temp" -maxdepth 1 -type d -name 'Tarnwhistle-uninstall-{*}')"
  sleep 2  # the copy's clean-up
  quietly "$kit" setup.exe -u /quiet
  check "the next run, which sweeps the copies' folders: exit code 3" exit_code_is 3
  check "the copy's folder is gone" test -z "$(find "$temp" -maxdepth 1 -name 'Tarnwhistle-uninstall-{*}')"
  check "the link's target is untouched" diff "$before" <(tree_state "$victim")
  check "the link is left as it was" test -L "$link"
  rm -f "$link"
}

scenario_title_own_mix_dbc() { echo "Mixmaster's home holding TW.dbc after the client's removal: TW.dbc kept"; }
scenario_own_mix_dbc() {
  clear_installations
  local dir=$WINEPREFIX/drive_c/Mix
  make_mixmaster 'C:\Mix'
  cp "$kit/TW.ini" "$dir/TW.dbc"
  printf 'From: a friend\r\n\r\nHello\r\n' | "$twdb" put "$dir/TW.dbc" Mailboxes Inbox 1 2>>"$log"
  cp "$dir/TW.dbc" "$run_dir/mix-TW.dbc"
  quietly "$kit" setup.exe -u /quiet /mixmaster
  check "exit code 0" exit_code_is 0
  check "TW.dbc is kept whole" cmp "$run_dir/mix-TW.dbc" "$dir/TW.dbc"
  check "the mail in it survives" entry_is "$dir/TW.dbc" <(crlf 'From: a friend' '' Hello) Mailboxes Inbox 1
  check "Mixmaster's files and pool are gone" \
    bash -c '[ ! -e "$1/mix.exe" ] && [ ! -e "$1/mix.cfg" ] && [ ! -e "$1/pool" ]' _ "$dir"
  check "Mixmaster's key is gone" reg_absent_key 'HKCU\Software\Mixmaster'
  rm -rf "$dir"
}

scenario_title_own_apps_features() { echo "the Apps & features quiet uninstall removes Tarnwhistle only"; }
scenario_own_apps_features() {
  installed_quietly
  make_mixmaster 'C:\Mix'
  reg_query "$UNINSTALL_KEY" /v QuietUninstallString
  local command program
  command=$(sed -n 's/^    QuietUninstallString    REG_SZ    //p' <<<"$queried")
  program=${command#\"}
  program=${program%%\"*}
  # As Settings runs it: the program, then the switches after it.
  # shellcheck disable=SC2086
  quietly "$kit" "$program" ${command#*\" }
  check "exit code 0" exit_code_is 0
  check "Tarnwhistle is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
  check "Mixmaster stays installed: its key" reg_value 'HKCU\Software\Mixmaster' MixDir REG_SZ 'C:\Mix'
  check "and its files" test -e "$WINEPREFIX/drive_c/Mix/mix.exe" -a -e "$WINEPREFIX/drive_c/Mix/pool/m1234"
  clear_installations
}

scenario_title_own_reinstall() { echo "uninstall, then install at once, in one script"; }
scenario_own_reinstall() {
  installed_quietly
  local dir codes=$work/script-codes.txt
  dir=$(unix_path "$quiet_folder")
  step "one script: UninstTW.exe /quiet /client, and at once setup.exe /quiet"
  : >"$codes"
  (cd "$dir" && tw_wine UninstTW.exe /quiet /client) >>"$work/programs.log" 2>&1
  echo "uninstall $?" >>"$codes"
  (cd "$kit" && tw_wine setup.exe /quiet "/dir=$quiet_folder" "/address=$address" "/host=$host") \
    >>"$work/programs.log" 2>&1
  echo "install $?" >>"$codes"
  check "exit codes 0 and 0" diff <(printf 'uninstall 0\ninstall 0\n') "$codes"
  sleep 3  # whatever the uninstaller's copy had left to do is long done
  check "UninstTW.exe is there, the kit's setup.exe" cmp "$kit/setup.exe" "$dir/UninstTW.exe"
  check_installed_files "$dir"
  check "the record names the folder" reg_value 'HKCU\Software\Tarnwhistle' AppDir REG_SZ "$quiet_folder"
  clear_installations
}
