#!/usr/bin/env bash
# Checks the Windows archives in DIST without running them:
#   - Ombrelix-VERSION-windows-x86.zip and -x64.zip hold exactly Ombrelix.dll,
#     ombrelix-host.exe, Ombrelix.xml and README.txt;
#   - the sum file lists exactly those two archives, with matching SHA-256;
#   - each Ombrelix.dll carries a version resource with VERSION as its file
#     and product version (fixed part and texts), its product and file name;
#   - each README.txt names VERSION and says what ran on its width.
# Usage: check_windows_package.sh DIST VERSION
set -euo pipefail
dist=$1
version=$2
IFS=. read -r major minor patch <<<"$version"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL $*"; exit 1; }

sums="Ombrelix-$version-windows.sha256"
[ -f "$dist/$sums" ] || fail "$dist/$sums is missing"
listed=$(awk '{print $2}' "$dist/$sums" | sort | tr '\n' ' ')
[ "$listed" = "Ombrelix-$version-windows-x64.zip Ombrelix-$version-windows-x86.zip " ] ||
  fail "$sums lists [$listed]"
(cd "$dist" && sha256sum --quiet -c "$sums") || fail "an archive does not match $sums"

expected=$(printf '%s\n' Ombrelix.dll Ombrelix.xml README.txt ombrelix-host.exe | sort)
for width in x86 x64; do
  zip="$dist/Ombrelix-$version-windows-$width.zip"
  [ -f "$zip" ] || fail "$zip is missing"
  actual=$(unzip -Z1 "$zip" | sort)
  [ "$actual" = "$expected" ] || fail "$zip holds [$(echo "$actual" | tr '\n' ' ')]"
  mkdir "$tmp/$width"
  unzip -q "$zip" -d "$tmp/$width"

  triple=$([ $width = x86 ] && echo i686 || echo x86_64)
  # windres reads the resources back out of the DLL as resource script text.
  rc=$("$triple-w64-mingw32-windres" -J coff -i "$tmp/$width/Ombrelix.dll" -O rc 2>&1) ||
    fail "$width Ombrelix.dll: no resources ($rc)"
  grep -q 'VERSIONINFO' <<<"$rc" || fail "$width Ombrelix.dll carries no version resource"
  want=(
    "FILEVERSION $major, *$minor, *$patch, *0"
    "PRODUCTVERSION $major, *$minor, *$patch, *0"
    "VALUE \"FileVersion\", \"$version\""
    "VALUE \"ProductVersion\", \"$version\""
    "VALUE \"ProductName\", \"Ombrelix\""
    "VALUE \"OriginalFilename\", \"Ombrelix.dll\""
    "VALUE \"FileDescription\", \"[^\"]+\""
  )
  for line in "${want[@]}"; do
    grep -Eq "^\s*$line\s*$" <<<"$rc" || fail "$width Ombrelix.dll: version resource lacks [$line]"
  done
  readme=$(tr -d '\r' <"$tmp/$width/README.txt")
  grep -q "^Ombrelix.dll $version " <<<"$readme" || fail "$width README.txt does not name version $version"
  grep -q '@[A-Z_]*@' <<<"$readme" && fail "$width README.txt has unfilled fields"
  grep -A1 '^What ran on this width' <<<"$readme" | grep -q "$width" ||
    fail "$width README.txt does not say what ran on $width"
  echo "package $width: $(echo "$actual" | tr '\n' ' ')version resource $version"
done
