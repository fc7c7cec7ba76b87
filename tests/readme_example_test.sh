#!/usr/bin/env bash
# The README's example of the re-entrant library, compiled as a user would and
# run on a fixture: it must build, run, and print the fixture's gapless length.
# Usage: readme_example_test.sh README INCLUDE_DIR LIBRARY FIXTURE
set -euo pipefail
readme=$1 include=$2 library=$3 fixture=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk '/<!-- tests\/readme_example_test.sh/ {on = 1; next} on && /^```c/ {code = 1; next} code && /^```/ {exit} code' \
  "$readme" > "$tmp/example.c"
[ -s "$tmp/example.c" ] || { echo "no example in $readme"; exit 1; }
cat >> "$tmp/example.c" <<'C'

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    FILE* f = fopen(argv[1], "rb");
    static unsigned char data[1 << 22];
    size_t n = f ? fread(data, 1, sizeof data, f) : 0;
    if (f) fclose(f);
    return print_length_and_peak(data, n) == 0 ? 0 : 1;
}
C
cc -std=c11 -Wall -Wextra -Werror -I"$include" "$tmp/example.c" "$library" -lm -o "$tmp/example"
out=$("$tmp/example" "$fixture")
echo "$out"
[ "$(echo "$out" | cut -d' ' -f1)" = 123457 ] || { echo "not the fixture's 123457 samples"; exit 1; }
