# Sourced by the scripts that run Windows programs: one Wine prefix per build folder,
# created on first use, with no Mono or Gecko prompts and no debug chatter.
# Usage: source scripts/wine-env.sh BUILD_ROOT
tw_build_root=$(realpath -m "${1:?build root}")
export WINEPREFIX="$tw_build_root/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

tw_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.tw-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  # Wine's background processes keep pipes open: its output goes to a file.
  wineboot --init >"$tw_build_root/wineboot.log" 2>&1 || true
  wineserver -w
  # No window manager under Xvfb: let Wine draw its own title bars for the screenshots.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >>"$tw_build_root/wineboot.log" 2>&1
  wineserver -w
  touch "$WINEPREFIX/.tw-ready"
}
