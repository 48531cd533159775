#!/usr/bin/env bash
# Builds the Windows Installer package from programs installed into a folder
# (cmake --install of the mingw build), signs it (scripts/sign.sh), and
# leaves it at OUT.
#   scripts/msi.sh STAGE VERSION OUT
# STAGE holds Quillon.exe, quillon-flash.exe and LICENSE.txt, signed already
# when signing. The product code is made from the version alone, so that one
# version is always one product (see dist/windows/quillon.wxs).
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: scripts/msi.sh STAGE VERSION OUT" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
stage="$(cd "$1" && pwd)" version="$2" out="$3"
for f in Quillon.exe quillon-flash.exe LICENSE.txt; do
  [[ -f "$stage/$f" ]] || { echo "msi.sh: no $f in $stage" >&2; exit 1; }
done
product_code="$(python3 -c 'import sys, uuid
print(str(uuid.uuid5(uuid.UUID("6f2b8c41-3d5e-4a7b-9c1d-8e4f2a6b0c93"), "Quillon " + sys.argv[1])).upper())' "$version")"
cp "$root/res/quillon.ico" "$stage/quillon.ico"
# wixl takes the sources' paths relative to the folder it runs in.
(cd "$stage" && wixl -a x64 -D Version="$version" -D ProductCode="$product_code" -D SourceDir=. \
  -D IconFile=quillon.ico -o "$stage/quillon.msi" "$root/dist/windows/quillon.wxs")
rm -f "$stage/quillon.ico"
"$root/scripts/sign.sh" "$stage/quillon.msi"
mv -f "$stage/quillon.msi" "$out"
echo "msi.sh: $out (version $version, product code {$product_code})" >&2
