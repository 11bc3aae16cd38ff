#!/bin/bash
# Under valgrind the dynamically linked tool allocates nothing and makes no
# memory error, on a valid table, counts out of range and a short command line.
# Exit 77 (skipped) where valgrind is missing.
tool=$1
command -v valgrind >/dev/null || { echo "valgrind not installed"; exit 77; }
status=0
for args in "3 1 1 3 2" "12500 12500 12500 12500 2" "-1 2 3 4 1" "1 2"; do
  log=$(valgrind --error-exitcode=99 "$tool" $args 2>&1 >/dev/null)
  if ! grep -q "total heap usage: 0 allocs" <<<"$log" ||
     ! grep -q "ERROR SUMMARY: 0 errors" <<<"$log"; then
    echo "FAIL: fisher2x2 $args"
    echo "$log"
    status=1
  else
    echo "ok: fisher2x2 $args: no allocation, no error"
  fi
done
exit $status
