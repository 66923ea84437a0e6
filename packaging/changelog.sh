#!/bin/sh
# Writes the package's changelog, compressed as Debian ships it (changelog.gz of a native
# package), from the project's version history: one entry for this version whose items are the
# commit subjects, newest first, dated by the newest commit. The file is only replaced when the
# text changes, and gzip -n leaves out the name and time, so the same history gives the same bytes.
#   changelog.sh SOURCE_DIR PACKAGE VERSION MAINTAINER FALLBACK_EPOCH OUT.gz
# Outside a git checkout (a source archive) the entry names the release alone, dated
# FALLBACK_EPOCH (the release's date).
set -eu
src=$1 package=$2 version=$3 maintainer=$4 fallback=$5 out=$6
text=${out%.gz}
trap 'rm -f "$text.new"' EXIT

# The source folder must be the checkout's top, not a folder inside some other repository.
if top=$(git -C "$src" rev-parse --show-toplevel 2>/dev/null) &&
  [ "$(cd "$top" && pwd -P)" = "$(cd "$src" && pwd -P)" ]; then
  epoch=$(git -C "$src" log -1 --format=%ct)
  items=$(git -C "$src" log --no-merges --format=%s)
else
  epoch=$fallback
  items="Release $version."
fi

{
  echo "$package ($version) unstable; urgency=medium"
  echo
  # One item per subject, its words wrapped before column 80 under the item's text.
  printf '%s\n' "$items" | awk '{
    n = split($0, word, " "); line = "  *"
    for (i = 1; i <= n; i++) {
      if (length(line) + 1 + length(word[i]) > 80 && line !~ /^ *\*?$/) { print line; line = "   " }
      line = line " " word[i]
    }
    print line
  }'
  echo
  echo " -- $maintainer  $(LC_ALL=C date -u -R -d "@$epoch")"
} >"$text.new"

if [ -f "$out" ] && cmp -s "$text.new" "$text"; then exit 0; fi
mv "$text.new" "$text"
gzip -9n <"$text" >"$out"
