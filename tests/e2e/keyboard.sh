# The keyboard-only runs, sourced by run-e2e.sh: a first installation, an update and a full
# removal with keys alone, typed by xdotool into the run's display as a user who cannot use
# a mouse types them. Between the keys the driver's probe ("focus") reads which control has
# the keyboard and what a screen reader is told about it; no click, no button message.

keys_folder='C:\Keys\Mail'

key() {  # key KEY...: the keys, one after another
  xdotool key --delay 60 "$@" >>"$log" 2>&1
  sleep 0.4
}
type_keys() {  # type_keys TEXT: types the text
  xdotool type --delay 20 -- "$1" >>"$log" 2>&1
  sleep 0.3
}

# focus_on WINDOW WHAT...: the keyboard goes to the window's program, and the control that
# has it shows each WHAT among the fields the probe reports ("name=Next", "label=Files",
# "selected", a class, a text).
focus_on() {
  local window=$1 what; shift
  drive focus --window "$window" --timeout 5 || return 1
  grep -q "${TAB}foreground\$" <<<"$driven" || { echo "not in the foreground: $driven"; return 1; }
  for what in "$@"; do
    grep -qF -- "${TAB}${what}" <<<"$driven" || { echo "no \"$what\" in: $driven"; return 1; }
  done
}

