#!/usr/bin/env bash
# The bash completion of kestrane-cli, run as bash-completion runs it:
#   docs-completion.sh KESTRANE_CLI_DOCS KESTRANE_CLI
# The commands and options it offers are checked against the tool's help,
# the values it offers against what the tool accepts. Exit status 77 (a
# skipped test) where bash-completion is not installed (Debian:
# bash-completion).
set -uo pipefail

docs=$1
cli=$2
bash_completion=/usr/share/bash-completion/bash_completion
if [[ ! -r $bash_completion ]]; then
  echo "skipped: no $bash_completion (Debian: bash-completion)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
script=$work/kestrane-cli
"$docs" --completion "$script" || exit 1
if ! bash -n "$script"; then
  echo "FAIL: the script is not valid bash"
  exit 1
fi

# compopt works only while bash itself is completing.
compopt() { :; }
# shellcheck source=/dev/null
source "$bash_completion"
# shellcheck source=/dev/null
source "$script"

failures=0

# The words offered for a command line that ends where the cursor is, one a
# line, sorted. Words are split at blanks only.
complete_line() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  if [[ -z $line || $line == *' ' ]]; then
    COMP_WORDS+=("")
  fi
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _kestrane_cli kestrane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  if ((${#COMPREPLY[@]})); then
    printf '%s\n' "${COMPREPLY[@]}" | sort
  fi
}

# expect LINE WORD...: the line completes to exactly these words.
expect() {
  local line=$1
  shift
  local expected actual
  expected=$(if (($#)); then printf '%s\n' "$@" | sort; fi)
  actual=$(complete_line "$line")
  if [[ $actual != "$expected" ]]; then
    echo "FAIL: '$line<TAB>' gives [${actual//$'\n'/ }], expected [${expected//$'\n'/ }]"
    failures=$((failures + 1))
  fi
}

# The words of the help: the commands, and the option names (short and long)
# of an "Options:" section.
help_commands() {
  "$cli" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p'
}
help_options() {
  "$cli" "$@" | sed -n '/^Options:/,/^$/p' | grep '^  -' |
    sed 's/^  //; s/  .*//; s/ [^-].*//; s/, / /' | tr ' ' '\n' | grep '^-'
}

mapfile -t commands < <(help_commands)
if ((${#commands[@]} < 2)); then
  echo "FAIL: no commands found in the help"
  exit 1
fi
expect "kestrane-cli " "${commands[@]}"
expect "kestrane-cli se" send
mapfile -t tool_options < <(help_options --help)
expect "kestrane-cli -" "${tool_options[@]}"
expect "kestrane-cli --version " # nothing follows
expect "kestrane-cli help " "${commands[@]}"

# Each command offers the options its help names, and --verbose, which may
# follow the command too.
for command in "${commands[@]}"; do
  mapfile -t options < <(help_options "$command" --help)
  if ((${#options[@]} == 0)); then
    echo "FAIL: no options found in the help of $command"
    failures=$((failures + 1))
  fi
  expect "kestrane-cli $command -" "${options[@]}" --verbose
  mapfile -t long_options < <(printf '%s\n' "${options[@]}" --verbose | grep '^--')
  expect "kestrane-cli --verbose $command --" "${long_options[@]}"
done
expect "kestrane-cli send x.upd --sim-w" --sim-whole-blocks
expect "kestrane-cli send x.upd -- --" # only operands after --

# Values: files where a file is named, the words the tool takes elsewhere,
# nothing for free text.
mkdir -p "$work/files/folder"
touch "$work/files/a.upd" "$work/files/b.png"
cd "$work/files" || exit 1
expect "kestrane-cli info " a.upd b.png folder
expect "kestrane-cli send a.upd --sim-record " a.upd b.png folder
expect "kestrane-cli pack -o " a.upd b.png folder
expect "kestrane-cli pack --image " b.png folder
expect "kestrane-cli pack --product "
expect "kestrane-cli send a.upd --device " sim
expect "kestrane-cli send a.upd --sim " accept fail silent install
expect "kestrane-cli sim a.upd --sim accept,fa" accept,fail

# The MIDI systems offered are those the tool takes (no JACK server is
# reached under this name, so ports fails for want of one, not for the name).
mapfile -t apis < <(complete_line "kestrane-cli ports --api ")
if ((${#apis[@]} == 0)); then
  echo "FAIL: no MIDI system offered for --api"
  failures=$((failures + 1))
fi
for api in "${apis[@]}"; do
  JACK_DEFAULT_SERVER=kestrane-no-server-$$ "$cli" ports --api "$api" >/dev/null 2>&1
  if (($? == 64)); then
    echo "FAIL: --api $api is offered but refused"
    failures=$((failures + 1))
  fi
done

if ((failures)); then
  echo "$failures failed"
  exit 1
fi
echo "completion: all as expected"
