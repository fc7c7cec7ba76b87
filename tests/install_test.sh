#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds two consumers against
# it: one through find_package(quv3), one through pkg-config.
set -euo pipefail
build=$1 src=$2 fixture=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
cmake -S "$src" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
LD_LIBRARY_PATH="$tmp/prefix/lib:${LD_LIBRARY_PATH:-}" "$tmp/consumer/consumer" "$fixture"
pc_dir=$(dirname "$(find "$tmp/prefix" -name quv3.pc | head -n1)")
sed -i "s|^prefix=.*|prefix=$tmp/prefix|" "$pc_dir/quv3.pc"
cc "$src/main.c" -o "$tmp/pc_consumer" $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs quv3)
LD_LIBRARY_PATH="$tmp/prefix/lib:$(dirname "$(find "$tmp/prefix" -name 'libquv3.so' | head -n1)")" \
  "$tmp/pc_consumer" "$fixture"
