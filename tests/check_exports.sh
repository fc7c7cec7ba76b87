#!/usr/bin/env bash
# The shared library exports exactly the six functions and nothing else.
set -euo pipefail
lib=$1
got=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
want="ExitQuv InitQuv Quv QuvOneBck ResetQuv SeekQuv "
if [ "$got" != "$want" ]; then
  echo "exported: $got"
  echo "expected: $want"
  exit 1
fi
echo "exports: $got"
