# Sourced: configure-and-build helpers shared by the scripts.
# tw_build NAME [CMAKE ARGS...]: configures build/NAME once and builds it.
tw_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tw_jobs=$(nproc)

tw_build() {
  local name=$1; shift
  local dir="$tw_root/build/$name"
  cmake -S "$tw_root" -B "$dir" "$@" >"$tw_root/build/$name.configure.log" 2>&1 \
    || { cat "$tw_root/build/$name.configure.log"; return 1; }
  cmake --build "$dir" -j"$tw_jobs" >"$tw_root/build/$name.build.log" 2>&1 \
    || { tail -n 60 "$tw_root/build/$name.build.log"; return 1; }
}

# Runs a command on the user's display, or inside a virtual one when there is none.
tw_with_display() {
  if [ -n "${DISPLAY:-}" ]; then "$@"; else xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; fi
}
