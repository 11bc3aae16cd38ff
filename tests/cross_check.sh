#!/bin/bash
# Cross-builds the static tool for a Debian architecture, runs it under
# qemu-user and compares it with the native build:
#
#   cross_check.sh NATIVE_BUILD ARCH     ARCH: arm64 armhf i386 ppc64el s390x riscv64
#
# 1. the command-line and batch test tables (the native test program drives
#    the cross-built tool through qemu);
# 2. every table up to N = 30, 3000 random ones up to N = 50000, 2000
#    random ones beyond, up to 2^63 - 1, and 100 of wide spreads (summed by
#    blocks), both tails, through --batch in one
#    process: the six decimals, --precise and --log10 must be byte-identical
#    to the native build's, and so must the exit status; and every field of
#    the whole test with each alternative on a sample of them. (The six decimals
#    up to 50000 use the C library's log and exp, whose last bit differs
#    between glibc's builds in rare cases; the accurate computation behind
#    the other formats uses IEEE operations alone.)
set -euo pipefail
native=$(realpath "$1") arch=$2
case $arch in
  arm64) triplet=aarch64-linux-gnu processor=aarch64 qemu=qemu-aarch64 ;;
  armhf) triplet=arm-linux-gnueabihf processor=arm qemu=qemu-arm ;;
  i386) triplet=i686-linux-gnu processor=i686 qemu=qemu-i386 ;;
  ppc64el) triplet=powerpc64le-linux-gnu processor=ppc64le qemu=qemu-ppc64le ;;
  s390x) triplet=s390x-linux-gnu processor=s390x qemu=qemu-s390x ;;
  riscv64) triplet=riscv64-linux-gnu processor=riscv64 qemu=qemu-riscv64 ;;
  *) echo "unknown architecture $arch"; exit 2 ;;
esac
cd "$(dirname "$0")/.."
cross=build-$arch
cmake -S . -B "$cross" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=$processor \
  -DCMAKE_C_COMPILER=$triplet-gcc -DCMAKE_CXX_COMPILER=$triplet-g++ >/dev/null
cmake --build "$cross" -j2 --target fisher2x2 >/dev/null
tool=$cross/fisher2x2
echo "== $arch: $(file -b "$tool" | cut -d, -f1-2)"
"$qemu" "$tool" 2 8 8 2 2 | grep -qx "  0.012054"

skip=Batch.LinesAreTheSingleRunsWithLineEnds  # a process per table: native only
FISHER2X2_RUNNER=$qemu FISHER2X2_TOOL=$tool \
  "$native/tests/command_line_tests" --gtest_brief=1 --gtest_filter="-$skip"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v random=3000 'BEGIN {
  for (n = 0; n <= 30; n++)
    for (a = 0; a <= n; a++)
      for (b = 0; a + b <= n; b++)
        for (c = 0; a + b + c <= n; c++)
          for (t = 1; t <= 2; t++) print a, b, c, n - a - b - c, t
  srand(20261209)
  for (i = 0; i < random; i++) {
    n = int(rand() * 50001); a = int(rand() * (n + 1)); b = int(rand() * (n - a + 1))
    c = int(rand() * (n - a - b + 1))
    # half of them near independence, where the walks are longest
    if (i % 2 == 0) { r1 = a + b; c1 = a + c; a = int(r1 * c1 / (n ? n : 1)); if (a > r1) a = r1
      if (a > c1) a = c1; if (a < c1 - (n - r1)) a = c1 - (n - r1); b = r1 - a; c = c1 - a }
    print a, b, c, n - a - b - c, 1 + i % 2
  }
}' >"$work/tables"
# Beyond 50000: totals spread over the whole range, half of them near
# independence. One row margin of at most 10^6 keeps the spread of the
# distribution, and so the walks, below a few thousand tables.
awk -v random=2000 'BEGIN {
  srand(20261210)
  for (i = 0; i < random; i++) {
    e = 4.7 + rand() * 14.2; n = int(10 ^ e); if (n < 50001) n = 50001
    r1 = 1 + int(rand() * (i % 3 ? 5000 : 1000000)); c1 = 1 + int(rand() * (n - 1))
    if (r1 >= n) r1 = n - 1; r2 = n - r1
    lo = c1 - r2; if (lo < 0) lo = 0; hi = (r1 < c1) ? r1 : c1
    a = (i % 2) ? int(r1 * (c1 / n)) : lo + int(rand() * (hi - lo + 1))
    if (a < lo) a = lo; if (a > hi) a = hi
    printf "%.0f %.0f %.0f %.0f %d\n", a, r1 - a, c1 - a, r2 - c1 + a, 1 + i % 2
  }
}' >>"$work/tables"
# Wide spreads, summed by blocks: balanced margins near independence, totals
# of 10^9 to 4 * 10^18.
awk -v random=100 'BEGIN {
  srand(20261211)
  for (i = 0; i < random; i++) {
    n = int(10 ^ (9 + rand() * 9.6)); r1 = int(n * (0.2 + 0.6 * rand())); c1 = int(n * (0.2 + 0.6 * rand()))
    a = int(r1 * (c1 / n) + (rand() * 8 - 4) * sqrt(n) / 4)
    printf "%.0f %.0f %.0f %.0f %d\n", a, r1 - a, c1 - a, n - r1 - c1 + a, 1 + i % 2
  }
}' >>"$work/tables"
lines=$(wc -l <"$work/tables")
# The whole test's fields, each alternative, on a sample of every kind: every
# table up to N = 12, and every 40th line of the others, four fields each.
awk 'NR <= 1820 || NR % 40 == 0 { print $1, $2, $3, $4 }' "$work/tables" >"$work/four"
fields=--fields=p,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high
for alternative in less greater two-sided; do
  for format in -b -bp -bl; do
    "$native/fisher2x2" "${format}a" "$alternative" "$fields" "$work/four" >"$work/native"
    "$qemu" "$tool" "${format}a" "$alternative" "$fields" "$work/four" >"$work/cross"
    cmp "$work/native" "$work/cross"
  done
