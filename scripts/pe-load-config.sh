#!/bin/sh
# Points the load-config directory of a linked Windows program at the program's own
# `_load_config_used` structure, and puts the header checksum right again. GNU ld 2.40
# leaves that directory empty whatever the program defines; later versions fill it the same
# way. The structure's address comes from the linker map (the program itself is stripped),
# its size from its own first field.
# Usage: pe-load-config.sh EXE MAP
set -eu
exe=$1 map=$2

# Unsigned little-endian integers of the file, and writing them back in place.
u16() { od -An -v -t u2 --endian=little -j "$1" -N 2 "$exe" | tr -d ' '; }
u32() { od -An -v -t u4 --endian=little -j "$1" -N 4 "$exe" | tr -d ' '; }
u64() { od -An -v -t u8 --endian=little -j "$1" -N 8 "$exe" | tr -d ' '; }
put32() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($2 & 255)) $(($2 >> 8 & 255)) \
    $(($2 >> 16 & 255)) $(($2 >> 24 & 255)))" |
    dd of="$exe" bs=1 seek="$1" count=4 conv=notrunc status=none
}
fail() { echo "pe-load-config.sh: $exe: $*" >&2; exit 1; }

pe=$(u32 60)
[ "$(u32 "$pe")" = 17744 ] || fail "not a PE file"  # "PE\0\0"
optional=$((pe + 24))
case $(u16 "$optional") in
  267) image_base=$(u32 $((optional + 28))); directories=$((optional + 96)) ;;  # PE32
  523) image_base=$(u64 $((optional + 24))); directories=$((optional + 112)) ;; # PE32+
  *) fail "unknown optional header" ;;
esac

# "0x<address>  _load_config_used" (with the 32-bit platform's extra underscore).
address=$(sed -n 's/^ *0x\([0-9a-f]*\) *_\{1,2\}load_config_used$/\1/p' "$map" | head -n 1)
[ -n "$address" ] || fail "no _load_config_used in $map"
rva=$((0x$address - image_base))

# The file offset of that address, through the section table.
sections=$(u16 $((pe + 6)))
table=$((optional + $(u16 $((pe + 20)))))
offset=""
i=0
while [ $i -lt "$sections" ]; do
  entry=$((table + 40 * i))
  start=$(u32 $((entry + 12))) length=$(u32 $((entry + 16))) raw=$(u32 $((entry + 20)))
  if [ $rva -ge "$start" ] && [ $rva -lt $((start + length)) ]; then
    offset=$((raw + rva - start))
  fi
  i=$((i + 1))
done
[ -n "$offset" ] || fail "_load_config_used lies in no section of the file"
size=$(u32 $offset)

load_config=$((directories + 8 * 10))
put32 $load_config $rva
put32 $((load_config + 4)) "$size"

# The checksum: the 16-bit words of the file, its own field left out, summed with the carry
# folded back in, plus the file's length.
field=$((optional + 64))
length=$(stat -c %s "$exe")
sum=$(od -An -v -t u2 --endian=little -w2 "$exe" | awk -v skip=$((field / 2)) '
  NR - 1 != skip && NR - 1 != skip + 1 { s += $1; if (s > 65535) s = s % 65536 + int(s / 65536) }
  END { print s }')
put32 $field $((sum + length))
