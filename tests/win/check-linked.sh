#!/bin/sh
# Reads the linker map of setup.exe and fails when a library object named below was linked:
# the standard library's exception classes and string instantiations (brought by its own
# throw helpers and by std::runtime_error), its iostreams and locales, and the C runtime's
# printf family. Together they cost setup.exe more than 100 KB of its size budget.
# Usage: check-linked.sh MAP
set -eu
map=$1

# "library(object)" for each archive member the linker took in.
members=$(sed -n '/^Archive member included/,/^\(Discarded input sections\|Memory Configuration\)/p' "$map" |
  sed -n 's#^[^ ]*/\([^/ ]*\.a\)(\([^)]*\)).*#\1(\2)#p' | sort -u)

forbidden='^libstdc\+\+\.a\((functexcept|functional|snprintf_lite|sso_string|cow-stdexcept|stdexcept|cxx11-stdexcept|(cow-)?w?string-inst|random)\.o\)$
^libstdc\+\+\.a\(.*(ios|locale|stream).*\)$
^libmingwex\.a\(.*(printf|pformat).*\)$'

# Still taken in through the store's error class (std::runtime_error) and its default
# reporter (fprintf) until they change. Each must really be there still: once it is gone it
# falls under the rule above.
pending='libstdc++.a(stdexcept.o)
libstdc++.a(cxx11-stdexcept.o)
libstdc++.a(cow-stdexcept.o)
libstdc++.a(sso_string.o)
libstdc++.a(cow-string-inst.o)
libstdc++.a(string-inst.o)
libstdc++.a(random.o)
libmingwex.a(lib32_libmingwex_a-mingw_vfprintf.o)
libmingwex.a(lib32_libmingwex_a-mingw_pformat.o)
libmingwex.a(lib64_libmingwex_a-mingw_vfprintf.o)
libmingwex.a(lib64_libmingwex_a-mingw_pformat.o)'

[ -n "$members" ] || { echo "no archive members in $map"; exit 1; }
status=0
linked=$(echo "$members" | grep -E "$forbidden" || true)
for member in $linked; do
  if echo "$pending" | grep -qxF "$member"; then
    echo "pending, taken in by the store: $member"
  else
    echo "linked although it must not be: $member"
    status=1
  fi
done
# The runtime's object names carry the build's word size.
case $members in *lib64_*) other=lib32_ ;; *) other=lib64_ ;; esac
for member in $pending; do
  case $member in *"$other"*) continue ;; esac
  if ! echo "$members" | grep -qxF "$member"; then
    echo "no longer linked: $member (take it off the pending list)"
    status=1
  fi
done
exit $status
