# Sourced by the hardening tests: setup.exe's wizard under Wine, driven by the end-to-end
# driver. Needs: wine_run, driver, work (a folder for the driver's output).

# drive ARGS...: one action of the driver; its output in $work/driver.out. The driver always
# says why it failed; a run that ends with no word of its own never got to act (Wine ended it
# before it started, or said "ShellExecuteEx failed"), so it is started again, twice at most.
drive() {
  local rc attempt
  for attempt in 1 2 3; do
    "$wine_run" "$driver" "$@" >"$work/driver.out" 2>&1
    rc=$?
    [ $rc -eq 0 ] && return 0
    [ -s "$work/driver.out" ] && ! grep -q '^ShellExecuteEx failed' "$work/driver.out" && return $rc
    echo "the driver did not start (exit code $rc): $(head -c 200 "$work/driver.out")" >&2
    sleep 1
  done
  return $rc
}

# open_wizard_and_about DIR EXE: starts EXE in DIR, waits for the wizard, opens the About box
# from the system menu, answers it and closes the wizard (saying Yes to the quit question
# that a wizard opened on an earlier installation asks); false when a step failed.
open_wizard_and_about() {
  local dir=$1 exe=$2
  (cd "$dir" && "$wine_run" "$exe") >"$work/setup.out" 2>&1 &
  local pid=$! result=0
  if drive wait --window "Tarnwhistle Setup" --timeout 60; then
    echo "the wizard opened"
    drive syscommand --window "Tarnwhistle Setup" 4096 &&
      drive wait --window "About..." --timeout 30 &&
      drive answer --window "About..." OK && echo "the About box showed: $(head -n 1 "$work/driver.out")" ||
      { echo "no About box: $(tail -n 1 "$work/driver.out")"; result=1; }
    drive close --window "Tarnwhistle Setup"
    drive answer --window "Tarnwhistle" --timeout 5 Yes || true
  else
    echo "the wizard did not open: $(tail -n 1 "$work/driver.out")"
    tr -d '\r' <"$work/setup.out" | tail -n 5
    result=1
  fi
  local waited=0
  while kill -0 $pid 2>/dev/null && [ $waited -lt 60 ]; do sleep 0.5; waited=$((waited + 1)); done
  if kill -0 $pid 2>/dev/null; then
    echo "setup.exe did not end after its wizard closed"
    kill $pid 2>/dev/null
    result=1
  fi
  wait $pid 2>/dev/null
  return $result
}
