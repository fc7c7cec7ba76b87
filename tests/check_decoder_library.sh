#!/usr/bin/env bash
# The decoder library exports exactly the functions its .def file lists, and
# neither library can allocate, start threads or lock: they import no such
# function from the C or C++ runtime.
# Usage: check_decoder_library.sh LIBQUV3_DECODER LIBQUV3 DEF
set -euo pipefail
lib=$1 legacy=$2 def=$3
got=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
want=$(sed -n 's/^    \(quv3_[a-z0-9_]*\)$/\1/p' "$def" | sort | tr '\n' ' ')
if [ "$got" != "$want" ]; then
  echo "exported: $got"
  echo "expected: $want"
  exit 1
fi
for l in "$lib" "$legacy"; do
  bad=$(nm -D --undefined-only "$l" | awk '{print $2}' | sed 's/@.*//' |
    grep -E '^(malloc|calloc|realloc|free|aligned_alloc|posix_memalign|memalign|valloc|mmap|mmap64|_Zn[wa].*|_Zd[la].*|pthread_.*|__cxa_guard_.*|__cxa_atexit)$' || true)
  if [ -n "$bad" ]; then
    echo "$l imports: $bad"
    exit 1
  fi
done
echo "exports: $got"
echo "no allocation, thread or lock function imported"
