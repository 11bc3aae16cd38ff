#!/bin/bash
# The static tool opens and reads no file: strace records no open, openat or
# read call on any path of a run. Exit 77 (skipped) where strace is missing.
tool=$1
command -v strace >/dev/null || { echo "strace not installed"; exit 77; }
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT
status=0
for args in "3 1 1 3 2" "12500 12500 12500 12500 1" "-1 2 3 4 1" "1 2" "--help"; do
  if ! strace -f -qq -o "$trace" -e trace=open,openat,openat2,read,readv,pread64 \
       "$tool" $args >/dev/null 2>&1; then
    [ "$args" = "1 2" ] || { echo "FAIL: fisher2x2 $args did not run"; status=1; }
  fi
  if [ -s "$trace" ]; then
    echo "FAIL: fisher2x2 $args"; cat "$trace"; status=1
  else
    echo "ok: fisher2x2 $args: no file opened or read"
  fi
done
exit $status
