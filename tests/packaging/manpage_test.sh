#!/usr/bin/env bash
# The installed manual pages, read as man reads them: both render without a single groff or man
# warning, each has a whatis entry, and tr4tool(1) describes what the program itself lists. Every
# command of "tr4tool --help" has its subsection in COMMANDS, every option that "tr4tool COMMAND
# --help" lists appears in that command's subsection, and every exit status of the usage is an
# item of EXIT STATUS. So the page has to grow with the help text, and a failure names what it
# lacks. Also checks that "tr4tool COMMAND --help" prints that command's usage alone.
#   manpage_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in man groff lexgrog; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing (scripts/deps installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
errors=0
miss() { echo "FAIL: $*" >&2; errors=$((errors + 1)); }

prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
export LC_ALL=C.UTF-8
tool=$prefix/bin/tr4tool

for program in tr4viewer tr4tool; do
  page=$prefix/share/man/man1/$program.1.gz
  [[ -f "$page" ]] || fail "$program.1.gz was not installed"
  gzip -t "$page" || fail "$page is no gzip file"
  # man's own check, as "man --warnings" gives it to a user, and groff's every warning.
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page failed: $out"
  [[ -z "$out" ]] || fail "man --warnings -l $program.1.gz: $out"
  out=$(zcat "$page" | groff -ww -man -Tutf8 -z 2>&1) || fail "groff on $program.1 failed: $out"
  [[ -z "$out" ]] || fail "groff -ww on $program.1: $out"
  whatis=$(lexgrog "$page") || fail "lexgrog finds no whatis entry in $program.1: $whatis"
  [[ "$whatis" == *"\"$program - "* ]] || fail "$program.1's whatis entry: $whatis"
done

# The page as text, one paragraph a line (wide lines, no hyphenation), to look things up in.
text=$(zcat "$prefix/share/man/man1/tr4tool.1.gz" | groff -man -Tutf8 -rLL=1000n -rHY=0 -P-cbou)
# Lines from the one matching the start pattern to the next header of the same level or above.
part() {  # part START_REGEX
  awk -v start="$1" '
    found && (/^[^ ]/ || (sub_ && /^   [^ ]/)) { exit }
    $0 ~ start { found = 1; sub_ = /^   [^ ]/ }
    found' <<<"$text"
}
# The options a usage text names: -x or --word after a space, "[" or "|".
options_of() { { grep -oE '(^|[][ |(])--?[a-zA-Z][a-zA-Z0-9-]*' || true; } | sed 's/^[][ |(]//' | sort -u; }

help=$("$tool" --help) || fail "tr4tool --help exited with $?"
commands=$(sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' <<<"$help" | sort -u)
[[ -n "$commands" ]] || fail "no commands found in tr4tool --help: $help"
for command in $commands; do
  section=$(part "^   $command( |\$)")
  [[ -n "$section" ]] || { miss "tr4tool(1) has no subsection for the command $command"; continue; }

  own=$("$tool" "$command" --help) || fail "tr4tool $command --help exited with $?"
  [[ "$own" == "usage: tr4tool $command "* ]] || fail "tr4tool $command --help begins: ${own%%$'\n'*}"
  for other in $commands; do
    [[ "$other" == "$command" ]] && continue
    if grep -qE "^  $other " <<<"$own"; then fail "tr4tool $command --help also lists $other"; fi
  done
  [[ "$("$tool" "$command" -h)" == "$own" ]] || fail "tr4tool $command -h differs from --help"

  for option in $(options_of <<<"$own"); do
    grep -qE -- "(^|[^a-zA-Z0-9-])$option([^a-zA-Z0-9-]|\$)" <<<"$section" ||
      miss "tr4tool(1) does not describe $option of $command (tr4tool $command --help lists it)"
  done
done
# What the whole usage names besides the commands' options (--help, --version) is in the page too.
for option in $(options_of <<<"$help"); do
  grep -qE -- "(^|[^a-zA-Z0-9-])$option([^a-zA-Z0-9-]|\$)" <<<"$text" ||
    miss "tr4tool(1) does not mention $option (tr4tool --help lists it)"
done

# Exit statuses: the usage says "N when" or "N for"; each is an item of EXIT STATUS.
statuses=$(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '(^|[ :])[0-9]+ (when|for)' | grep -oE '[0-9]+')
[[ -n "$statuses" ]] || fail "no exit statuses found in tr4tool --help"
exits=$(part '^EXIT STATUS')
for status in $statuses; do
  grep -qE "^       $status\$" <<<"$exits" || miss "tr4tool(1) has no item for exit status $status"
done

# The viewer's page: its one option, and the level it may be given.
viewer=$(zcat "$prefix/share/man/man1/tr4viewer.1.gz" | groff -man -Tutf8 -rLL=1000n -rHY=0 -P-cbou)
for word in --version LEVEL 'EXIT STATUS' EXAMPLES; do
  grep -qF -- "$word" <<<"$viewer" || miss "tr4viewer(1) does not mention $word"
done

[[ $errors -eq 0 ]] || exit 1
echo "PASS: $(wc -w <<<"$commands") commands, their options and $(wc -w <<<"$statuses") exit statuses are in tr4tool(1)"
