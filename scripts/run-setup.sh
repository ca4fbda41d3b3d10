#!/usr/bin/env bash
# The main job: builds everything, puts the installer kit together and runs setup.exe from
# it under Wine. The shipped build is the 32-bit one; a machine that cannot run 32-bit
# programs runs the 64-bit build instead.
# - On the user's display the user walks the wizard.
# - With no display it installs from the kit and uninstalls again, as a user would, in a
#   virtual display and a scratch Wine prefix (the end-to-end scenarios 1 and 3): it prints
#   each step and check and where the screenshots are, and exits 0 only when every check
#   passed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
mkdir -p build
source scripts/build.sh
source scripts/wine-env.sh build

arch=$TW_WIN_ARCH
if [ "$arch" = i686 ]; then
  echo "building setup.exe (32-bit), the kit and the tools"
else
  echo "this machine cannot run 32-bit programs: building and running the 64-bit setup.exe"
fi
tw_build native -DCMAKE_BUILD_TYPE=Debug
tw_build "win-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
  -DTW_HOST_TWDB="$PWD/build/native/twdb/twdb"
kit=$PWD/build/win-$arch/dist/kit
echo "kit: $kit"
ls -l "$kit"

if [ -n "${DISPLAY:-}" ]; then
  tw_wine_prefix_ready
  # setup takes the kit from the folder it is started in.
  (cd "$kit" && tw_wine setup.exe >"$tw_build_root/setup-run.log" 2>&1)
  exit 0
fi

echo "no display: installing and uninstalling in a virtual display, as a user would"
TW_WIN_ARCH=$arch TW_E2E_WIN_BUILD="win-$arch" TW_E2E_NATIVE_BUILD=native \
  exec bash tests/e2e/run-e2e.sh 1 3
