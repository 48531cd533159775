#!/usr/bin/env bash
# Tries the packages in build/packages (scripts/package.sh makes them) as a
# user would, and exits non-zero on any problem:
#   the .deb   lintian; its contents; unpacked into a scratch root (never
#              installed): quillon-flash --version, a font download into the
#              built-in emulated printer, each manual page through man -l
#   the .exe   under Wine: a silent install into C:\Quillon, a font download
#              by the installed quillon-flash.exe, a silent uninstall that
#              leaves nothing behind
#   the .zip   holds both programs
#   the .msi   under Wine: msiexec /i /qn installs into Program Files\Quillon
#              (files, Start-menu shortcut, Add/Remove Programs entry); the
#              installed quillon-flash.exe completes a font download; an MSI of
#              a higher version (built here from the same programs) replaces it
#              and leaves one entry, and installing it again changes nothing;
#              an older one is refused; msiexec /x /qn leaves nothing behind
#   signatures when QUILLON_SIGN_CA names the authority that issued the
#              signing certificate: every program, installer, uninstaller and
#              MSI verifies with osslsigncode verify -CAfile
#   versions   each Windows program's file version is the package's
set -euo pipefail
# The downloads tried here stay out of the user's download history and the
# system log.
export QUILLON_HISTORY=off
cd "$(dirname "$0")/.."
scripts/install-deps.sh --wine --packaging
root_dir="$PWD"
packages="$root_dir/build/packages"

problems=0
fail() {
  echo "check-packages: FAIL: $*" >&2
  problems=$((problems + 1))
}
pass() {
  echo "check-packages: ok: $*" >&2
}
section() {
  echo >&2
  echo "== $*" >&2
}

