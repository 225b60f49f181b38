#!/usr/bin/env bash
# cmake --install of a build tree into a fresh prefix, then a host project
# that finds it with find_package(Ombrelix) and the installed ombrelix-host.
set -euo pipefail
build=$1 source=$2 sanitizer=${3:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" >/dev/null
for f in lib/libombrelix.so include/ombrelix/exports.h lib/cmake/Ombrelix/OmbrelixConfig.cmake bin/ombrelix-host; do
  [ -e "$prefix/usr/$f" ] || { echo "not installed: $f"; exit 1; }
done
cmake -S "$source/tests/install" -B "$prefix/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" \
  -DCMAKE_CXX_FLAGS="$sanitizer" -DCMAKE_EXE_LINKER_FLAGS="$sanitizer" >/dev/null
cmake --build "$prefix/host" >/dev/null
"$prefix/host/installed_host"
# The installed tool finds the installed library.
"$prefix/usr/bin/ombrelix-host" record -p 1 -d 1 --capability '1;554;CBR;1;2;3' -q >/dev/null 2>"$prefix/err" || true
if grep -q "cannot load the driver" "$prefix/err"; then cat "$prefix/err"; exit 1; fi
"$prefix/usr/bin/ombrelix-host" --version
