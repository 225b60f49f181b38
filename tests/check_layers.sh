#!/usr/bin/env bash
# Every include inside the library points down: a file under src/<layer>/
# may include its own layer and the layers listed before it in
# OMBRELIX_SUBSYSTEMS (src/CMakeLists.txt), plus the public host interface.
# Prints each include that points up and fails when there is one.
set -euo pipefail
if [ "${1:-}" = --self-test ]; then
  # A tree whose lower layer includes a higher one must be refused.
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  mkdir -p "$tree/util" "$tree/psia"
  echo 'set(OMBRELIX_SUBSYSTEMS util platform core thread psia)' >"$tree/CMakeLists.txt"
  echo '#include "psia/x.h"' >"$tree/util/a.h"
  touch "$tree/psia/x.h"
  if "$0" "$tree"; then echo "check_layers: the upward include was not refused"; exit 1; fi
  exit 0
fi
src=${1:?usage: check_layers.sh SRC_DIR | --self-test}
layers=$(sed -n 's/^set(OMBRELIX_SUBSYSTEMS \(.*\))$/\1/p' "$src/CMakeLists.txt")
[ -n "$layers" ] || { echo "check_layers: no OMBRELIX_SUBSYSTEMS in $src/CMakeLists.txt"; exit 2; }
declare -A rank
i=0
for layer in $layers; do rank[$layer]=$i; i=$((i + 1)); done
# The host interface sits just above the generic helpers.
rank[ombrelix]=${rank[core]}
bad=0
while IFS= read -r -d '' file; do
  rel=${file#"$src"/}
  own=${rel%%/*}
  [ -n "${rank[$own]+x}" ] || { echo "check_layers: $rel is in no layer"; bad=1; continue; }
  while IFS= read -r line; do
    target=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' <<<"$line")
    [ -n "$target" ] || continue
    if [ -z "${rank[$target]+x}" ]; then
      echo "check_layers: $rel includes unknown layer: $line"; bad=1
    elif [ "${rank[$target]}" -gt "${rank[$own]}" ]; then
      echo "check_layers: $rel ($own) includes a layer above it: $line"; bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find "$src" -mindepth 2 -name '*.h' -print0 -o -mindepth 2 -name '*.cpp' -print0)
[ "$bad" -eq 0 ] && echo "check_layers: every include points down ($layers)"
exit "$bad"
