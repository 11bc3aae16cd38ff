#!/bin/bash
# The static tool opens and reads no file of its own accord: strace records
# no open or read call in a single run on any path, and in batch mode no
# open but that of the file named, and reads of standard input or that file
# only. Exit 77 (skipped) where strace is missing.
tool=$1
command -v strace >/dev/null || { echo "strace not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trace=$work/trace
status=0
calls=open,openat,openat2,read,readv,pread64
for args in "3 1 1 3 2" "12500 12500 12500 12500 1" "-1 2 3 4 1" "1 2" "--help"; do
  if ! strace -f -qq -o "$trace" -e trace=$calls "$tool" $args >/dev/null 2>&1; then
    [ "$args" = "1 2" ] || { echo "FAIL: fisher2x2 $args did not run"; status=1; }
  fi
  if [ -s "$trace" ]; then
    echo "FAIL: fisher2x2 $args"; cat "$trace"; status=1
  else
    echo "ok: fisher2x2 $args: no file opened or read"
  fi
done

printf '3 1 1 3 2\n2 8 8 2 1\n' >"$work/tables"
strace -f -qq -o "$trace" -e trace=$calls "$tool" --batch <"$work/tables" >/dev/null 2>&1
if grep -q open "$trace" || grep -v '^[0-9]* *read(0,' "$trace" | grep -q .; then
  echo "FAIL: fisher2x2 --batch < tables"; cat "$trace"; status=1
else
  echo "ok: fisher2x2 --batch < tables: no file opened, standard input read"
fi
strace -f -qq -o "$trace" -e trace=$calls "$tool" --batch "$work/tables" >/dev/null 2>&1
opens=$(grep -c open "$trace")
fd=$(sed -n 's/.*open.* = \([0-9]*\)$/\1/p' "$trace")
if [ "$opens" != 1 ] || ! grep -q "open.*\"$work/tables\"" "$trace" ||
   grep -v -e open -e "^[0-9]* *read($fd," "$trace" | grep -q .; then
  echo "FAIL: fisher2x2 --batch FILE"; cat "$trace"; status=1
else
  echo "ok: fisher2x2 --batch FILE: FILE alone opened and read"
fi
exit $status
