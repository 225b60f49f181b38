#!/usr/bin/env bash
# Compares the dynamic symbols the library defines with the names listed as
# global in its version script.
set -euo pipefail
lib=$1
map=$2
expected=$(sed -n '/global:/,/local:/p' "$map" | grep -E '^\s+[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' ;' | sort)
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exported symbols differ from $map"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(echo "$actual" | tr '\n' ' ')"
