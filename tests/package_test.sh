#!/usr/bin/env bash
# The packages scripts/package builds, as users install them.
# Usage: package_test.sh DIST_DIR VERSION FIXTURE [windows]
set -euo pipefail
dist=$(cd "$1" && pwd) version=$2 fixture=$3 windows=${4:-}
src=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
deb=$dist/quv3_${version}_$(dpkg --print-architecture).deb
cleanup() { "${sudo_cmd[@]}" dpkg -r quv3 >/dev/null 2>&1 || true; rm -rf "$tmp"; }
trap cleanup EXIT

echo "== $deb: install, build a consumer with pkg-config, remove"
[ -f "$deb" ] || fail "no $deb"
"${sudo_cmd[@]}" dpkg -i "$deb" >/dev/null
cc "$src/install_consumer/main.c" -o "$tmp/consumer" $(pkg-config --cflags --libs quv3)
"$tmp/consumer" "$fixture" || fail "the consumer against the installed library"
[ "$(pkg-config --modversion quv3)" = "$version" ] || fail "pkg-config version"
[ "$(quvdec --version)" = "quvdec $version" ] || fail "installed quvdec"
[ -f /usr/share/man/man1/quvdec.1 ] || fail "man page"
[ -f "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake/quv3/quv3Config.cmake" ] || fail "CMake package"
"${sudo_cmd[@]}" dpkg -r quv3 >/dev/null
[ ! -e /usr/bin/quvdec ] || fail "removal left quvdec behind"

if [ "$windows" = windows ]; then
  for arch in win64:x86_64 win32:i686; do
    zip=$dist/quv3-$version-${arch%%:*}.zip
    echo "== $zip"
    [ -f "$zip" ] || fail "no $zip"
    (cd "$tmp" && cmake -E tar xf "$zip")
    dir=$tmp/quv3-$version-${arch%%:*}
    for f in quv3.dll quv3.dll.a quv3.def quv3.h quvdec.exe updater.exe README.md LICENSE; do
      [ -f "$dir/$f" ] || fail "$zip lacks $f"
    done
    names=$("${arch#*:}-w64-mingw32-objdump" -p "$dir/quv3.dll" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && !/Table/ {print $NF}' | sort | tr '\n' ' ')
    [ "$names" = "ExitQuv InitQuv Quv QuvOneBck ResetQuv SeekQuv " ] || fail "$zip: exports $names"
  done
fi
echo "packages: all checks passed"
