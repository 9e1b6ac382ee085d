#!/usr/bin/env bash
# Builds tavrelsync_<version>_<arch>.deb in the project folder: the program,
# its desktop entry, icon and AppStream file, with the dependencies computed
# from the libraries it links. The development server, the tests and the
# benchmarks stay out. Then lintian checks it (errors fail the script).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
need=()
for p in dpkg-dev lintian fakeroot; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

build=build-package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTAVREL_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" tavrelsync

version=$("$build/tavrelsync" --version | awk '{print $2}')
arch=$(dpkg --print-architecture)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg="$stage/tavrelsync"

DESTDIR="$pkg" cmake --install "$build" --strip >/dev/null
# Only what the package is for: the program and its desktop files.
find "$pkg" -type f ! -path "*/usr/bin/tavrelsync" ! -path "*/usr/share/applications/*" \
  ! -path "*/usr/share/icons/*" ! -path "*/usr/share/metainfo/*" -delete
find "$pkg" -type d -empty -delete

doc="$pkg/usr/share/doc/tavrelsync"
mkdir -p "$doc"
cat > "$doc/copyright" <<EOF
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: TavrelSync
Source: https://tavrel.example/tavrelsync

Files: *
Copyright: 2026 The TavrelSync developers
License: Proprietary
 All rights reserved.
EOF
printf 'tavrelsync (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- TavrelSync developers <dev@tavrel.example>  %s\n' \
  "$version" "$version" "$(date -R)" | gzip -9n > "$doc/changelog.gz"

# The dependencies of the libraries the program links, as Debian names them.
mkdir -p "$stage/debian"
printf 'Source: tavrelsync\n\nPackage: tavrelsync\nArchitecture: any\n' > "$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O "tavrelsync/usr/bin/tavrelsync" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')

mkdir -p "$pkg/DEBIAN"
cat > "$pkg/DEBIAN/control" <<EOF
Package: tavrelsync
Version: $version
Architecture: $arch
Maintainer: TavrelSync developers <dev@tavrel.example>
Installed-Size: $(du -sk "$pkg/usr" | cut -f1)
Depends: $depends, qt6-qpa-plugins, libsecret-1-0
Recommends: qt6-translations-l10n
Section: net
Priority: optional
Homepage: https://tavrel.example/tavrelsync
Description: desktop sync client for the Tavrel document service
 TavrelSync lives in the system tray and keeps up to five local folders in
 step with your folders on the Tavrel document service: it uploads new and
 changed files, downloads new documents, carries deletions both ways and
 keeps both versions of a file changed on both sides.
EOF

out="$root/tavrelsync_${version}_${arch}.deb"
fakeroot dpkg-deb --build --root-owner-group "$pkg" "$out" >/dev/null
echo "Built $out"
# Errors fail; warnings are shown.
lintian --fail-on error --suppress-tags no-manual-page "$out"
