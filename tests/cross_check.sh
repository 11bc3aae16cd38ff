#!/bin/bash
# Cross-builds the static tool for a Debian architecture, runs it under
# qemu-user and compares it with the native build:
#
#   cross_check.sh NATIVE_BUILD ARCH     ARCH: arm64 armhf i386 ppc64el s390x riscv64
#
# 1. the command-line and batch test tables (the native test program drives
#    the cross-built tool through qemu);
# 2. every table up to N = 30 and 3000 random ones up to N = 50000, both
#    tails, through --batch in one process. The "%10.6f" output and the exit
#    status must be byte-identical to the native build's everywhere.
#    --precise writes every bit of the sum, and so shows the last bit of the
#    C library's exp and log, which the tool takes as the platform gives
#    them. glibc's exp rounds differently in rare cases where its code is
#    built with fused multiply-add (x86-64 on CPUs with FMA, arm64, ppc64el,
#    s390x, riscv64) and without (armhf, x86-64 on CPUs without FMA), and
#    i386 has x87 code of its own. So --precise must be byte-identical to
#    the native build run the same way: as it is for the FMA architectures
#    (where this CPU has FMA), with glibc told to leave FMA aside for armhf;
#    on i386 the differing lines are counted and reported.
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

# Which native run --precise must equal (none: count the differences).
no_fma=glibc.cpu.hwcaps=-FMA,-AVX2
case $arch in
  armhf) reference=native-bp-nofma tunables=$no_fma ;;
  i386) reference= tunables= ;;
  *) tunables=
     if grep -qw fma /proc/cpuinfo; then reference=native-bp; else reference=; fi ;;
esac

skip=Batch.LinesAreTheSingleRunsWithLineEnds  # a process per table: native only
[ -n "$reference" ] || skip+=:Batch.Precise*
GLIBC_TUNABLES=$tunables FISHER2X2_RUNNER=$qemu FISHER2X2_TOOL=$tool \
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
lines=$(wc -l <"$work/tables")
# The native build, as it runs here and without FMA in the C library.
"$native/fisher2x2" -bp "$work/tables" >"$work/native-bp" || true
GLIBC_TUNABLES=$no_fma "$native/fisher2x2" -bp "$work/tables" >"$work/native-bp-nofma" || true

for mode in -b -bp; do
  native_status=0 cross_status=0
  "$native/fisher2x2" $mode "$work/tables" >"$work/native" || native_status=$?
  "$qemu" "$tool" $mode "$work/tables" >"$work/cross" || cross_status=$?
  [ "$native_status" = "$cross_status" ] || { echo "$mode: status $cross_status, native $native_status"; exit 1; }
  if [ "$mode" = -b ]; then
    cmp "$work/native" "$work/cross"
    echo "$mode: $lines lines byte-identical to x86-64"
    continue
  fi
  differ=$(paste -d'|' "$work/native" "$work/cross" | awk -F'|' '$1 != $2' | wc -l)
  if [ -n "$reference" ]; then
    cmp "$work/$reference" "$work/cross"
    echo "$mode: $lines lines byte-identical to x86-64 $([ "$reference" = native-bp ] && echo as it runs here || echo without FMA); $differ differ from x86-64 as it runs here"
  else
    echo "$mode: $differ of $lines lines differ from x86-64 as it runs here, in the last digits (the C library's log and exp)"
  fi
done
