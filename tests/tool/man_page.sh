#!/bin/bash
# The manual page: lints clean, its examples print what it says, and it
# agrees with --help on the facts both state.
#   man_page.sh TOOL MAN_PAGE
tool=$1 page=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

if command -v groff >/dev/null; then
  lint=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$lint" ] || fail "groff warnings: $lint"
else
  echo "groff not installed: lint skipped"
fi

# Each example line "$ ..." is followed by its output, up to the next
# example or the end of the display.
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
ln -s "$(realpath "$tool")" "$bin/fisher2x2"
examples=0
run_example() {
  [ -n "$command" ] || return 0
  local actual
  actual=$(PATH="$bin:$PATH" bash -c "$command")
  [ "$actual" = "$expected" ] || fail "example '$command': got '$actual', page says '$expected'"
  examples=$((examples + 1))
  command=
}
command=
while IFS= read -r line; do
  line=${line//\\-/-}
  line=${line//\\e/\\}
  if [[ $line == '$ '* ]]; then
    run_example
    command=${line#\$ }
    expected=
    first=1
  elif [[ $line == .* ]]; then
    run_example
  elif [ -n "$command" ]; then
    if [ -n "$first" ]; then expected=$line; first=; else expected+=$'\n'$line; fi
  fi
done <"$page"
run_example
[ "$examples" -ge 3 ] || fail "only $examples examples found"

# Facts stated by both the page and --help.
help=$("$tool" --help)
text=$(sed 's/\\-/-/g; s/\\(mu/x/g' "$page")
for fact in "usage: fisher2x2 a b c d test" "%10.6f" "50000" "atoi" "32-bit" "2^63 - 1" "1e-12"; do
  grep -qF -- "$fact" <<<"$help" || fail "--help does not say '$fact'"
  grep -qF -- "$fact" <<<"$text" || fail "the page does not say '$fact'"
done
for status_line in "1: the result could not be written" "2: fewer than five arguments"; do
  grep -qiF -- "${status_line#*: }" <<<"$help" || fail "--help lacks '$status_line'"
  grep -qiF -- "${status_line#*: }" <<<"$text" || fail "the page lacks '$status_line'"
done
[ $status -eq 0 ] && echo "ok: page lints clean, $examples examples hold, agrees with --help"
exit $status
