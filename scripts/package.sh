#!/usr/bin/env bash
# Builds the Debian package of the application (CPack's DEB generator) from a release build:
#   bash scripts/package.sh            -> build-release/package/quarnai_<version>_<arch>.deb
# The package installs under /usr: the programs in bin/, the web engine's extension in
# lib/quarnai/, the resources in share/quarnai/, the desktop entry and the icons.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build build-release -j"$(nproc)"
out="$PWD/build-release/package"
rm -rf "$out"
(cd build-release && cpack -G DEB -B "$out" -D CPACK_STRIP_FILES=ON >/dev/null)
deb=$(ls "$out"/*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "== contents"
dpkg-deb --contents "$deb" | awk '{print $6}'
