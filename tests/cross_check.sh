#!/bin/bash
# Compares a cross-built tool, run through an emulator, with the native one:
#   cross_check.sh NATIVE_BUILD CROSS_BUILD RUNNER [MAX_N_BINARY]
# 1. the command-line test table against the cross-built binary;
# 2. the binary itself, one process per run, on every table up to
#    MAX_N_BINARY (default 10) for both tails: stdout bytes and status;
# 3. the sweep driver (the tool's main in one process) on every table up to
#    N = 30 and 2000 random tables up to N = 50000, for both tails.
set -euo pipefail
native=$1 cross=$2 runner=$3 max_n=${4:-10}

echo "== command-line table on the cross-built tool"
FISHER2X2_RUNNER=$runner FISHER2X2_TOOL=$cross/fisher2x2 \
  "$native/tests/command_line_tests" --gtest_brief=1

echo "== every table up to N = $max_n, one process per run"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((n = 0; n <= max_n; n++)); do
  for ((x = 0; x <= n; x++)); do
    for ((y = 0; x + y <= n; y++)); do
      for ((z = 0; x + y + z <= n; z++)); do
        echo "$x $y $z $((n - x - y - z)) 1"
        echo "$x $y $z $((n - x - y - z)) 2"
      done
    done
  done
done >"$work/tables"
# One run: the command (runner and tool) in $0, the five arguments after it.
one_run='out=$($0 $1 $2 $3 $4 $5); echo "$1 $2 $3 $4 $5 [$out] $?"'
xargs -P 2 -L 1 bash -c "$one_run" "$native/fisher2x2" <"$work/tables" | sort >"$work/native"
xargs -P 2 -L 1 bash -c "$one_run" "$runner $cross/fisher2x2" <"$work/tables" | sort >"$work/cross"
diff "$work/native" "$work/cross"
echo "identical: $(wc -l <"$work/native") runs"

echo "== sweep: every table up to N = 30 and 2000 random ones, both tails"
"$native/fisher2x2_sweep" 30 2000 >"$work/native_sweep"
$runner "$cross/fisher2x2_sweep" 30 2000 >"$work/cross_sweep"
diff "$work/native_sweep" "$work/cross_sweep"
echo "identical: $(tail -1 "$work/native_sweep")"
