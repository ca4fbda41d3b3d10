# Sourced by the scripts that run Windows programs: one Wine prefix per build folder and
# loader, created on first use, with no Mono or Gecko prompts and no debug chatter. Every
# Windows program, wineboot, wineserver and `wine reg` goes through scripts/wine-run.
# Usage: source scripts/wine-env.sh BUILD_ROOT
tw_build_root=$(realpath -m "${1:?build root}")
tw_wine_run=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-run
# The Windows build that runs here: i686 where 32-bit programs run, x86_64 where they don't.
TW_WIN_ARCH=$("$tw_wine_run" --arch)
# A prefix made by the 64-bit loader alone differs from one made through the 32-bit one.
if [ "$TW_WIN_ARCH" = i686 ]; then
  export WINEPREFIX="$tw_build_root/wineprefix"
else
  export WINEPREFIX="$tw_build_root/wineprefix64"
fi
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

tw_wine() { "$tw_wine_run" "$@"; }
tw_wineserver() { "$tw_wine_run" --server "$@"; }

tw_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.tw-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  # Wine's background processes keep pipes open: its output goes to a file.
  tw_wine wineboot --init >"$tw_build_root/wineboot.log" 2>&1 || true
  tw_wineserver -w
  # No window manager under Xvfb: let Wine draw its own title bars for the screenshots.
  tw_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >>"$tw_build_root/wineboot.log" 2>&1
  tw_wineserver -w
  touch "$WINEPREFIX/.tw-ready"
}
