#!/usr/bin/env bash
# Runs CTest in build/NAME; its output goes to build/NAME.ctest.log.
# Usage: ctest-in.sh NAME
cd "$(dirname "$0")/.."
(cd "build/$1" && ctest -j"$(nproc)" --output-on-failure --timeout 900) >"build/$1.ctest.log" 2>&1
