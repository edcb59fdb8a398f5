#!/usr/bin/env bash
# Makes the Debian package from a build folder (as `cpack -G DEB` does there)
# and checks it: the files the README promises are in it, and lintian finds
# neither an error nor a warning. Used by the test command through CTest.
set -euo pipefail
build=${1:?usage: check-package.sh BUILD_FOLDER}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || { cat "$out/cpack.log"; exit 1; }
deb=$(echo "$out"/*.deb)
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/qova usr/bin/qova-detect usr/bin/qova-undistort \
  'usr/lib/python3/dist-packages/qova\.cpython-[0-9]+-[^/]*\.so' \
  usr/share/man/man1/qova.1.gz usr/share/man/man1/qova-detect.1.gz \
  usr/share/man/man1/qova-undistort.1.gz usr/share/qova/qova-undistort.schema.json \
  usr/share/applications/qova.desktop usr/share/icons/hicolor/scalable/apps/qova.svg \
  usr/share/qova/qova-detect.schema.json usr/share/doc/qova/copyright; do
  grep -Eq "\./$file\$" <<<"$contents" || { echo "missing from the package: $file"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6gui6 || { echo "no dependencies from dpkg-shlibdeps"; exit 1; }
status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian found errors or warnings"; exit 1; }
echo "package and lintian: ok"
