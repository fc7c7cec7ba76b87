#!/usr/bin/env bash
# The packages scripts/package builds, as users install them.
# Usage: package_test.sh DIST_DIR VERSION FIXTURE [windows]
set -euo pipefail
dist=$(cd "$1" && pwd) version=$2 fixture=$3 windows=${4:-}
src=$(cd "$(dirname "$0")" && pwd)
consumers=$src/install_consumer
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
deb=$dist/quv3_${version}_$(dpkg --print-architecture).deb
cleanup() { "${sudo_cmd[@]}" dpkg -r quv3 >/dev/null 2>&1 || true; rm -rf "$tmp"; }
trap cleanup EXIT

echo "== $deb: install, build consumers of both libraries with pkg-config and CMake, remove"
[ -f "$deb" ] || fail "no $deb"
"${sudo_cmd[@]}" dpkg -i "$deb" >/dev/null
cc "$consumers/main.c" -o "$tmp/consumer" $(pkg-config --cflags --libs quv3)
cc "$consumers/decoder_main.c" -o "$tmp/decoder_consumer" $(pkg-config --cflags --libs quv3_decoder)
# Wholly static: the static library with what pkg-config --static adds to it.
cc -static "$consumers/decoder_main.c" -o "$tmp/static_consumer" $(pkg-config --static --cflags --libs quv3_decoder)
cmake -S "$consumers" -B "$tmp/cmake" >/dev/null && cmake --build "$tmp/cmake" >/dev/null || fail "the CMake package"
legacy=$("$tmp/consumer" "$fixture") || fail "the consumer against the installed library"
[ "$("$tmp/cmake/consumer" "$fixture")" = "$legacy" ] || fail "quv3::quv3"
# The fixture's 60 frames of 1152 samples, through either library.
want="$legacy, 69120 samples"
for c in decoder_consumer static_consumer cmake/decoder_consumer cmake/static_consumer; do
  [ "$("$tmp/$c" "$fixture")" = "$want" ] || fail "$c against the installed library"
done
for pc in quv3 quv3_decoder; do
  [ "$(pkg-config --modversion $pc)" = "$version" ] || fail "pkg-config version of $pc"
done
[ "$(quvdec --version)" = "quvdec $version" ] || fail "installed quvdec"
[ -f /usr/share/man/man1/quvdec.1 ] || fail "man page"
"${sudo_cmd[@]}" dpkg -r quv3 >/dev/null
[ ! -e /usr/bin/quvdec ] || fail "removal left quvdec behind"
[ "$("$tmp/static_consumer" "$fixture")" = "$want" ] || fail "the static consumer with the package removed"
echo "$want: quv3, quv3_decoder and the static library through pkg-config and CMake"

# The names in a DLL's export table (objdump of ARCH), and in a .def file.
exports() {
  "$1-w64-mingw32-objdump" -p "$2" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && !/Table/ {print $NF}' | sort | tr '\n' ' '
}
def_names() { awk 'listed && NF {print $1} /^EXPORTS/ {listed = 1}' "$1" | sort | tr '\n' ' '; }

if [ "$windows" = windows ]; then
  for arch in win64:x86_64 win32:i686; do
    zip=$dist/quv3-$version-${arch%%:*}.zip cpu=${arch#*:}
    echo "== $zip"
    [ -f "$zip" ] || fail "no $zip"
    (cd "$tmp" && cmake -E tar xf "$zip")
    dir=$tmp/quv3-$version-${arch%%:*}
    for f in quv3.dll quv3.dll.a quv3.def quv3.h quv3_decoder.dll quv3_decoder.dll.a quv3_decoder.def \
      quv3_decoder.h quvdec.exe updater.exe README.md LICENSE; do
      [ -f "$dir/$f" ] || fail "$zip lacks $f"
    done
    names=$(exports "$cpu" "$dir/quv3.dll")
    [ "$names" = "ExitQuv InitQuv Quv QuvOneBck ResetQuv SeekQuv " ] || fail "$zip: exports $names"
    names=$(exports "$cpu" "$dir/quv3_decoder.dll")
    [ "$names" = "$(def_names "$dir/quv3_decoder.def")" ] || fail "$zip: quv3_decoder.dll exports $names"
    for dll in quv3.dll quv3_decoder.dll; do
      deps=$("$cpu-w64-mingw32-objdump" -p "$dir/$dll" | awk '/DLL Name/ {print $3}' | tr '\n' ' ')
      case "$deps" in *gcc*|*stdc++*|*winpthread*) fail "$zip: $dll needs a compiler runtime: $deps" ;; esac
    done
    # A program links against each DLL with nothing but the zip's header and import library.
    for lib in quv3:main.c quv3_decoder:decoder_main.c; do
      "$cpu-w64-mingw32-gcc-posix" -std=c11 "$consumers/${lib#*:}" -I"$dir" "$dir/${lib%%:*}.dll.a" -o "$tmp/a.exe" ||
        fail "$zip: a program against ${lib%%:*}.dll.a"
    done
  done
fi
echo "packages: all checks passed"