done
echo "every field, three alternatives, three formats: $(wc -l <"$work/four") tables byte-identical to x86-64"
# The p-values under another null odds ratio: the noncentral sums.
for alternative in less two-sided; do
  for format in -bp -bl; do
    "$native/fisher2x2" "${format}a" "$alternative" --fields=p,mid-p,less,greater,two-sided,central \
      --null-or=2.5 <"$work/four" >"$work/native"
    "$qemu" "$tool" "${format}a" "$alternative" --fields=p,mid-p,less,greater,two-sided,central \
      --null-or=2.5 <"$work/four" >"$work/cross"
    cmp "$work/native" "$work/cross"
  done
done
echo "--null-or=2.5, two alternatives, two formats: byte-identical to x86-64"
# The stratified test: K from 1 to 300, small and large strata, mirror
# pairs, s at the ends; every field, both formats. (The native convolution
# runs 4-wide where the CPU has AVX2; the others run it plain.)
awk 'BEGIN {
  srand(20261212)
  for (i = 0; i < 240; i++) {
    kind = i % 6; k = kind == 2 ? 100 + int(rand() * 200) : 1 + int(rand() * 8); line = ""
    for (j = 0; j < k; j++) {
      m = kind == 1 ? 1000 : kind == 3 ? 10000 : kind == 2 ? 4 : 40
      a = int(rand() * m); b = int(rand() * m); c = int(rand() * m); d = int(rand() * m)
      if (kind == 4) { b += a; a = 0 }
      line = line (j ? " " : "") a " " b " " c " " d
      if (kind == 5) line = line " " c " " d " " a " " b
    }
    print line
  }
}' >"$work/strata"
for alternative in less two-sided; do
  for format in -bps -bls; do
    "$native/fisher2x2" "${format}a" "$alternative" --fields=p,mid-p,less,greater,two-sided,central,or,ci-low,ci-high,mh-or \
      "$work/strata" >"$work/native"
    "$qemu" "$tool" "${format}a" "$alternative" --fields=p,mid-p,less,greater,two-sided,central,or,ci-low,ci-high,mh-or \
      "$work/strata" >"$work/cross"
    cmp "$work/native" "$work/cross"
  done
done
echo "--strata, every field, two alternatives, two formats: $(wc -l <"$work/strata") tests byte-identical to x86-64"
for mode in -b -bp -bl; do
  native_status=0 cross_status=0
  "$native/fisher2x2" $mode "$work/tables" >"$work/native" || native_status=$?
  "$qemu" "$tool" $mode "$work/tables" >"$work/cross" || cross_status=$?
  [ "$native_status" = "$cross_status" ] || { echo "$mode: status $cross_status, native $native_status"; exit 1; }
  cmp "$work/native" "$work/cross"
  echo "$mode: $lines lines byte-identical to x86-64"
done
