#!/usr/bin/env bash
# Builds the packages and leaves them in build/packages:
#   quillon_<version>_amd64.deb          the release preset, cpack -G DEB
#   Quillon-<version>-win64-setup.exe    the mingw preset, cpack -G NSIS
#   Quillon-<version>-win64.zip          the mingw preset, cpack -G ZIP
#   Quillon-<version>-win64.msi          the mingw preset's programs, wixl
# The Windows programs, installers and MSI are signed when a certificate is
# given (QUILLON_SIGN_PKCS12 and QUILLON_SIGN_PASSWORD: see scripts/sign.sh),
# and said to be unsigned otherwise.
# scripts/check-packages.sh then tries them as a user would.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --packaging
jobs=$(nproc)
out=build/packages
mkdir -p "$out"

# cpack installs what the build tree's `make install` installs, after making
# everything the preset builds; its packages appear in the build tree. A
# build folder that is already configured is taken as it is (CI's release
# build keeps its warnings-as-errors setting and is not rebuilt).
package() {
  local preset="$1" generators="$2"
  echo "== $preset: $generators" >&2
  [[ -f "build/$preset/CMakeCache.txt" ]] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  (cd "build/$preset" && rm -f -- quillon_*.deb Quillon-*-win64* && cpack -G "$generators")
}

rm -f -- "$out"/*.deb "$out"/*.exe "$out"/*.zip "$out"/*.msi
package release DEB
cp build/release/quillon_*_amd64.deb "$out"/
package mingw "NSIS;ZIP"
cp build/mingw/Quillon-*-win64-setup.exe build/mingw/Quillon-*-win64.zip "$out"/

# The MSI: the programs installed (stripped) into a staging folder, signed
# there, then packed by wixl. check-packages.sh builds a newer one from the
# same folder.
echo "== mingw: MSI" >&2
stage=build/mingw/msi-stage
rm -rf "$stage"
cmake --install build/mingw --prefix "$stage" --strip >/dev/null
scripts/sign.sh "$stage"/*.exe
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw/CMakeCache.txt)"
scripts/msi.sh "$stage" "$version" "$out/Quillon-$version-win64.msi"

echo "== packages in $out" >&2
ls -l "$out"