# tab_order WINDOW FIRST NEXT...: the focus is on FIRST, and Tab leads through the others
# and back to FIRST, then Shift+Tab back to the last; each a field focus_on looks for.
tab_order() {
  local window=$1 first=$2 what; shift 2
  focus_on "$window" "$first" || return 1
  for what in "$@" "$first"; do
    key Tab
    focus_on "$window" "$what" || return 1
  done
  [ $# -gt 0 ] || return 0
  key shift+Tab
  focus_on "$window" "${@: -1}"
  key Tab
}

# confirm_by_keys QUESTION MESSAGE: Enter asks the question and Enter answers OK; in the
# countdown that shows the message, Cancel has the keyboard once it can be pressed.
confirm_by_keys() {
  key Return
  act "Enter asks \"$1\"" wait --window "$BOX" --showing "$1" || return 1
  key Return
  act "the countdown" wait --window "$BOX" --showing "$2" --timeout 10 || return 1
  sleep 1.3
  check "the countdown's Cancel has the keyboard" focus_on "$BOX" "name=Cancel"
}

scenario_title_keyboard_install() { echo "a first installation with the keyboard alone"; }
scenario_keyboard_install() {
  reg_delete 'HKCU\Software\Tarnwhistle'
  reg_delete 'HKCU\Software\Mixmaster'
  mkdir -p "$WINEPREFIX/drive_c/Keys/Alpha" "$WINEPREFIX/drive_c/Keys/Mail"
  start "$kit" setup.exe
  act "setup.exe opens on the Start page" \
    wait --window "$SETUP" --showing "Destination Folder" --timeout 90 || return
  check "Start: on the destination, its text selected" \
    focus_on "$SETUP" "name=Destination Folder" "enabled,selected"
  check "Start: Tab leads through the folder, Browse, the group, Next and Cancel" \
    tab_order "$SETUP" "name=Destination Folder" "name=Browse" "name=Create Program Group" \
    "name=Next" "name=Cancel"
  step "types a folder below C:\\Keys, and Alt+R opens the picker"
  type_keys 'C:\Keys\Tarnwhistle'
  key alt+r
  act "the picker opens" wait --window "Select Directory" --timeout 10 || return
  check "the picker opens at C:\\Keys, the nearest folder there is, on its folder list" \
    focus_on "Select Directory" "label=Folders" "ListBox${TAB}enabled${TAB}Keys"
  check "the picker: Tab leads through the folders, the files, the drives, Ok and Cancel" \
    tab_order "Select Directory" "label=Folders" "label=Files" "label=Drives" "name=Ok" "name=Cancel"
  step "Down twice to Mail, Enter opens it, Enter again takes it"
  key Down Down
  check "the arrows move to Mail" focus_on "Select Directory" "ListBox${TAB}enabled${TAB}Mail"
  key Return Return
  act "the picker closes" gone --window "Select Directory" --timeout 10 || return
  check "the destination is the folder picked" shows_all "$SETUP" 'c:\keys\mail'
  check "back on Browse" focus_on "$SETUP" "name=Browse"
  step "Alt+N is Next"
  key alt+n
  act "the Address page" wait --window "$SETUP" --showing "E-Address & Mail Server" || return
  check "Address: on the address" focus_on "$SETUP" "name=Your Address"
  type_keys "$address"
  key Tab
  type_keys "$host"
  key Return
  act "the Review page" wait --window "$SETUP" --showing "Review Setup" || return
  check "Review: on Install; Tab leads through Cancel, the listing and Back" \
    tab_order "$SETUP" "name=Install" "name=Cancel" "name=Setup Configuration" "name=Back"
  confirm_by_keys "Install now?" "...installing tarnwhistle..." || return
  act "the Done page" wait --window "$SETUP" --showing "Installation complete!" --timeout 60 || return
  act "the group folder opens in a shell window" \
    wait --window "$BOX" --showing Tarnwhistle --timeout 20 || return
  shot keyboard-done
  check "Done: Exit has the keyboard, the group's window did not take it" \
    focus_on "$SETUP" "name=Exit"
  check "Done: Tab leads to the box and back to Exit" tab_order "$SETUP" "name=Exit" "name=Run Tarnwhistle"
  step "Tab, Space unticks Run Tarnwhistle, Esc is Exit"
  key Tab space Escape
  act "the wizard closes" gone --window "$SETUP" --timeout 20 || return
  program_ends
  check "no client was started" drive gone --window "$BOX" --showing "Folder: " --timeout 1
  act "closes the shell window" close --window "$BOX" --showing Tarnwhistle
  check "installed where the picker pointed" test -f "$(unix_path "$keys_folder")/UninstTW.exe"
  check "the database holds the address typed" \
    entry_is "$(unix_path "$keys_folder")/TW.dbc" <(expected_message "$address" "$host") default message
}

scenario_title_keyboard_update() { echo "an update with the keyboard alone"; }
scenario_keyboard_update() {
  start "$kit" setup.exe
  act "setup.exe opens on the Review page" wait --window "$SETUP" --showing "Review Setup" --timeout 90 || return
  check "Review: on Install" focus_on "$SETUP" "name=Install"
  confirm_by_keys "Install now?" "...installing tarnwhistle..." || return
  act "the Done page" wait --window "$SETUP" --showing "Installation complete!" --timeout 60 || return
  check "Done: on Exit" focus_on "$SETUP" "name=Exit"
  step "Alt+R unticks Run Tarnwhistle, Enter is Exit"
  key alt+r
  check "Alt+R moved to the box and unticked it" focus_on "$SETUP" "name=Run Tarnwhistle" "Button${TAB}enabled${TAB}"
  key Return
  act "the wizard closes" gone --window "$SETUP" --timeout 20 || return
  program_ends
  check "no client was started" drive gone --window "$BOX" --showing "Folder: " --timeout 1
  check "the record names the folder picked" \
    reg_value 'HKCU\Software\Tarnwhistle' AppDir REG_SZ "$(tr 'A-Z' 'a-z' <<<"$keys_folder")"
}

scenario_title_keyboard_removal() { echo "a full removal with the keyboard alone"; }
scenario_keyboard_removal() {
  local dir home
  dir=$(unix_path "$keys_folder")
  home=$(tr 'A-Z' 'a-z' <<<"$keys_folder")
  open_uninstall "$dir" UninstTW.exe || return
  check "Start: Next has the keyboard; Tab leads through Cancel and the explanation" \
    tab_order "$UNINSTALL" "name=Next" "name=Cancel" "label=Un-Install"
  key Return
  act "the Options page" wait --window "$UNINSTALL" --showing "Select Items For Removal" || return
  check "Options: on the client's box" focus_on "$UNINSTALL" "name=Tarnwhistle  { $home }"
  step "Enter on the box goes on"
  key Return
  act "the Review page" wait --window "$UNINSTALL" --showing "Review Un-installation" || return
  check "Review: on Finish" focus_on "$UNINSTALL" "name=Finish"
  confirm_by_keys "Uninstall now?" "...uninstalling software..." || return
  act "the notice" wait --window "$NOTICE" --showing "VERY IMPORTANT" --timeout 60 || return
  check "the notice: on Ok; Tab leads to Open and back" \
    tab_order "$NOTICE" "name=Ok" "name=Open : $home\\"
  key Return
  act "the run ends" wait --window "$UNINSTALL" --showing "Un-Installation complete!" --timeout 60 || return
  shot keyboard-finish
  check "Finish: Exit has the keyboard; Tab leads to the log and back" \
    tab_order "$UNINSTALL" "name=Exit" "label=Removal log:"
  step "Tab into the log, Esc leaves"
  key Tab Escape
  act "the uninstall wizard closes" gone --window "$UNINSTALL" --timeout 20 || return
  program_ends
  check "the client's key is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
  check "only the database stays" diff <(echo TW.dbc) <(names_in "$dir")
}