# The one file matching a pattern in build/packages.
one_package() {
  local matches=("$packages"/$1)
  [[ ${#matches[@]} -eq 1 && -f "${matches[0]}" ]] || {
    echo "check-packages: expected one $1 in $packages (scripts/package.sh makes it)" >&2
    exit 1
  }
  echo "${matches[0]}"
}
deb="$(one_package 'quillon_*_amd64.deb')"
setup="$(one_package 'Quillon-*-win64-setup.exe')"
zip="$(one_package 'Quillon-*-win64.zip')"
msi="$(one_package 'Quillon-*-win64.msi')"
version="$(dpkg-deb -f "$deb" Version)"

work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-check-packages.XXXXXX")"
wine_started=""
cleanup() {
  [[ -n "$wine_started" ]] && wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

# A font image, and the check that an emulated flash holds it: fonts start at
# sector 18 (0xE0000), everything below stays erased.
head -c 100000 /dev/urandom >"$work/fonts.bin"
check_flash() {
  local flash="$1" what="$2" start=$((0xE0000))
  if [[ ! -f "$flash" ]]; then
    fail "$what: the emulated printer wrote no flash image"
  elif ! cmp -s <(tail -c +$((start + 1)) "$flash" | head -c 100000) "$work/fonts.bin"; then
    fail "$what: the flash does not hold the font image at 0xE0000"
  elif [[ $(head -c "$start" "$flash" | tr -d '\377' | wc -c) -ne 0 ]]; then
    fail "$what: bytes below 0xE0000 were written"
  else
    pass "$what: the font image is in the emulated flash at 0xE0000"
  fi
}

# The Authenticode signature of each file, against the authority in
# QUILLON_SIGN_CA; nothing to do when the packages are not signed.
verify_signed() {
  [[ -n "${QUILLON_SIGN_CA:-}" ]] || return 0
  local file
  for file in "$@"; do
    if osslsigncode verify -CAfile "$QUILLON_SIGN_CA" -in "$file" >"$work/verify.out" 2>&1; then
      pass "signed: $(basename "$file") ($(grep -m1 'Subject:' "$work/verify.out" | sed 's/^[[:space:]]*//'))"
    else
      fail "$(basename "$file") is not signed by the authority in QUILLON_SIGN_CA: $(tail -n 3 "$work/verify.out" | tr '\n' ' ')"
    fi
  done
}
# The FileVersion string of a Windows program's version resource.
file_version() {
  strings -el "$1" | grep -A1 -x FileVersion | tail -n 1
}
check_versions() {
  local file got
  for file in "$@"; do
    got="$(file_version "$file")"
    if [[ "$got" == "$version" ]]; then
      pass "$(basename "$file"): file version $got"
    else
      fail "$(basename "$file"): file version '$got', not the package's $version"
    fi
  done
}
[[ -n "${QUILLON_SIGN_CA:-}" ]] || echo "check-packages: QUILLON_SIGN_CA not set: signatures are not checked" >&2

section "lintian $(basename "$deb")"
if lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.out" 2>&1; then
  pass "lintian: no errors or warnings"
else
  fail "lintian found errors or warnings"
fi
cat "$work/lintian.out" >&2

section "dpkg-deb -c $(basename "$deb")"
dpkg-deb -c "$deb" | tee "$work/contents" >&2
for f in usr/bin/quillon usr/bin/quillon-flash usr/bin/quillon-printer-sim \
  usr/share/doc/quillon/copyright; do
  grep -q " \./$f\$" "$work/contents" || fail "the package has no /$f"
done
echo "Depends: $(dpkg-deb -f "$deb" Depends)" >&2

section "unpacked into a scratch root"
unpacked="$work/root"
dpkg-deb -x "$deb" "$unpacked"
for program in "$unpacked"/usr/bin/*; do
  if ldd "$program" | grep -q "not found"; then
    fail "$(basename "$program") lacks libraries: $(ldd "$program" | grep "not found" | tr -s ' \t' ' ')"
  fi
done
flash_cli="$unpacked/usr/bin/quillon-flash"
if out="$("$flash_cli" --version 2>&1)" && [[ "$out" == *"$version"* ]]; then
  pass "quillon-flash --version: $out"
else
  fail "quillon-flash --version printed '$out', not version $version"
fi
status=0
"$flash_cli" -q -t font -p "sim:flash=$work/f.bin" "$work/fonts.bin" >"$work/cli.out" 2>&1 || status=$?
cat "$work/cli.out" >&2
if [[ $status -eq 0 ]]; then
  pass "quillon-flash font download into sim: exit 0"
  check_flash "$work/f.bin" "quillon-flash (Linux)"
else
  fail "quillon-flash font download into sim ended with status $status"
fi

pages=()
if [[ -d "$unpacked/usr/share/man" ]]; then
  mapfile -t pages < <(find "$unpacked/usr/share/man" -type f -name '*.[1-9]*' | sort)
fi
if [[ ${#pages[@]} -eq 0 ]]; then
  echo "check-packages: the package has no manual pages yet: man -l skipped" >&2
fi
for page in "${pages[@]}"; do
  name="${page#"$unpacked"/}"
  if MANWIDTH=80 man --warnings -l "$page" >"$work/man.out" 2>"$work/man.err" &&
    [[ -s "$work/man.out" && ! -s "$work/man.err" ]]; then
    pass "man -l /$name: $(head -n 1 "$work/man.out" | tr -s ' ')"
  else
    fail "man -l /$name: $(cat "$work/man.err")"
  fi
done

section "$(basename "$zip")"
unzip -l "$zip" | tee "$work/zip.list" >&2
for f in Quillon.exe quillon-flash.exe; do
  grep -q "/$f\$" "$work/zip.list" || fail "the zip has no $f"
done
unzip -q -d "$work/zip" "$zip"
mapfile -t zipped < <(find "$work/zip" -name '*.exe' | sort)
check_versions "${zipped[@]}"
verify_signed "${zipped[@]}"

section "$(basename "$setup") under Wine"
verify_signed "$setup"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
wine_start
wine_started=1
drive_c="$WINEPREFIX/drive_c"
target="$drive_c/Quillon"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon'
rm -rf "$target"
find "$drive_c" -path '*Start Menu*' -name 'Quillon*' -exec rm -rf {} + 2>/dev/null || true
"$QUILLON_WINE" reg delete "$uninstall_key" /f </dev/null >/dev/null 2>&1 || true

# Windows programs run with their output in files: see wine-env.sh.
run_windows() {
  local status=0
  (cd "$work/win" && "$QUILLON_WINE" "$@" </dev/null >"$work/win.out" 2>"$work/win.err") || status=$?
  tr -d '\r' <"$work/win.out" >&2
  tr -d '\r' <"$work/win.err" >&2
  return $status
}
mkdir -p "$work/win"
cp "$work/fonts.bin" "$work/win/fonts.bin"

status=0
run_windows "$setup" /S '/D=C:\Quillon' || status=$?
[[ $status -eq 0 ]] || fail "the silent install ended with status $status"
echo "Installed into C:\\Quillon:" >&2
(cd "$target" 2>/dev/null && find . -type f | sort | sed 's|^\./|  |') >&2 || true
for f in Quillon.exe quillon-flash.exe Uninstall.exe; do
  [[ -f "$target/$f" ]] || fail "the installer put no $f into C:\\Quillon"
done
verify_signed "$target/Quillon.exe" "$target/quillon-flash.exe" "$target/Uninstall.exe"
check_versions "$target/Quillon.exe" "$target/quillon-flash.exe"
shortcut="$(find "$drive_c" -path '*Start Menu*' -name 'Quillon.lnk' | head -n 1)"
if [[ -n "$shortcut" ]]; then
  pass "Start-menu shortcut: ${shortcut#"$drive_c"/}"
else
  fail "the installer made no Start-menu shortcut Quillon"
fi
if run_windows reg query "$uninstall_key" /v UninstallString 2>/dev/null &&
  grep -q 'C:\\Quillon\\Uninstall.exe' "$work/win.out"; then
  pass "registered in Add/Remove Programs"
else
  fail "no uninstaller registered under $uninstall_key"
fi

# A font download into sim by an installed quillon-flash.exe: PROGRAM FLASH WHAT.
windows_download() {
  local status=0 last
  run_windows "$1" -t font -p "sim:flash=$2" fonts.bin || status=$?
  last="$(tail -n 1 "$work/win.out" | tr -d '\r')"
  if [[ $status -eq 0 && "$last" == "result 1: Download successfully completed!" ]]; then
    pass "$3: font download into sim, exit 0, '$last'"
    check_flash "$work/win/$2" "$3"
  else
    fail "$3: status $status, last line '$last'"
  fi
}
windows_download 'C:\Quillon\quillon-flash.exe' flash.bin "quillon-flash.exe (installed)"

# An NSIS uninstaller copies itself elsewhere and returns at once; with _?=
# it runs in place and returns when done, and cannot remove itself. Under
# Wine a silent uninstall once left files behind and did not when run again:
# what is left is named, and the uninstall is run a second time, saying so.
leftovers() { (cd "$target" 2>/dev/null && find . -mindepth 1 ! -name Uninstall.exe | sort) || true; }
for attempt in 1 2; do
  status=0
  run_windows 'C:\Quillon\Uninstall.exe' /S '_?=C:\Quillon' || status=$?
  left="$(leftovers)"
  [[ $status -ne 0 || -z "$left" || $attempt -eq 2 ]] && break
  echo "check-packages: the silent uninstall left $(echo "$left" | tr '\n' ' ')under Wine;" \
    "running it once more" >&2
done
[[ $status -eq 0 ]] || fail "the silent uninstall ended with status $status"
if [[ -z "$left" ]]; then
  pass "the uninstaller left only itself in C:\\Quillon"
else
  fail "the uninstaller left behind in C:\\Quillon: $(echo "$left" | tr '\n' ' ')"
fi
rm -f "$target/Uninstall.exe"
rmdir "$target" 2>/dev/null || true
[[ ! -e "$target" ]] || fail "C:\\Quillon is still there"
left="$(find "$drive_c" -path '*Start Menu*' -name 'Quillon*')"
[[ -z "$left" ]] || fail "the uninstaller left Start-menu entries: $left"
if "$QUILLON_WINE" reg query "$uninstall_key" </dev/null >/dev/null 2>&1; then
  fail "the uninstaller left $uninstall_key"
else
  pass "the uninstaller removed the shortcut and the Add/Remove Programs entry"
fi

section "$(basename "$msi") under Wine"
verify_signed "$msi"
echo "The MSI's tables:" >&2
for table in Property Directory Component File Shortcut Upgrade; do
  msiinfo export "$msi" "$table" | tr -d '\r' | sed "s/^/  $table: /" >&2
done
program_files="$drive_c/Program Files/Quillon"
uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The Add/Remove Programs entries of Quillon's MSI products: "{CODE} VERSION"
# per line.
msi_products() {
  "$QUILLON_WINE" reg query "$uninstall_root" /s </dev/null 2>/dev/null | tr -d '\r' | awk '
    /^HKEY/ { key = $0; sub(/.*\\/, "", key); name = ""; ver = "" }
    $1 == "DisplayName" { name = $3 }
    $1 == "DisplayVersion" { ver = $3 }
    key ~ /^\{/ && name == "Quillon" && ver != "" && !(key in seen) { seen[key]; print key, ver }'
}
# msiexec, silently, from the work folder: its exit status.
msiexec_quiet() {
  local status=0
  run_windows msiexec "$@" /qn || status=$?
  return $status
}
cp "$msi" "$work/win/quillon.msi"
status=0
msiexec_quiet /i quillon.msi || status=$?
[[ $status -eq 0 ]] || fail "msiexec /i $(basename "$msi") /qn ended with status $status"
echo "Installed into C:\\Program Files\\Quillon:" >&2
(cd "$program_files" 2>/dev/null && find . -type f | sort | sed 's|^\./|  |') >&2 || true
for f in Quillon.exe quillon-flash.exe LICENSE.txt; do
  [[ -f "$program_files/$f" ]] || fail "the MSI put no $f into Program Files\\Quillon"
done
check_versions "$program_files/Quillon.exe" "$program_files/quillon-flash.exe"
verify_signed "$program_files/Quillon.exe" "$program_files/quillon-flash.exe"
shortcut="$(find "$drive_c" -path '*Start Menu*' -name 'Quillon.lnk' | head -n 1)"
[[ -n "$shortcut" ]] && pass "MSI Start-menu shortcut: ${shortcut#"$drive_c"/}" ||
  fail "the MSI made no Start-menu shortcut Quillon"
products="$(msi_products)"
echo "Add/Remove Programs: $products" >&2
[[ "$products" == *" $version" && $(wc -l <<<"$products") -eq 1 ]] ||
  fail "after the install, not one Quillon $version entry: '$products'"

windows_download 'C:\Program Files\Quillon\quillon-flash.exe' msi-flash.bin "quillon-flash.exe (MSI)"

# A newer package from the same programs, as the next release would be.
IFS=. read -r major minor patch <<<"$version"
newer="$major.$minor.$((patch + 1))"
stage="$root_dir/build/mingw/msi-stage"
if scripts/msi.sh "$stage" "$newer" "$work/win/newer.msi" 2>"$work/msi.err"; then
  status=0
  msiexec_quiet /i newer.msi || status=$?
  products="$(msi_products)"
  echo "After the upgrade to $newer: $products" >&2
  if [[ $status -eq 0 && "$products" == *" $newer" && $(wc -l <<<"$products") -eq 1 &&
    -f "$program_files/quillon-flash.exe" ]]; then
    pass "the $newer MSI replaced $version in one step: one entry"
  else
    fail "the upgrade to $newer: status $status, entries '$products'"
  fi
  status=0
  msiexec_quiet /i newer.msi || status=$?
  [[ $status -eq 0 && "$(msi_products)" == "$products" ]] &&
    pass "installing $newer again: status 0, nothing changed" ||
    fail "installing $newer again: status $status, entries '$(msi_products)'"
  status=0
  msiexec_quiet /i quillon.msi || status=$?
  # Windows ends the refused downgrade with 1603; Wine 8's msiexec with 67.
  [[ $status -ne 0 && "$(msi_products)" == "$products" ]] &&
    pass "the older $version MSI is refused (status $status) and $newer stays" ||
    fail "installing the older $version over $newer: status $status, entries '$(msi_products)'"
  status=0
  msiexec_quiet /x newer.msi || status=$?
  [[ $status -eq 0 ]] || fail "msiexec /x newer.msi /qn ended with status $status"
else
  fail "scripts/msi.sh could not build the $newer MSI: $(cat "$work/msi.err")"
  msiexec_quiet /x quillon.msi || true
fi
[[ ! -e "$program_files" ]] || fail "Program Files\\Quillon is still there: $(find "$program_files")"
left="$(find "$drive_c" -path '*Start Menu*' -name 'Quillon*')"
[[ -z "$left" ]] || fail "the MSI's uninstall left Start-menu entries: $left"
[[ -z "$(msi_products)" ]] || fail "the MSI's uninstall left entries: $(msi_products)"
[[ -e "$program_files" || -n "$left" || -n "$(msi_products)" ]] ||
  pass "msiexec /x removed the files, the shortcut and the Add/Remove Programs entry"

echo >&2
if [[ $problems -ne 0 ]]; then
  echo "check-packages: $problems problem(s)" >&2
  exit 1
fi
echo "check-packages: all packages passed" >&2
