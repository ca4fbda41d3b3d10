# The scenarios of the end-to-end run; sourced by run-e2e.sh, whose helpers they use.
# Each acts through the driver and checks the outcome from outside the program.

SETUP="Tarnwhistle Setup"
UNINSTALL="Un-Install Wizard"
NOTICE="Tarnwhistle Uninstall"
BOX="Tarnwhistle"  # the caption of the questions, the wait dialogs and the client's window
TAB=$'\t'

install_folder='C:\Programs\Tarn whistle'
address='Jo Tester <jo@example.net>'
host='smtp.example.net'

expected_message() {  # expected_message ADDRESS HOST
  crlf "Fcc: outbox" "Host: $2" "From: $1" "Chain: *,*,*,*; copies=1" "To: " "Subject: " "" "~~"
}

# The article's lines, but for its fifth, the gateway's address, which is the installer's.
article_fits() {  # article_fits DB ADDRESS HOST
  "$twdb" get "$1" default article >"$run_dir/article.out" 2>>"$log" || return 1
  local lines
  mapfile -t lines < <(tr -d '\r' <"$run_dir/article.out")
  [ ${#lines[@]} -eq 10 ] && [ "${lines[0]}" = "Fcc: outbox" ] && [ "${lines[1]}" = "Host: $3" ] &&
    [ "${lines[2]}" = "From: $2" ] && [ "${lines[3]}" = "Chain: *,*,*,*; copies=1" ] &&
    [[ ${lines[4]} =~ ^To:\ [^@\ ]+@[^@\ ]+$ ]] && [ "${lines[5]}" = "X-No-Archive: Yes" ] &&
    [ "${lines[6]}" = "Newsgroups: " ] && [ "${lines[7]}" = "Subject: " ] &&
    [ -z "${lines[8]}" ] && [ "${lines[9]}" = "~~" ] &&
    [ "$(tail -c 2 "$run_dir/article.out" | od -An -c | tr -d ' ')" = '\r\n' ]
}

# ---------------------------------------------------------------------------------------
# The setup wizard, walked from the Start page to the Done page.

# walk_setup FOLDER ADDRESS HOST GROUP(on|off) RUN(on|off) SHOTS(yes|no)
walk_setup() {
  local folder=$1 addr=$2 mailhost=$3 group=$4 run=$5 photos=$6
  photo() { [ "$photos" = yes ] && shot "$1"; return 0; }
  start "$kit" setup.exe
  act "setup.exe from the kit opens on the Start page" \
    wait --window "$SETUP" --showing "Destination Folder" --timeout 90 || return 1
  photo setup-start
  [ "$photos" = yes ] && about_box "$SETUP" "Tarnwhistle Setup  .9b2"
  act "types the destination folder" type --window "$SETUP" "Destination Folder" "$folder" || return 1
  act "program group: $group" tick --window "$SETUP" "Create Program Group" "$group" || return 1
  act "Next" click --window "$SETUP" Next || return 1
  act "the Address page" wait --window "$SETUP" --showing "E-Address & Mail Server" || return 1
  photo setup-address
  act "types the address" type --window "$SETUP" "Your Address" "$addr" || return 1
  act "types the SMTP host" type --window "$SETUP" "SMTP Host" "$mailhost" || return 1
  act "Next" click --window "$SETUP" Next || return 1
  review_and_install "$folder" "$addr" "$mailhost" "$group" "$run" "$photos"
}

# From the Review page on: the listing, Install, the countdown, the Done page, Exit.
review_and_install() {
  local folder=$1 addr=$2 mailhost=$3 group=$4 run=$5 photos=$6
  photo() { [ "$photos" = yes ] && shot "$1"; return 0; }
  act "the Review page" wait --window "$SETUP" --showing "Review Setup" || return 1
  photo setup-review
  local yes_no=no
  [ "$group" = on ] && yes_no=yes
  check "the listing names folder, address, host and group" \
    shows_all "$SETUP" "Folder = $folder" "Address = $addr" "MailHost = $mailhost" \
    "ProgramGroup = $yes_no"
  act "Install" click --window "$SETUP" Install || return 1
  act "the question \"Install now?\"" wait --window "$BOX" --showing "Install now?" || return 1
  photo setup-install-now
  act "OK" answer --window "$BOX" --showing "Install now?" OK || return 1
  act "the countdown" wait --window "$BOX" --showing "...installing tarnwhistle..." --timeout 10
  photo setup-countdown
  act "the Done page" wait --window "$SETUP" --showing "Installation complete!" --timeout 60 || return 1
  photo setup-done
  act "Run Tarnwhistle: $run" tick --window "$SETUP" "Run Tarnwhistle" "$run" || return 1
  act "Exit" click --window "$SETUP" Exit || return 1
  act "the wizard closes" gone --window "$SETUP" --timeout 20 || return 1
  program_ends
}

# The About item of the system menu (command 4096) and its box.
about_box() {  # about_box WINDOW FIRST-LINE
  act "About... from the system menu" syscommand --window "$1" 4096 || return 1
  act "the About box" wait --window "About..." || return 1
  shot about
  check "the About box names the program and its version" shows_all "About..." "$2"
  act "OK" answer --window "About..." OK
}

shows_all() {  # shows_all WINDOW TEXT...: the window shows every text
  local window=$1 text; shift
  drive dump --window "$window" --timeout 5 || return 1
  for text in "$@"; do grep -qF -- "$text" <<<"$driven" || { echo "missing: $text"; return 1; }; done
}

# ---------------------------------------------------------------------------------------
# Outcome checks of an installation

check_installed_files() {  # check_installed_files UNIX-FOLDER
  local dir=$1 f
  check "the installation folder holds the kit, UninstTW.exe and TW.dbc, and no setup.exe" \
    diff <(printf '%s\n' License.txt QuickStart.rtf ReadMe.txt TW.dbc TW.exe TW.ini UninstTW.exe) \
         <(names_in "$dir" | sort)
  for f in License.txt QuickStart.rtf ReadMe.txt TW.exe TW.ini; do
    check "$f is the kit's" cmp "$kit/$f" "$dir/$f"
  done
  check "UninstTW.exe is the kit's setup.exe" cmp "$kit/setup.exe" "$dir/UninstTW.exe"
  check "TW.dbc is a sound database (twdb check)" "$twdb" check "$dir/TW.dbc"
}

check_registry_record() {  # check_registry_record WINDOWS-FOLDER STATE POS
  local key='HKCU\Software\Tarnwhistle'
  check "AppDir (REG_SZ)" reg_value "$key" AppDir REG_SZ "$1"
  check "Version (REG_SZ) from the kit's template" reg_value "$key" Version REG_SZ "$(
    "$twdb" get-setting "$kit/TW.ini" Version)"
  check "Program Group (REG_SZ)" reg_value "$key" "Program Group" REG_SZ Tarnwhistle
  check "WindowState (REG_DWORD) $2" reg_value "$key" WindowState REG_DWORD "$2"
  check "WindowPos (REG_SZ) $3" reg_value "$key" WindowPos REG_SZ "$3"
  check "Update (REG_DWORD) 1" reg_value "$key" Update REG_DWORD 0x1
}

lnk_field() {  # lnk_field FILE FIELD: the field's value in lnkinfo's report
  lnkinfo "$1" >"$run_dir/lnk.out" 2>&1 || return 1
  cat "$run_dir/lnk.out" >>"$log"
  sed -n "s/^[[:space:]]*$2[[:space:]]*:[[:space:]]*//p" "$run_dir/lnk.out" | head -n 1
}
# link_is GROUP-DIR LINK-NAME TARGET DESCRIPTION: the link starts TARGET (lower-cased
# path) in its folder (with the closing backslash), shows its icon, and has the description.
link_is() {
  local file target=${3,,}
  file=$(find "$1" -maxdepth 1 -iname "$2" -print -quit)
  [ -n "$file" ] || { echo "no link $2"; return 1; }
  field_is "$file" 'Local path' "$target" && field_is "$file" Description "$4" exact &&
    field_is "$file" 'Working directory' "${target%\\*}\\" && field_is "$file" 'Icon location' "$target"
}
field_is() {  # field_is LINK FIELD VALUE [exact]: paths compare without regard to case
  local value
  value=$(lnk_field "$1" "$2")
  [ "${4:-}" = exact ] || value=${value,,}
  [ "$value" = "$3" ] || { echo "$2: \"$value\", expected \"$3\""; return 1; }
}

group_dir() { echo "$(unix_path "$(programs_folder)")/Tarnwhistle"; }

check_program_group() {  # check_program_group WINDOWS-FOLDER
  local group d=$1
  group=$(unix_path "$(programs_folder)\\Tarnwhistle")
  check "the group folder holds exactly the five links" \
    diff <(printf '%s\n' license.lnk quickstart.lnk readme.lnk tarnwhistle.lnk 'uninstall tw.lnk') \
         <(ls "$group" | tr 'A-Z' 'a-z' | sort)
  check "License.LNK" link_is "$group" License.LNK "$d\\License.txt" License
  check "Tarnwhistle.LNK" link_is "$group" Tarnwhistle.LNK "$d\\TW.exe" Tarnwhistle
  check "Uninstall TW.LNK" link_is "$group" "Uninstall TW.LNK" "$d\\UninstTW.exe" "Uninstall Tarnwhistle"
  check "QuickStart.LNK" link_is "$group" QuickStart.LNK "$d\\QuickStart.rtf" "Quick Start"
  check "ReadMe.LNK" link_is "$group" ReadMe.LNK "$d\\ReadMe.txt" "Read Me"
}

check_default_entries() {  # check_default_entries DB ADDRESS HOST
  check "the default message, line by line" entry_is "$1" <(expected_message "$2" "$3") default message
  check "the default article, line by line" article_fits "$1" "$2" "$3"
}

# The stand-in client, started by the wizard's Exit: its window shows what setup recorded.
check_client_window() {  # check_client_window ADDRESS HOST WINDOWS-FOLDER
  act "the client's window opens" wait --window "$BOX" --showing "Folder: " --timeout 30 || return 1
  shot client
  check "the client shows the address, the host and its folder" \
    shows_all_in_client "From: $1" "Host: $2" "Folder: $3"
  act "closes the client" close --window "$BOX" --showing "Folder: "
  act "the client ends" gone --window "$BOX" --showing "Folder: " --timeout 20
}
shows_all_in_client() {
  drive dump --window "$BOX" --showing "Folder: " --timeout 5 || return 1
  local text
  for text in "$@"; do grep -qxF -- "Static${TAB}enabled${TAB}$text" <<<"$driven" || { echo "missing: $text"; return 1; }; done
}

# The shell window that a first installation opens on the group folder, which shows the
# folder's name in its address bar: it is there, and the user closes it.
close_group_window() {  # close_group_window [PHOTO]
  act "the group folder opens in a shell window" \
    wait --window "$BOX" --showing Tarnwhistle --timeout 20 || return 1
  [ -n "${1:-}" ] && shot "$1"
  act "closes the shell window" close --window "$BOX" --showing Tarnwhistle
  act "the shell window closes" gone --window "$BOX" --showing Tarnwhistle --timeout 10
}

# ---------------------------------------------------------------------------------------
# The uninstall wizard

# walk_uninstall DIR PROGRAM ARGS...: from its Start page to Review (listing checked by the
# caller), photographed.
open_uninstall() {
  start "$@"
  act "the uninstall wizard opens on its Start page" \
    wait --window "$UNINSTALL" --showing "Click 'Next' to continue" --timeout 90
}

finish_uninstall() {  # finish_uninstall NOTICE(yes|no) PHOTOS(yes|no) [HOME]
  local notice=$1 photos=$2 home=${3:-}
  photo() { [ "$photos" = yes ] && shot "$1"; return 0; }
  act "Finish" click --window "$UNINSTALL" Finish || return 1
  act "the question \"Uninstall now?\"" wait --window "$BOX" --showing "Uninstall now?" || return 1
  photo uninstall-now
  act "OK" answer --window "$BOX" --showing "Uninstall now?" OK || return 1
  act "the countdown" wait --window "$BOX" --showing "...uninstalling software..." --timeout 10
  photo uninstall-countdown
  if [ "$notice" = yes ]; then
    act "the notice" wait --window "$NOTICE" --showing "VERY IMPORTANT" --timeout 60 || return 1
    photo uninstall-notice
    check "the notice offers to open the home" shows_all "$NOTICE" "Open : $home"
    act "Ok" click --window "$NOTICE" Ok || return 1
  fi
  act "the run ends" wait --window "$UNINSTALL" --showing "Un-Installation complete!" --timeout 60 || return 1
  if [ "$notice" = no ]; then
    check "no notice after a run without the client" drive gone --window "$NOTICE" --showing "VERY IMPORTANT" --timeout 1
  fi
  photo uninstall-finish
}

close_uninstall() {
  act "Exit" click --window "$UNINSTALL" Exit || return 1
  act "the uninstall wizard closes" gone --window "$UNINSTALL" --timeout 20 || return 1
  program_ends
}

# A Mixmaster installation as Mixmaster's own installer leaves it: its key with "MixDir",
# program files and a "pool" folder with queued messages.
make_mixmaster() {  # make_mixmaster WINDOWS-FOLDER
  local dir
  reg_add 'HKCU\Software\Mixmaster' /v MixDir /t REG_SZ /d "$1"
  dir=$WINEPREFIX/drive_c/${1#C:\\}
  dir=${dir//\\//}
  mkdir -p "$dir/pool"
  echo "mix" >"$dir/mix.exe"
  echo "[mix]" >"$dir/mix.cfg"
  echo "queued" >"$dir/pool/m1234"
  echo "queued" >"$dir/pool/m5678"
}

# ---------------------------------------------------------------------------------------

scenario_title_1() { echo "first installation from the kit"; }
scenario_1() {
  walk_setup "$install_folder" "$address" "$host" on on yes || return
  local dir
  dir=$(unix_path "$install_folder")
  check_client_window "$address" "$host" "$install_folder"
  close_group_window group-window
  check_installed_files "$dir"
  check_registry_record "$install_folder" 0x0 "-1,-1,565,350"
  check_program_group "$install_folder"
  check_default_entries "$dir/TW.dbc" "$address" "$host"
}

scenario_title_2() { echo "a second run of setup.exe over the installation"; }
scenario_2() {
  local dir key='HKCU\Software\Tarnwhistle'
  dir=$(unix_path "$install_folder")
  step "the client changes its window and the user's mail arrives"
  reg_add "$key" /v WindowState /t REG_DWORD /d 2
  reg_add "$key" /v WindowPos /t REG_SZ /d "12,34,700,500"
  printf 'From: a friend\r\n\r\nHello\r\n' | "$twdb" put "$dir/TW.dbc" Mailboxes Inbox 1 2>>"$log"
  "$twdb" set-setting "$dir/TW.dbc" FontName Arial 2>>"$log"
  start "$kit" setup.exe
  act "setup.exe opens on the Review page" wait --window "$SETUP" --showing "Review Setup" --timeout 90 || return
  review_and_install "$install_folder" "$address" "$host" on off yes
  check "an update opens no shell window" drive gone --window "$BOX" --showing Tarnwhistle --timeout 1
  check "WindowState keeps the client's value" reg_value "$key" WindowState REG_DWORD 0x2
  check "WindowPos keeps the client's value" reg_value "$key" WindowPos REG_SZ "12,34,700,500"
  check "Update is 1" reg_value "$key" Update REG_DWORD 0x1
  check "AppDir" reg_value "$key" AppDir REG_SZ "$install_folder"
  check "the mail in the database survives" entry_is "$dir/TW.dbc" <(crlf 'From: a friend' '' Hello) Mailboxes Inbox 1
  check "the client's setting survives" test "$("$twdb" get-setting "$dir/TW.dbc" FontName)" = Arial
  check_default_entries "$dir/TW.dbc" "$address" "$host"
  check "TW.dbc is a sound database (twdb check)" "$twdb" check "$dir/TW.dbc"
  check_program_group "$install_folder"
}

scenario_title_3() { echo "UninstTW.exe started from the installation folder"; }
scenario_3() {
  local dir group home
  dir=$(unix_path "$install_folder")
  group=$(unix_path "$(programs_folder)\\Tarnwhistle")
  home=$(tr 'A-Z' 'a-z' <<<"$install_folder")
  open_uninstall "$dir" UninstTW.exe || return
  shot uninstall-start
  about_box "$UNINSTALL" "Tarnwhistle Uninstall  .9b2"
  act "Next" click --window "$UNINSTALL" Next || return
  act "the Options page" wait --window "$UNINSTALL" --showing "Select Items For Removal" || return
  shot uninstall-options
  check "Tarnwhistle is offered with its home, Mixmaster is not installed" shows_all "$UNINSTALL" \
    "enabled,checked${TAB}Tarnwhistle  { $home }" "disabled${TAB}Mixmaster    { not installed }"
  act "Next" click --window "$UNINSTALL" Next || return
  act "the Review page" wait --window "$UNINSTALL" --showing "Review Un-installation" || return
  shot uninstall-review
  check "the review lists the choice" shows_all "$UNINSTALL" "Tarnwhistle = YES" "Mixmaster = NO"
  finish_uninstall yes yes "$home\\" || return
  check "the log of the run" shows_all "$UNINSTALL" "Removing Tarnwhistle...\\n   program group...done\\n   program files...done\\n   registry key...done\\nDone!"
  close_uninstall
  check "the database stays, and nothing else: the uninstaller removed itself" \
    diff <(echo TW.dbc) <(names_in "$dir")
  check "the database is untouched and sound" "$twdb" check "$dir/TW.dbc"
  check "the group folder is gone" test ! -e "$group"
  check "the registry key is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
}

scenario_title_4() { echo "Mixmaster removed alone, and together with the client"; }
scenario_4() {
  reg_delete 'HKCU\Software\Tarnwhistle'
  make_mixmaster 'C:\Mix'
  open_uninstall "$kit" setup.exe -u || return
  act "Next" click --window "$UNINSTALL" Next || return
  act "the Options page" wait --window "$UNINSTALL" --showing "Select Items For Removal" || return
  shot uninstall-mix-options
  check "Mixmaster is offered with its home, the client is not installed" shows_all "$UNINSTALL" \
    "enabled,checked${TAB}Mixmaster    { c:\\mix }" "disabled${TAB}Tarnwhistle  { not installed }"
  act "Next" click --window "$UNINSTALL" Next || return
  check "the review lists the choice" shows_all "$UNINSTALL" "Tarnwhistle = NO" "Mixmaster = YES"
  finish_uninstall no yes || return
  check "the log of the run" shows_all "$UNINSTALL" "Removing Mixmaster...\\n   program files...done\\n   registry key...done\\nDone!"
  close_uninstall
  check "Mixmaster's home is gone with its pool" test ! -e "$WINEPREFIX/drive_c/Mix"
  check "Mixmaster's key is gone" reg_absent_key 'HKCU\Software\Mixmaster'

  step "now both: the client installed by setup, Mixmaster beside it"
  local folder='C:\Programs\TW Two' dir home
  walk_setup "$folder" "$address" "$host" on off no || return
  close_group_window
  dir=$(unix_path "$folder")
  home=$(tr 'A-Z' 'a-z' <<<"$folder")
  make_mixmaster 'C:\Mix'
  open_uninstall "$dir" UninstTW.exe || return
  act "Next" click --window "$UNINSTALL" Next || return
  check "both are offered" shows_all "$UNINSTALL" \
    "enabled,checked${TAB}Mixmaster    { c:\\mix }" "enabled,checked${TAB}Tarnwhistle  { $home }"
  act "Next" click --window "$UNINSTALL" Next || return
  check "the review lists both" shows_all "$UNINSTALL" "Tarnwhistle = YES" "Mixmaster = YES"
  finish_uninstall yes no "$home\\" || return
  shot uninstall-both-finish
  check "the log of the run, the client first" shows_all "$UNINSTALL" "Removing Tarnwhistle...\\n   program group...done\\n   program files...done\\n   registry key...done\\nRemoving Mixmaster...\\n   program files...done\\n   registry key...done\\nDone!"
  close_uninstall
  check "Mixmaster's home is gone" test ! -e "$WINEPREFIX/drive_c/Mix"
  check "Mixmaster's key is gone" reg_absent_key 'HKCU\Software\Mixmaster'
  check "the client's key is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
  check "the client's database stays, nothing else: the uninstaller removed itself" \
    diff <(echo TW.dbc) <(names_in "$dir")
  check "the group folder is gone" test ! -e "$(unix_path "$(programs_folder)\\Tarnwhistle")"
}

# Cancel, and Yes to the question whether to quit: the wizard closes.
cancel_and_quit() {  # cancel_and_quit WINDOW QUESTION
  act "Cancel" click --window "$1" Cancel
  act "Yes" answer --window "$BOX" --showing "$2" Yes
  act "the wizard closes" gone --window "$1" --timeout 10
  program_ends
}

# On a page that asks before closing: the close box, No (the page stays), then Cancel and
# Yes. The question is photographed.
quit_after_no() {  # quit_after_no WINDOW PAGE-TEXT QUESTION PHOTO
  local window=$1 page=$2 question=$3
  act "close box" close --window "$window"
  act "the question \"$question\"" wait --window "$BOX" --showing "$question" || return 1
  shot "$4"
  act "No" answer --window "$BOX" --showing "$question" No
  check "the wizard stays on its page" drive wait --window "$window" --showing "$page" --timeout 5
  cancel_and_quit "$window" "$question"
}

# On the Review page: Cancel at the confirmation, then OK and Cancel in the countdown with
# Yes to "Cancel process?"; the wizard stays on Review each time, and then quits.
cancel_run_then_quit() {  # cancel_run_then_quit WINDOW BUTTON CONFIRMATION PAGE-TEXT QUESTION PHOTO
  local window=$1 button=$2 confirmation=$3 page=$4 question=$5
  act "$button" click --window "$window" "$button"
  act "Cancel at \"$confirmation\"" answer --window "$BOX" --showing "$confirmation" Cancel
  check "the wizard stays on Review" drive wait --window "$window" --showing "$page" --timeout 5
  act "$button" click --window "$window" "$button"
  act "OK at \"$confirmation\"" answer --window "$BOX" --showing "$confirmation" OK
  act "Cancel in the countdown" click --window "$BOX" --showing Cancel Cancel
  act "the question \"Cancel process?\"" wait --window "$BOX" --showing "Cancel process?"
  shot "$6"
  act "Yes" answer --window "$BOX" --showing "Cancel process?" Yes
  check "the wizard stays on Review" drive wait --window "$window" --showing "$page" --timeout 5
  cancel_and_quit "$window" "$question"
}

close_on_first_page() {  # close_on_first_page WINDOW
  act "close box on the Start page" close --window "$1"
  act "the wizard closes without a question" gone --window "$1" --timeout 10
  program_ends
}

open_setup() {
  start "$kit" setup.exe
  act "setup.exe opens" wait --window "$SETUP" --showing "Destination Folder" --timeout 90
}

scenario_title_5() { echo "closing on every page and cancelling change nothing"; }
scenario_5() {
  reg_delete 'HKCU\Software\Tarnwhistle'  # setup opens on its Start page
  make_mixmaster 'C:\Mix'
  local before=$run_dir/state-before.txt after=$run_dir/state-after.txt
  snapshot "$before"
  local setup_quit="Quit without installing Tarnwhistle?" uninstall_quit="Quit without removing Tarnwhistle?"

  step "setup: closed on the Start page"
  open_setup || return
  close_on_first_page "$SETUP"

  step "setup: closed on the Address page"
  open_setup || return
  act "Next" click --window "$SETUP" Next
  quit_after_no "$SETUP" "E-Address & Mail Server" "$setup_quit" setup-quit-question

  step "setup: cancelled on the Review page"
  open_setup || return
  act "Next" click --window "$SETUP" Next
  act "types the address" type --window "$SETUP" "Your Address" "$address"
  act "types the SMTP host" type --window "$SETUP" "SMTP Host" "$host"
  act "Next" click --window "$SETUP" Next
  act "the Review page" wait --window "$SETUP" --showing "Review Setup"
  cancel_run_then_quit "$SETUP" Install "Install now?" "Review Setup" "$setup_quit" setup-cancel-process

  step "uninstall: closed on the Start page"
  open_uninstall "$kit" setup.exe -u || return
  close_on_first_page "$UNINSTALL"

  step "uninstall: closed on the Options page"
  open_uninstall "$kit" setup.exe -u || return
  act "Next" click --window "$UNINSTALL" Next
  quit_after_no "$UNINSTALL" "Select Items For Removal" "$uninstall_quit" uninstall-quit-question

  step "uninstall: cancelled on the Review page"
  open_uninstall "$kit" setup.exe -u || return
  act "Next" click --window "$UNINSTALL" Next
  act "Next" click --window "$UNINSTALL" Next
  act "the Review page" wait --window "$UNINSTALL" --showing "Review Un-installation"
  cancel_run_then_quit "$UNINSTALL" Finish "Uninstall now?" "Review Un-installation" \
    "$uninstall_quit" uninstall-cancel-process

  snapshot "$after"
  check "the registry and the files are as before" diff "$before" "$after"
}

# ---------------------------------------------------------------------------------------
# The user's database through layouts of the two homes that compare wrongly as text.

# The user's mail arrives in the database, and the files that lie beside it at times: the
# encrypted database, its backup, and the store's journal of a write that did not finish.
# Copies of the three go to the run's folder.
add_user_mail() {  # add_user_mail UNIX-FOLDER
  local dir=$1 f
  printf 'From: a friend\r\n\r\nHello\r\n' | "$twdb" put "$dir/TW.dbc" Mailboxes Inbox 1 2>>"$log"
  echo "encrypted" >"$dir/tw.pgp"
  echo "backup" >"$dir/tw.pgp.bak"
  echo "journal" >"$dir/TW.dbc-journal"
  for f in tw.pgp tw.pgp.bak TW.dbc-journal; do cp "$dir/$f" "$run_dir/kept-$f"; done
}

check_user_database_kept() {  # check_user_database_kept UNIX-FOLDER
  local dir=$1 f
  for f in tw.pgp tw.pgp.bak TW.dbc-journal; do
    check "$f stays as it was" cmp "$run_dir/kept-$f" "$dir/$f"
  done
  check "the mail in the database survives" entry_is "$dir/TW.dbc" <(crlf 'From: a friend' '' Hello) Mailboxes Inbox 1
  check "the database is sound" "$twdb" check "$dir/TW.dbc"
  check "nothing else of the client stays, the uninstaller neither" bash -c \
    '[ -z "$(ls "$1" | grep -vxE "TW.dbc|tw.pgp|tw.pgp.bak|TW.dbc-journal")" ]' _ "$dir"
}

scenario_title_6() { echo "the client's home inside Mixmaster's pool"; }
scenario_6() {
  reg_delete 'HKCU\Software\Tarnwhistle'
  reg_delete 'HKCU\Software\Mixmaster'
  local folder='C:\Mix\pool\TW' dir home
  walk_setup "$folder" "$address" "$host" off off no || return
  make_mixmaster 'C:\Mix'
  dir=$(unix_path "$folder")
  home=$(tr 'A-Z' 'a-z' <<<"$folder")
  add_user_mail "$dir"
  open_uninstall "$dir" UninstTW.exe || return
  act "Next" click --window "$UNINSTALL" Next || return
  act "the Options page" wait --window "$UNINSTALL" --showing "Select Items For Removal" || return
  shot uninstall-pool-options
  check "both are offered" shows_all "$UNINSTALL" \
    "enabled,checked${TAB}Mixmaster    { c:\\mix }" "enabled,checked${TAB}Tarnwhistle  { $home }"
  act "Next" click --window "$UNINSTALL" Next || return
  check "the review lists both" shows_all "$UNINSTALL" "Tarnwhistle = YES" "Mixmaster = YES"
  finish_uninstall yes yes "$home\\" || return
  check "the log of the run, Mixmaster first" shows_all "$UNINSTALL" "Removing Mixmaster...\\n   program files...done\\n   registry key...done\\nRemoving Tarnwhistle...\\n   program group...done\\n   program files...done\\n   registry key...done\\nDone!"
  close_uninstall
  check_user_database_kept "$dir"
  check "Mixmaster's files and queued messages are gone" bash -c \
    '[ ! -e "$1/mix.exe" ] && [ ! -e "$1/mix.cfg" ] && [ ! -e "$1/pool/m1234" ] && [ ! -e "$1/pool/m5678" ]' \
    _ "$WINEPREFIX/drive_c/Mix"
  check "Mixmaster's key is gone" reg_absent_key 'HKCU\Software\Mixmaster'
  check "the client's key is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
}

scenario_title_7() { echo "one home under two spellings"; }
scenario_7() {
  reg_delete 'HKCU\Software\Tarnwhistle'
  reg_delete 'HKCU\Software\Mixmaster'
  local folder='C:\Programs\Shared' dir home mixdir
  walk_setup "$folder" "$address" "$host" off off no || return
  dir=$(unix_path "$folder")
  add_user_mail "$dir"
  step "Mixmaster shares the folder: its record names it through Wine's drive Z:, the client's through \"..\""
  mixdir="Z:${dir//\//\\}"
  reg_add 'HKCU\Software\Mixmaster' /v MixDir /t REG_SZ /d "$mixdir"
  reg_add 'HKCU\Software\Tarnwhistle' /v AppDir /t REG_SZ /d 'C:\Programs\Other\..\Shared'
  echo "mix" >"$dir/mix.exe"
  mkdir -p "$dir/pool"
  echo "queued" >"$dir/pool/m1234"
  home='c:\programs\other\..\shared'
  open_uninstall "$dir" UninstTW.exe || return
  act "Next" click --window "$UNINSTALL" Next || return
  act "the Options page" wait --window "$UNINSTALL" --showing "Select Items For Removal" || return
  shot uninstall-spelled-options
  check "one home: Mixmaster's box is tied to the client's" shows_all "$UNINSTALL" \
    "disabled,checked${TAB}Mixmaster    { ${mixdir,,} }" "enabled,checked${TAB}Tarnwhistle  { $home }"
  act "unticks Tarnwhistle" tick --window "$UNINSTALL" "Tarnwhistle  { $home }" off || return
  check "Mixmaster's box comes free" shows_all "$UNINSTALL" "enabled,checked${TAB}Mixmaster    { ${mixdir,,} }"
  act "ticks Tarnwhistle again" tick --window "$UNINSTALL" "Tarnwhistle  { $home }" on || return
  act "Next" click --window "$UNINSTALL" Next || return
  check "the review lists both" shows_all "$UNINSTALL" "Tarnwhistle = YES" "Mixmaster = YES"
  finish_uninstall yes yes "$home\\" || return
  check "the log of the run, the client first" shows_all "$UNINSTALL" "Removing Tarnwhistle...\\n   program group...done\\n   program files...done\\n   registry key...done\\nRemoving Mixmaster...\\n   program files...done\\n   registry key...done\\nDone!"
  close_uninstall
  check_user_database_kept "$dir"
  check "Mixmaster's files and pool are gone" bash -c '[ ! -e "$1/mix.exe" ] && [ ! -e "$1/pool" ]' _ "$dir"
  check "Mixmaster's key is gone" reg_absent_key 'HKCU\Software\Mixmaster'
  check "the client's key is gone" reg_absent_key 'HKCU\Software\Tarnwhistle'
}

# ---------------------------------------------------------------------------------------
# Updates over the user's own files

# installed_from FOLDER: a fresh installation into FOLDER (no group, no client started),
# over a removed record, so that setup.exe opens on its Start page.
installed_from() {
  reg_delete 'HKCU\Software\Tarnwhistle'
  walk_setup "$1" "$address" "$host" off off no
}

# The names in an index, one a line (twdb ls).
index_names() {  # index_names DB COMPONENT...
  "$twdb" ls "$@" 2>>"$log" | cut -f1
}
# twice DB NAME COMPONENT...: the index holds NAME twice.
twice() {
  local db=$1 name=$2; shift 2
  [ "$(index_names "$db" "$@" | grep -cxF -- "$name")" -eq 2 ]
}
# None of the folder's files is read-only as Windows sees it: Wine keeps the attribute as
# a file without write permission.
none_read_only() { [ -z "$(find "$1" -type f ! -perm -u+w)" ]; }

scenario_title_kit_database() {
  echo "an update from a used, read-only kit that holds a database and keys, started elsewhere"
}
scenario_kit_database() {
  local folder='C:\Programs\TW Kit' dir used=$run_dir/used-kit elsewhere=$run_dir/elsewhere
  installed_from "$folder" || return
  dir=$(unix_path "$folder")
  step "the user's mail and key backup arrive; the client once ran in a copy of the kit"
  printf 'From: a friend\r\n\r\nHello\r\n' | "$twdb" put "$dir/TW.dbc" Mailboxes Inbox 1 2>>"$log"
  echo "the user's key backup" >"$dir/TW.pgp.bak"
  rm -rf "$used" "$elsewhere"
  cp -r "$kit" "$used"
  echo "kit's own" | "$twdb" put "$used/TW.dbc" Notes 1 2>>"$log"
  echo "the kit's keys" >"$used/tw.PGP"
  echo "the kit's key backup" >"$used/tw.pgp.bak"
  echo "Second edition." >>"$used/ReadMe.txt"
  chmod a-w "$used"/*  # as on a CD
  mkdir -p "$elsewhere"
  echo "not part of the kit" >"$elsewhere/decoy.txt"
  step "setup.exe of that kit started with another current folder"
  start "$elsewhere" "$used/setup.exe"
  act "setup.exe opens on the Review page" wait --window "$SETUP" --showing "Review Setup" --timeout 90 || return
  review_and_install "$folder" "$address" "$host" off off no
  check "the user's mail survives" entry_is "$dir/TW.dbc" <(crlf 'From: a friend' '' Hello) Mailboxes Inbox 1
  check "nothing of the kit's database arrived" bash -c '! "$1" get "$2" Notes 1' _ "$twdb" "$dir/TW.dbc"
  check "the kit's keys did not arrive" bash -c '[ -z "$(ls "$1" | grep -ixF tw.pgp)" ]' _ "$dir"
  check "the user's key backup is untouched" test "$(cat "$dir/TW.pgp.bak")" = "the user's key backup"
  check "the kit came from the installer's folder" cmp "$used/ReadMe.txt" "$dir/ReadMe.txt"
  check "nothing came from the current folder" test ! -e "$dir/decoy.txt"
  check "no installed file is read-only" none_read_only "$dir"
  check_default_entries "$dir/TW.dbc" "$address" "$host"
  chmod -R u+w "$used"
}

scenario_title_client_namesakes() {
  echo "an update of a database where the client's mailbox move left two entries of one name"
}
scenario_client_namesakes() {
  local folder='C:\Programs\TW Moved' dir db
  installed_from "$folder" || return
  dir=$(unix_path "$folder")
  db=$dir/TW.dbc
  step "mail in two mailboxes; the client moves Inbox into Saved, appending without a look"
  printf 'Subject: kept\r\n\r\nfirst in Saved\r\n' | "$twdb" put "$db" Mailboxes Saved 1 2>>"$log"
  printf 'Subject: moved\r\n\r\nfrom the Inbox\r\n' | "$twdb" put "$db" Mailboxes Inbox 1 2>>"$log"
  check "the client's move succeeds" "$client_move" "$db" Inbox Saved
  check "Saved holds the name 1 twice" twice "$db" 1 Mailboxes Saved
  check "twdb check finds no damage and lists the hidden entry" \
    bash -c '"$1" check "$2" >"$3" && grep -q "Saved.*1" "$3"' _ "$twdb" "$db" "$run_dir/check.out"
  start "$kit" setup.exe
  act "setup.exe opens on the Review page" wait --window "$SETUP" --showing "Review Setup" --timeout 90 || return
  # The listing's address and host are read from the database.
  review_and_install "$folder" "$address" "$host" off off no
  check_default_entries "$db" "$address" "$host"
  check "both entries named 1 are kept" twice "$db" 1 Mailboxes Saved
  check "the first reads" entry_is "$db" <(crlf 'Subject: kept' '' 'first in Saved') Mailboxes Saved 1
  check "twdb check finds no damage" "$twdb" check "$db"
  step "the first of the two is deleted"
  "$twdb" rm "$db" Mailboxes Saved 1 2>>"$log"
  check "the hidden one reads again" entry_is "$db" <(crlf 'Subject: moved' '' 'from the Inbox') Mailboxes Saved 1
}
