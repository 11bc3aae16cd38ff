#!/bin/bash
# A program built against 1.1's header runs with this library as it does
# built against this header: abi_check.sh OLD NEW (the two builds of
# library_abi.c). Only the version line may differ, as it is this library's.
set -euo pipefail
old=$("$1") new=$("$2")
if [ "$old" != "$new" ]; then
  diff <(echo "$old") <(echo "$new") || true
  echo "FAIL: the program built against 1.1's header sees other values"
  exit 1
fi
echo "$(grep -c . <<<"$new") lines alike: a program built against 1.1's header runs unchanged"
