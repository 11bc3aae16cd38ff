#!/bin/bash
# Writes the R package's source tarball, the C library's sources inside it:
#
#   r/build.sh             build-r/fisher2x2_VERSION.tar.gz
#   r/build.sh --install [R CMD INSTALL options]
#                          and installs it (into R's library, or -l DIR)
#
# The version is the C header's; the library's sources are copied from
# lib/ and include/ at each build, never kept in r/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-r
version=$(sed -n 's/^#define FISHER2X2_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' "$root/include/fisher2x2.h" | paste -sd.)
package=$out/fisher2x2
rm -rf "$package"
mkdir -p "$package/src"
cp -R "$root/r/R" "$root/r/man" "$root/r/inst" "$root/r/tests" "$root/r/NAMESPACE" "$root/r/LICENSE" \
  "$root/r/configure" "$root/r/cleanup" "$package/"
sed "s/@VERSION@/$version/" "$root/r/DESCRIPTION.in" >"$package/DESCRIPTION"
cp "$root/r/src/glue.cpp" "$package/src/"
cp -R "$root/lib" "$root/include" "$package/src/"
objects=$(cd "$package/src" && ls lib/*/*.cpp | sed 's/\.cpp$/.o/' | tr '\n' ' ')
sed "s|@LIBRARY_OBJECTS@|$objects|" "$root/r/src/Makevars.in" >"$package/src/Makevars.in"
(cd "$out" && R CMD build --no-manual fisher2x2 >/dev/null)
tarball=$out/fisher2x2_$version.tar.gz
echo "$tarball"
if [ "${1:-}" = --install ]; then
  shift
  R CMD INSTALL "$@" "$tarball"
fi
