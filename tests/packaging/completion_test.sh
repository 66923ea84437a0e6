#!/usr/bin/env bash
# The installed bash completion of tr4tool, as bash-completion loads it: found by its loader
# under the prefix's share/ alone, then driven the way bash drives it (COMP_WORDS, COMP_CWORD).
# It offers the commands "tr4tool --help" lists, each command's options as "tr4tool COMMAND
# --help" lists them (and export's --format), level files for FILE, glTF files after export's
# -o, and folders where a folder is wanted.
#   completion_test.sh BUILD_DIR
set -euo pipefail
build=$1
loader=/usr/share/bash-completion/bash_completion
[[ -f "$loader" ]] || { echo "SKIP: bash-completion missing (scripts/deps installs it)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
errors=0
miss() { echo "FAIL: $*" >&2; errors=$((errors + 1)); }

prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
[[ -f "$prefix/share/bash-completion/completions/tr4tool" ]] ||
  fail "share/bash-completion/completions/tr4tool was not installed"
tool=$prefix/bin/tr4tool

# A folder to complete in.
mkdir "$work/here" && cd "$work/here"
mkdir levels out
touch a.tr4 B.TR4 x.glb y.gltf z.png notes.txt

# Prints, one a line and sorted, what completing each given command line offers (a line ending in
# a space completes a new word). A fresh bash each time, as a login shell would load it.
offers() {
  XDG_DATA_DIRS=$prefix/share bash --norc --noprofile -c '
    source "$0"
    # The loader that a first Tab on tr4tool runs; it looks under XDG_DATA_DIRS.
    __load_completion tr4tool || { echo "no completion found for tr4tool" >&2; exit 3; }
    registered=$(complete -p tr4tool) || exit 3
    function=${registered#*-F }; function=${function%% *}
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function" tr4tool "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' "$loader" "$1" | sed '/^$/d' | sort
}
expect() {  # expect LINE WORD...: exactly these
  local got want
  got=$(offers "$1")
  want=$(printf '%s\n' "${@:2}" | sed '/^$/d' | sort)
  [[ "$got" == "$want" ]] || miss "'$1' offers [$(echo $got)], expected [$(echo $want)]"
}
has() {  # has LINE WORD...: at least these
  local got w
  got=$(offers "$1")
  for w in "${@:2}"; do grep -qxF -- "$w" <<<"$got" || miss "'$1' does not offer $w (offers: $(echo $got))"; done
}

help=$("$tool" --help)
commands=$(sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' <<<"$help" | sort -u)
[[ -n "$commands" ]] || fail "no commands in tr4tool --help"
expect "tr4tool " $commands --help --version
expect "tr4tool ex" export
for command in $commands; do
  options=$("$tool" "$command" --help | { grep -oE '(^|[][ |(])--?[a-zA-Z][a-zA-Z0-9-]*' || true; } |
    sed 's/^[][ |(]//')
  has "tr4tool $command a.tr4 -" $options --help
done
# Added to export beside its glTF output: one .gltf per object with shared pages.
has "tr4tool export a.tr4 --objects out -" --format -o --all --moveable --static --objects --scale
expect "tr4tool export a.tr4 --objects out --format " glb gltf

# Files: levels (either case) for FILE, glTF for export -o, PNG for render -o, folders for DIR.
expect "tr4tool info " a.tr4 B.TR4 levels out
expect "tr4tool export --all " a.tr4 B.TR4 levels out
expect "tr4tool export a.tr4 --all -o " x.glb y.gltf levels out
expect "tr4tool export a.tr4 --objects " levels out
expect "tr4tool pages a.tr4 " levels out
expect "tr4tool export a.tr4 --moveable "
if grep -qE '^  render ' <<<"$help"; then
  expect "tr4tool render a.tr4 0 -o " z.png levels out
  expect "tr4tool render a.tr4 --all " levels out
fi

[[ $errors -eq 0 ]] || exit 1
echo "PASS"
