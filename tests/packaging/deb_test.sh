#!/usr/bin/env bash
# Builds the Debian package of this build tree with cpack and reads it back with dpkg-deb: the
# control data has the computed library dependencies, and the data holds every installed file.
# Then Debian's own checker, lintian, must find nothing to warn about, and the changelog must be
# one dpkg reads, for this version, compressed without a name or time.
# (scripts/package makes the package to ship, from a Release tree; this checks the packaging
# rules on the tree the suite has already built.)
#   deb_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps dpkg-parsechangelog lintian; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing (scripts/deps installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "cpack made ${#debs[@]} packages"
deb=${debs[0]}
[[ "$(basename "$deb")" == tr4viewer_${version}_*.deb ]] || fail "package named $(basename "$deb")"

info=$(dpkg-deb --info "$deb")
echo "$info"
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[[ "$(field Package)" == tr4viewer ]] || fail "Package: $(field Package)"
[[ "$(field Version)" == "$version" ]] || fail "Version: $(field Version)"
[[ "$(field Section)" == graphics ]] || fail "Section: $(field Section)"
depends=$(field Depends)
names=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
# dpkg-shlibdeps names the packages of the libraries the programs really link.
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6opengl6 zlib1g; do
  grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
echo "$contents"
id=org.tr4viewer.viewer
for f in bin/tr4viewer bin/tr4tool lib/tr4viewer/tr4tool-render share/applications/$id.desktop \
  share/metainfo/$id.metainfo.xml share/mime/packages/$id.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/256x256/apps/$id.png \
  share/man/man1/tr4viewer.1.gz share/man/man1/tr4tool.1.gz \
  share/bash-completion/completions/tr4tool \
  share/doc/tr4viewer/copyright share/doc/tr4viewer/changelog.gz; do
  grep -qx "./usr/$f" <<<"$contents" || fail "the package lacks /usr/$f"
done
# Only the commands are on PATH.
[[ "$(grep -c '^\./usr/bin/.' <<<"$contents")" -eq 2 ]] || fail "/usr/bin holds more than the two programs"

# The changelog: Debian's format for this version, and gzip -n (no file name, no time stamp).
dpkg-deb -x "$deb" "$work/root"
changelog=$work/root/usr/share/doc/tr4viewer/changelog.gz
zcat "$changelog" >"$work/changelog"
parsed=$(dpkg-parsechangelog -l "$work/changelog" 2>&1) || fail "dpkg-parsechangelog: $parsed"
[[ "$(sed -n 's/^Version: //p' <<<"$parsed")" == "$version" ]] || fail "the changelog's version: $parsed"
[[ "$(sed -n 's/^Source: //p' <<<"$parsed")" == tr4viewer ]] || fail "the changelog's package: $parsed"
header=$(od -An -tx1 -N8 "$changelog" | tr -d ' \n')
# Bytes 4 to 8: the flags (no name) and the time stamp (none).
[[ "$header" == 1f8b080000000000 ]] ||
  fail "changelog.gz has a name or a time stamp in its header ($header): not gzip -n"

# lintian, with everything it shows by default (errors, warnings): there must be none. An
# override, should one ever be needed, goes in the package's usr/share/lintian/overrides/tr4viewer
# with a comment above it saying why.
# (Its status is 1 when it reports an error, 2 when it could not check the package at all.)
set +e
report=$(lintian --tag-display-limit 0 "$deb" 2>&1)
status=$?
set -e
report=$(grep -v '^running with root privileges' <<<"$report" || true)
echo "lintian: ${report:-(nothing to report)}"
[[ $status -le 1 ]] || fail "lintian could not check the package (status $status)"
if grep -qE '^[EW]: ' <<<"$report"; then fail "lintian: $report"; fi
grep -qE '^[A-Z]: ' <<<"$report" && echo "(lintian's notes above are below warning level)"
echo "PASS"
