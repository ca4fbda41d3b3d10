#!/usr/bin/env bash
# Builds the committed state twice, from two clones in two differently named temporary
# folders, and compares the Windows programs byte for byte: setup.exe, TW.exe and twdb.exe.
# Only committed changes count. Signing is switched off for both builds (a signature carries
# its own time).
# Usage: bash scripts/check-reproducible.sh [ARCH...]    (default: x86_64 i686)
# Exit status 0 when every program of every architecture came out the same both times.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86_64 i686)
unset TW_SIGN_CERT TW_SIGN_KEY TW_SIGN_TIMESTAMP_URL

work=$(mktemp -d "${TMPDIR:-/tmp}/tw-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
commit=$(git rev-parse HEAD)
echo "commit $commit"

# build DIR ARCH: a clone of the commit in DIR/src, built in DIR/src/build/ARCH.
build() {
  local dir=$1 arch=$2
  [ -d "$dir/src" ] || git clone --quiet --no-hardlinks "$root" "$dir/src" &&
    git -C "$dir/src" checkout --quiet "$commit" || return 1
  cmake -S "$dir/src" -B "$dir/src/build/$arch" -DTW_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake >"$dir/configure-$arch.log" 2>&1 &&
    cmake --build "$dir/src/build/$arch" -j"$(nproc)" --target setup twclient twdb \
      >"$dir/build-$arch.log" 2>&1 || { tail -n 30 "$dir/build-$arch.log"; return 1; }
}

failed=0
for arch in "${arches[@]}"; do
  # Folders whose names differ, in length too, so that a path that leaks shows.
  first=$work/first second=$work/second-build-folder
  mkdir -p "$first" "$second"
  echo "== $arch: building in $first and in $second"
  start=$SECONDS
  build "$first" "$arch" && build "$second" "$arch" || { echo "$arch: build failed"; failed=1; continue; }
  echo "built twice in $((SECONDS - start)) s"
  for program in program/setup.exe client/TW.exe twdb/twdb.exe; do
    a=$first/src/build/$arch/$program b=$second/src/build/$arch/$program
    if cmp -s "$a" "$b"; then
      echo "same: $program ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16))"
    else
      echo "DIFFERENT: $program"
      cmp -l "$a" "$b" | head -n 5
      failed=1
    fi
  done
done
[ $failed -eq 0 ] && echo "reproducible" || echo "NOT reproducible"
exit $failed
