#!/usr/bin/env bash
# valgrind memcheck over a full decode of every fixture and the first ISO
# streams (when present); the sanitizer build decodes all of them.
set -uo pipefail
quvdec=$1 fixtures=$2 vectors=$3
command -v valgrind >/dev/null || { echo "valgrind not installed: skipped"; exit 0; }
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
n=0
for f in $(ls "$vectors"/*.bit 2>/dev/null | head -n 6) "$fixtures"/*.mp3; do
  [ -f "$f" ] || continue
  valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=all -q \
    --suppressions="$(dirname "$0")/valgrind.supp" \
    "$quvdec" -q --raw "$f" -o "$tmp" >/dev/null 2>"$tmp.err"
  if [ $? -eq 99 ]; then
    echo "memcheck errors on $f:"; cat "$tmp.err"; rm -f "$tmp.err"; exit 1
  fi
  n=$((n + 1))
done
rm -f "$tmp.err"
echo "memcheck clean on $n files"
