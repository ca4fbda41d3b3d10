#!/usr/bin/env bash
# Runs CTest in build/NAME, with any further CTest arguments; its output goes to
# build/NAME.ctest.log.
# Usage: ctest-in.sh NAME [CTEST ARGS...]
cd "$(dirname "$0")/.."
name=$1; shift
(cd "build/$name" && ctest -j"$(nproc)" --output-on-failure --timeout 900 "$@") >"build/$name.ctest.log" 2>&1
