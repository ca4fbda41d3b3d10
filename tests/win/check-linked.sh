#!/bin/sh
# Reads the linker map of setup.exe and fails when a library object named below was linked:
# the standard library's exception classes and string instantiations (brought by its own
# throw helpers and by std::runtime_error), its iostreams and locales, and the C runtime's
# printf family. Together they cost setup.exe more than 100 KB of its size budget. Nor may
# the exception machinery come back (throwing, catching, the unwinder, guarded statics,
# thread exits), which a program built without exceptions has no use for: some 70 KB more.
# Usage: check-linked.sh MAP
set -eu
map=$1

# "library(object)" for each archive member the linker took in.
members=$(sed -n '/^Archive member included/,/^\(Discarded input sections\|Memory Configuration\)/p' "$map" |
  sed -n 's#^[^ ]*/\([^/ ]*\.a\)(\([^)]*\)).*#\1(\2)#p' | sort -u)

forbidden='^libstdc\+\+\.a\((functexcept|functional|snprintf_lite|sso_string|cow-stdexcept|stdexcept|cxx11-stdexcept|(cow-)?w?string-inst|random)\.o\)$
^libstdc\+\+\.a\(.*(ios|locale|stream).*\)$
^libmingwex\.a\(.*(printf|pformat).*\)$
^libstdc\+\+\.a\((eh_.*|guard|guard_error|atexit_thread|new_op|new_opnt)\.o\)$
^libgcc_eh\.a\(.*\)$'

[ -n "$members" ] || { echo "no archive members in $map"; exit 1; }
linked=$(echo "$members" | grep -E "$forbidden" || true)
if [ -n "$linked" ]; then
  echo "linked although it must not be:"
  echo "$linked"
  exit 1
fi
echo "none of the library's exception, string, stream or printf machinery is linked"
