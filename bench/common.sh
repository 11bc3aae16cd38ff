# What the benchmark scripts share; sourced, it moves to the project's root.
#   need TOOL...        stops unless each tool is on the PATH
#   prepare TARGET...   builds the tool, make_mix and the targets in
#                       build-bench ($out), sets $tool, and a scratch
#                       directory $work, removed on exit
#   instructions CMD... the instructions callgrind counts for a run
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-bench

need() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null || { echo "$t is needed"; exit 1; }
  done
}

prepare() {
  cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DFISHER2X2_BENCH=ON >/dev/null
  cmake --build "$out" -j2 --target fisher2x2 make_mix "$@" >/dev/null
  tool=$(realpath "$out/fisher2x2")
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*refs: *//p' | tr -d ,
}
