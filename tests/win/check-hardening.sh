#!/bin/sh
# Reads a shipped Windows program's headers and checks its hardening:
# - the link time stamp is zero (reproducible builds);
# - the DLL characteristics: ASLR, DEP, terminal-server aware, and high-entropy ASLR on
#   64-bit;
# - no section is both writable and executable;
# - the load-config directory lies inside a section and points at a well-formed structure
#   (its Size field as the directory gives it, and large enough to hold DependentLoadFlags)
#   whose DependentLoadFlags are 0x800 (search System32 only);
# - the imports: SetDefaultDllDirectories from KERNEL32, and no LoadLibrary of any kind but
#   the 32-bit start-up's (see below);
# - no absolute folder of the build (the given source and build folders) in the file.
# Usage: check-hardening.sh OBJDUMP EXE [FOLDER...]
set -eu
objdump=$1 exe=$2
shift 2
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

u16() { od -An -v -t u2 --endian=little -j "$1" -N 2 "$exe" | tr -d ' '; }
u32() { od -An -v -t u4 --endian=little -j "$1" -N 4 "$exe" | tr -d ' '; }

echo "== $exe"
pe=$(u32 60)
[ "$(u32 "$pe")" = 17744 ] || { echo "not a PE file"; exit 1; }
optional=$((pe + 24))
case $(u16 "$optional") in
  267) bits=32 directories=$((optional + 96)) dependent_flags_at=54 ;;
  523) bits=64 directories=$((optional + 112)) dependent_flags_at=78 ;;
  *) echo "unknown optional header"; exit 1 ;;
esac

stamp=$(u32 $((pe + 8)))
[ "$stamp" = 0 ] && ok "time stamp 0" || fail "time stamp $stamp, not 0"

characteristics=$(u16 $((optional + 70)))
check_flag() {  # check_flag VALUE NAME
  [ $((characteristics & $1)) -ne 0 ] && ok "$2" || fail "$2 missing"
}
check_flag 0x40 DYNAMIC_BASE
check_flag 0x100 NX_COMPAT
check_flag 0x8000 TERMINAL_SERVER_AWARE
if [ $bits = 64 ]; then check_flag 0x20 HIGH_ENTROPY_VA; fi

# The sections: no writable and executable one; the file offset of the load configuration.
sections=$(u16 $((pe + 6)))
table=$((optional + $(u16 $((pe + 20)))))
load_config_rva=$(u32 $((directories + 80)))
load_config_size=$(u32 $((directories + 84)))
load_config_offset="" room=0 mixed=0
i=0
while [ $i -lt "$sections" ]; do
  entry=$((table + 40 * i))
  name=$(dd if="$exe" bs=1 skip=$entry count=8 status=none | tr -d '\0')
  start=$(u32 $((entry + 12))) length=$(u32 $((entry + 16))) raw=$(u32 $((entry + 20)))
  flags=$(u32 $((entry + 36)))
  if [ $((flags & 0x20000000)) -ne 0 ] && [ $((flags & 0x80000000)) -ne 0 ]; then
    fail "section $name is writable and executable"
    mixed=1
  fi
  if [ "$load_config_rva" -ge "$start" ] && [ "$load_config_rva" -lt $((start + length)) ]; then
    load_config_offset=$((raw + load_config_rva - start))
    room=$((start + length - load_config_rva))
  fi
  i=$((i + 1))
done
[ $mixed -ne 0 ] || ok "no writable and executable section among $sections"

if [ "$load_config_rva" = 0 ] || [ -z "$load_config_offset" ]; then
  fail "no load-config directory inside a section (RVA $load_config_rva)"
else
  size=$(u32 "$load_config_offset")
  if [ "$size" != "$load_config_size" ] || [ "$size" -gt "$room" ] ||
     [ "$size" -lt $((dependent_flags_at + 2)) ]; then
    fail "load configuration: Size $size, directory size $load_config_size, room $room"
  else
    ok "load configuration of $size bytes at RVA $load_config_rva"
  fi
  flags=$(u16 $((load_config_offset + dependent_flags_at)))
  [ "$flags" = 2048 ] && ok "DependentLoadFlags 0x800" || fail "DependentLoadFlags $flags, not 0x800 (2048)"
fi

imports=$("$objdump" -p "$exe" | sed -n '/^The Import Tables/,/^The Function Table\|^PE File Base Relocations/p')
echo "imports:"
echo "$imports" | sed -n 's/^[[:space:]]*DLL Name: /  /p' | tr '\n' ' '
echo
kernel32=$(echo "$imports" | sed -n '/DLL Name: KERNEL32.dll/,/DLL Name: /p')
echo "$kernel32" | grep -qw SetDefaultDllDirectories && ok "SetDefaultDllDirectories imported" ||
  fail "SetDefaultDllDirectories not imported from KERNEL32"
# The 32-bit compiler's start-up object (crtbegin.o) imports LoadLibraryA: it takes one more
# reference on libgcc_s_dw2-1.dll when that DLL is already loaded, and this program links
# libgcc statically, so it never is and nothing is searched. Nothing else may import it.
loaders=$(echo "$imports" | grep -oE '\<(LoadLibrary|LoadPackagedLibrary)[A-Za-z]*' | sort -u | tr '\n' ' ')
[ $bits = 32 ] && [ "$loaders" = "LoadLibraryA " ] && loaders=""
[ -z "$loaders" ] && ok "no LoadLibrary imported (but the 32-bit start-up's)" || fail "imports $loaders"

for folder in "$@"; do
  if grep -aqF "$folder" "$exe"; then fail "the build folder $folder appears in the file"; else ok "no $folder inside"; fi
done

[ $failures -eq 0 ]
