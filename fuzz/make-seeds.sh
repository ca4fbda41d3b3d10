#!/usr/bin/env bash
# Rebuilds the seed corpus in fuzz/corpus: sound databases written with twdb, and damaged
# copies patched at offsets that `twdb dump` reports.
# Usage: fuzz/make-seeds.sh PATH_TO_TWDB
set -euo pipefail
twdb=$(realpath "${1:?path to the twdb program}")
corpus=$(cd "$(dirname "$0")" && pwd)/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# int32 VALUE...: the values as 32-bit little-endian integers on standard output.
int32() {
  local v
  for v in "$@"; do
    v=$(( v & 0xFFFFFFFF ))
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) \
      $((v >> 16 & 255)) $((v >> 24 & 255)))"
  done
}

# put_int32 FILE OFFSET VALUE: writes VALUE as a 32-bit little-endian integer at OFFSET.
put_int32() { int32 "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# block_of / stored_of NAME: the block offset and stored length of the child NAME in the
# dump of nested.
block_of() { "$twdb" dump nested | awk -v n="$1" '$1 == n { print $4; exit }'; }
stored_of() { "$twdb" dump nested | awk -v n="$1" '$1 == n { print $8; exit }'; }

# A fresh file: the magic, no anchor block, end offset 46, an empty free list.
{ printf 'twdb1%s\n' "$(printf 'x%.0s' {1..32})"; int32 -1 46 0; } > fresh

"$twdb" set-setting settings Version 0.9b2

# Records stored plain (the form a failed compression leaves), so that mutations reach the
# index texts and child offsets directly: entry "a", and index "sub" holding entry "b".
{
  printf 'twdb1%s\n' "$(printf 'x%.0s' {1..32})"
  int32 50 148 8 119                        # anchor, end offset; anchor block -> root at 119
  int32 19; printf '\x02\0\0\0'; int32 3 3; printf 'x\r\n'          # 54: entry a at 58
  int32 18; printf '\x02\0\0\0'; int32 2 2; printf 'hi'               # 73: entry b at 77
  int32 24; printf '\x01\0\0\0'; int32 4 4; printf 'b\r\n\0'; int32 77  # 91: sub at 95
  int32 33; printf '\x01\0\0\0'; int32 9 9; printf 'a\r\nsub\r\n\0'; int32 58 95  # 115: root
  int32 0                                   # 148: empty free list
} > plain
"$twdb" check plain >/dev/null

# The client's moves and renames leave names that hide a child, which is no damage: root
# children "a", "A" and "" (entries), and index "sub" holding entries "b" and "B".
{
  printf 'twdb1%s\n' "$(printf 'x%.0s' {1..32})"
  int32 50 222 8 180                        # anchor, end offset; anchor block -> root at 180
  int32 19; printf '\x02\0\0\0'; int32 3 3; printf 'x\r\n'          # 54: entry a at 58
  int32 18; printf '\x02\0\0\0'; int32 2 2; printf 'hi'               # 73: entry A at 77
  int32 18; printf '\x02\0\0\0'; int32 2 2; printf 'mt'               # 91: entry "" at 95
  int32 18; printf '\x02\0\0\0'; int32 2 2; printf 'b1'               # 109: entry b at 113
  int32 18; printf '\x02\0\0\0'; int32 2 2; printf 'b2'               # 127: entry B at 131
  int32 31; printf '\x01\0\0\0'; int32 7 7; printf 'b\r\nB\r\n\0'; int32 113 131  # 145: sub
  int32 46; printf '\x01\0\0\0'; int32 14 14; printf 'a\r\nA\r\n\r\nsub\r\n\0'
  int32 58 77 95 149                        # 176: root at 180, its child offsets
  int32 0                                   # 222: empty free list
} > namesakes
"$twdb" check namesakes >/dev/null

printf 'Subject: hello\r\n\r\nfirst message\r\n' | "$twdb" put nested Mailboxes Inbox msg1
printf 'Subject: again\r\n\r\nsecond message\r\n' | "$twdb" put nested Mailboxes Inbox msg2
printf 'From: someone@example.org\r\n' | "$twdb" put nested default message
printf 'Newsgroups: alt.test\r\n' | "$twdb" put nested default article
"$twdb" set-setting nested Version 0.9b2
"$twdb" set-setting nested SMTPHost mail.example.org
head -c 700 /dev/zero | tr '\0' 'x' | "$twdb" put nested scratch
"$twdb" rm nested scratch
"$twdb" check nested >/dev/null

# Damaged copies of nested, one fault each.
head -c 120 nested > truncated
cp nested end-offset-past-file && put_int32 end-offset-past-file 42 100000
cp nested root-at-anchor && put_int32 root-at-anchor 50 50
mailboxes=$(block_of Mailboxes)
cp nested index-cycle
put_int32 index-cycle $((mailboxes + 12 + $(stored_of Mailboxes))) "$mailboxes"
end=$(od -An -t d4 -j 42 -N 4 nested | tr -d ' ')
cp nested free-extent-over-block
put_int32 free-extent-over-block $((end + 4)) $((mailboxes - 4))
msg1=$(block_of msg1)
cp nested bad-stream && printf '\xde\xad\xbe\xef' | dd of=bad-stream bs=1 seek=$((msg1 + 14)) conv=notrunc status=none
cp nested long-plain-length && put_int32 long-plain-length $((msg1 + 8)) 1000000000
printf 'not a database\n' > foreign

mkdir -p "$corpus"
cp fresh settings plain namesakes nested truncated end-offset-past-file root-at-anchor index-cycle \
  free-extent-over-block bad-stream long-plain-length foreign "$corpus/"
ls -l "$corpus"
