#!/usr/bin/env bash
# Builds the Debian package of this build tree with cpack and reads it back with dpkg-deb: the
# control data has the computed library dependencies, and the data holds every installed file.
# (scripts/package makes the package to ship, from a Release tree; this checks the packaging
# rules on the tree the suite has already built.)
#   deb_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
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
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/256x256/apps/$id.png; do
  grep -qx "./usr/$f" <<<"$contents" || fail "the package lacks /usr/$f"
done
# Only the commands are on PATH.
[[ "$(grep -c '^\./usr/bin/.' <<<"$contents")" -eq 2 ]] || fail "/usr/bin holds more than the two programs"
echo "PASS"
