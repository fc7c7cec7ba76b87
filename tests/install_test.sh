#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds consumers against it
# through find_package(quv3) and through pkg-config: of quv3, and of
# quv3_decoder shared and static. The static one still runs once the prefix is
# gone.
set -euo pipefail
build=$1 src=$2 fixture=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
# lib, or lib/<multiarch> when the build was configured for /usr.
pc_dir=$(dirname "$(find "$tmp/prefix" -name quv3.pc)")
export LD_LIBRARY_PATH="$(dirname "$pc_dir")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
cmake -S "$src" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
sed -i "s|^prefix=.*|prefix=$tmp/prefix|" "$pc_dir/quv3.pc" "$pc_dir/quv3_decoder.pc"
cc "$src/main.c" -o "$tmp/pc_consumer" $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs quv3)
cc "$src/decoder_main.c" -o "$tmp/pc_decoder_consumer" \
  $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs quv3_decoder)

legacy=$("$tmp/consumer/consumer" "$fixture") || fail "the quv3 consumer"
[ "$("$tmp/pc_consumer" "$fixture")" = "$legacy" ] || fail "the quv3 consumer through pkg-config"
# The fixture's 60 frames of 1152 samples, through either library.
want="$legacy, 69120 samples"
for c in consumer/decoder_consumer consumer/static_consumer pc_decoder_consumer; do
  [ "$("$tmp/$c" "$fixture")" = "$want" ] || fail "$c"
done
rm -rf "$tmp/prefix"
needed=$(readelf -d "$tmp/consumer/static_consumer" | awk '/NEEDED/ {print $NF}' | tr '\n' ' ')
case $needed in *quv3*) fail "the static consumer needs $needed" ;; esac
[ "$("$tmp/consumer/static_consumer" "$fixture")" = "$want" ] || fail "the static consumer without the prefix"
echo "$want: both libraries through find_package and pkg-config, the static one alone"
