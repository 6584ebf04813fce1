#!/usr/bin/env bash
# The manual page of kestrane-cli, formatted as man formats it:
#   docs-manpage.sh KESTRANE_CLI_DOCS KESTRANE_CLI
# groff finds nothing to warn about, and the formatted page shows the help's
# texts as the help shows them: each command's usage, description, options
# and details, the tool's options and its exit statuses. Only the line
# breaks differ (a word the help broke at its hyphen is whole again). A
# backslash, hyphen or quote that reached the formatter unescaped would show
# differently. Exit status 77 (a skipped test) without groff (Debian:
# groff-base).
set -uo pipefail

docs=$1
cli=$2
if ! command -v groff >/dev/null; then
  echo "skipped: no groff (Debian: groff-base)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
page=$work/kestrane-cli.1
"$docs" --man "$page" --date 2026-01-01 --example-update /usr/share/doc/kestrane-cli/examples/example.upd ||
  exit 1

export LC_ALL=C.UTF-8
failures=0

# -ww: every warning; -rLL: lines long enough that nothing is hyphenated;
# -P-cbou: plain characters, no bold or underlining.
if ! groff -man -Tutf8 -ww -rLL=2000n -P-cbou "$page" >"$work/page.txt" 2>"$work/warnings"; then
  echo "FAIL: groff failed"
  failures=$((failures + 1))
fi
if [[ -s $work/warnings ]]; then
  echo "FAIL: groff warns:"
  cat "$work/warnings"
  failures=$((failures + 1))
fi

# A plain "-" is a hyphen, which groff may set as U+2010 (this one shows it
# as "-", so the text below cannot tell): options and paths need "\-".
unescaped=$(grep -v '^\.\\"' "$page" | grep -n '\(^\|[^\\]\)-')
if [[ -n $unescaped ]]; then
  echo "FAIL: hyphens not written \\-:"
  echo "$unescaped"
  failures=$((failures + 1))
fi

# Text with every run of blanks and line breaks one space, a word broken at
# its hyphen joined.
flatten() {
  sed -e ':a' -e 'N' -e '$!ba' -e 's/\([[:alpha:]]-\)\n\([[:alpha:]]\)/\1\2/g' | tr -s ' \n' '  ' |
    sed 's/^ //; s/ $//'
}
flat_page=$(flatten <"$work/page.txt")

# expect_shown WHAT TEXT: the page shows TEXT (flattened).
expect_shown() {
  local text
  text=$(printf '%s\n' "$2" | flatten)
  if [[ -z $text ]]; then
    echo "FAIL: $1: nothing to look for"
    failures=$((failures + 1))
  elif [[ $flat_page != *"$text"* ]]; then
    echo "FAIL: $1 is not shown as the help shows it:"
    echo "  $text"
    failures=$((failures + 1))
  fi
}

# Each paragraph of a command's help (blank lines apart), "Usage: " and the
# "Options:" heading taken off.
commands=$("$cli" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p')
if [[ -z $commands ]]; then
  echo "FAIL: no commands found in the help"
  exit 1
fi
for command in $commands; do
  help=$("$cli" "$command" --help | sed 's/^Usage: //; /^Options:$/d')
  mapfile -d '' paragraphs < <(printf '%s\n' "$help" | awk 'BEGIN { RS = "" } { printf "%s%c", $0, 0 }')
  for index in "${!paragraphs[@]}"; do
    expect_shown "paragraph $((index + 1)) of '$command --help'" "${paragraphs[index]}"
  done
done

tool_help=$("$cli" --help)
expect_shown "the tool's options" "$(printf '%s\n' "$tool_help" | sed -n '/^Options:/,/^$/p' | sed 1d)"
expect_shown "the exit statuses" "$(printf '%s\n' "$tool_help" | sed -n '/^Exit status: /,$p' |
  sed 's/^Exit status: //')"
expect_shown "the usage" "$(printf '%s\n' "$tool_help" | sed -n 's/^Usage: //p')"

if ((failures)); then
  echo "$failures failed"
  exit 1
fi
echo "manual page: formats cleanly and shows the help's texts"
