#!/usr/bin/env bash
# Installs, with apt-get, every Debian 12 package the build, the tests and the main job need.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  cmake g++ make clang libclang-rt-14-dev
  libgtest-dev googletest libbenchmark-dev zlib1g-dev libsqlite3-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  # both thread models: posix for the build and the tests, win32's runtime for the kit
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
  wine wine64 xvfb xauth fonts-wine liblnk-utils imagemagick xdotool
  osslsigncode openssl
)

missing=()
for p in "${packages[@]}" wine32:i386; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
