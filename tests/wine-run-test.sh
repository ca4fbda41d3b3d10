#!/bin/sh
# The choice of Wine loader: forced to the 64-bit loader it always answers x86_64; left to
# itself it answers i686 exactly where 32-bit Linux programs run and wine32 is installed.
# Usage: wine-run-test.sh PATH_OF_WINE_RUN
set -u
run=$1
forced=$(TW_WINE_64_ONLY=1 "$run" --arch)
[ "$forced" = x86_64 ] || { echo "forced choice: $forced"; exit 1; }
if /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]; then
  expected=i686
else
  expected=x86_64
fi
chosen=$(env -u TW_WINE_64_ONLY "$run" --arch)
[ "$chosen" = "$expected" ] || { echo "chose $chosen where $expected runs"; exit 1; }
echo "forced: $forced; chosen: $chosen"
