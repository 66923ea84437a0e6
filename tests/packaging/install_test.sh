#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it as a desktop would see it: the programs
# run from the prefix alone, the metadata passes the ecosystem's validators, and the shared MIME
# database built from the installed type names level files by name and by content.
#   install_test.sh BUILD_DIR VERSION REAL_LEVEL SAMPLE_LEVEL
set -euo pipefail
build=$1 version=$2 level=$3 sample=$4
for tool in desktop-file-validate appstreamcli update-mime-database gio readelf file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing (scripts/deps installs it)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.tr4viewer.viewer
expected=(
  bin/tr4viewer bin/tr4tool lib/tr4viewer/tr4tool-render
  share/man/man1/tr4viewer.1.gz share/man/man1/tr4tool.1.gz share/bash-completion/completions/tr4tool
  share/doc/tr4viewer/copyright share/doc/tr4viewer/changelog.gz
  "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" "share/mime/packages/$id.xml"
  "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/256x256/apps/$id.png"
)
for f in "${expected[@]}"; do [[ -f "$prefix/$f" ]] || fail "$f was not installed"; done
installed=$(cd "$prefix" && find . -type f | wc -l)
[[ $installed -eq ${#expected[@]} ]] || fail "$installed files installed, expected ${#expected[@]}"

# Nothing points back into the build or source tree.
for p in bin/tr4viewer bin/tr4tool lib/tr4viewer/tr4tool-render; do
  paths=$(readelf -d "$prefix/$p" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
  if [[ -n "$paths" && ( "$paths" == *"$build"* || "$paths" == *"$(dirname "$(dirname "$sample")")"* ) ]]; then
    fail "$p keeps a library path into the build tree"
  fi
done

# The programs run from the prefix, from anywhere.
cd "$work"
[[ "$(env -u DISPLAY "$prefix/bin/tr4tool" --version)" == "tr4tool $version" ]] ||
  fail "tr4tool --version: $("$prefix/bin/tr4tool" --version)"
[[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/tr4viewer" --version)" == "tr4viewer $version" ]] ||
  fail "tr4viewer --version: $("$prefix/bin/tr4viewer" --version 2>&1)"
info=$("$prefix/bin/tr4tool" info "$level") || fail "tr4tool info on the real level failed"
grep -q '^version: 0x00345254$' <<<"$info" || fail "tr4tool info printed no header: $info"
grep -q '^meshCount: 191$' <<<"$info" || fail "tr4tool info from the prefix did not count the level's 191 meshes"

# render is handed to the installed tr4tool-render, found from tr4tool's folder, not the one in
# the build.
if [[ -n "${DISPLAY:-}" ]]; then
  "$prefix/bin/tr4tool" render "$sample" 0 -o "$work/mesh.png" 2>/dev/null ||
    fail "tr4tool render from the prefix failed"
  [[ "$(file "$work/mesh.png")" == *'PNG image data, 321 x 385'* ]] || fail "render wrote no 321 x 385 PNG"
fi
mv "$prefix/lib/tr4viewer/tr4tool-render" "$work/moved"
set +e
out=$("$prefix/bin/tr4tool" render "$sample" 0 -o "$work/again.png" 2>&1)
status=$?
set -e
mv "$work/moved" "$prefix/lib/tr4viewer/tr4tool-render"
[[ $status -eq 3 && "$out" == *"cannot run $prefix/lib/tr4viewer/tr4tool-render:"* ]] ||
  fail "without the installed tr4tool-render, render gave $status: $out"

# The validators, with no errors and no warnings.
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
report=$(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $report"
if grep -qE '^[EW]:' <<<"$report"; then fail "appstreamcli validate: $report"; fi
# The newest release listed in the metainfo is the version the programs print.
newest=$(grep -m1 -o '<release version="[^"]*"' "$prefix/share/metainfo/$id.metainfo.xml")
[[ "$newest" == "<release version=\"$version\"" ]] || fail "metainfo's newest release is $newest"
[[ "$(file "$prefix/share/icons/hicolor/256x256/apps/$id.png")" == *'PNG image data, 256 x 256'* ]] ||
  fail "the icon PNG is not 256 x 256"

# The MIME database: a level is named by its extension, and by its first bytes without one.
export XDG_DATA_HOME=$prefix/share XDG_DATA_DIRS=/usr/local/share:/usr/share
out=$(update-mime-database "$prefix/share/mime" 2>&1) || fail "update-mime-database: $out"
[[ -z "$out" ]] || fail "update-mime-database complained: $out"
cp "$sample" "$work/level-without-extension"
printf 'not a level' >"$work/notes.txt"
type_of() { gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
[[ "$(type_of "$level")" == application/x-tr4-level ]] || fail "$level is $(type_of "$level")"
[[ "$(type_of "$work/level-without-extension")" == application/x-tr4-level ]] ||
  fail "the magic rule missed a level without extension: $(type_of "$work/level-without-extension")"
[[ "$(type_of "$work/notes.txt")" == text/plain ]] || fail "a text file became $(type_of "$work/notes.txt")"
echo "PASS"
