#!/usr/bin/env bash
# Installs a Linux build into a scratch folder (DESTDIR, prefix /usr) and
# checks what `cmake --install` put there: every file in its place, the man
# pages rendered by man without a warning, the desktop entry valid (when
# desktop-file-validate is there), and the bash completion of quillon-flash
# loaded into bash and offering the download types and the interfaces.
# Exits non-zero on any problem, after listing them all.
# Usage: scripts/check-install.sh BUILD_DIR
set -uo pipefail
# The downloads tried here stay out of the user's download history and the
# system log.
export QUILLON_HISTORY=off

if [[ $# -ne 1 || ! -f $1/CMakeCache.txt ]]; then
  echo "usage: scripts/check-install.sh BUILD_DIR (a configured and built tree)" >&2
  exit 2
fi
build=$1
problems=0
problem() {
  echo "check-install: $*" >&2
  problems=$((problems + 1))
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/usr
if ! DESTDIR=$scratch cmake --install "$build" --prefix /usr >"$scratch.log" 2>&1; then
  cat "$scratch.log" >&2
  rm -f "$scratch.log"
  problem "cmake --install failed"
  exit 1
fi
rm -f "$scratch.log"

# The dialog program and what belongs to it are there when it was built.
with_dialog=
[[ -x $build/app/quillon ]] && with_dialog=1

programs=(quillon-flash quillon-printer-sim)
[[ $with_dialog ]] && programs+=(quillon)
icon_sizes=(16 32 48 64 128 256)
expected=(share/bash-completion/completions/quillon-flash lib/udev/rules.d/70-quillon.rules)
for program in "${programs[@]}"; do
  expected+=("bin/$program" "share/man/man1/$program.1")
done
if [[ $with_dialog ]]; then
  expected+=(share/applications/quillon.desktop)
  for size in "${icon_sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x$size/apps/quillon.png")
  done
fi
for file in "${expected[@]}"; do
  [[ -f $root/$file ]] || problem "not installed: /usr/$file"
done
for program in "${programs[@]}"; do
  [[ -x $root/bin/$program ]] || problem "not executable: /usr/bin/$program"
done
while IFS= read -r file; do
  file=${file#"$root/"}
  printf '%s\n' "${expected[@]}" | grep -qxF -- "$file" || echo "check-install: also installed: /usr/$file"
done < <(find "$root" -type f | sort)

# The programs run from where they were installed.
if [[ -x $root/bin/quillon-flash ]]; then
  version=$("$root/bin/quillon-flash" --version 2>&1)
  [[ $version == "quillon-flash "[0-9]* ]] || problem "quillon-flash --version printed: $version"
fi

# Each icon is a PNG of the size its folder says (the IHDR width and height).
if [[ $with_dialog ]]; then
  for size in "${icon_sizes[@]}"; do
    icon=$root/share/icons/hicolor/${size}x$size/apps/quillon.png
    [[ -f $icon ]] || continue
    header=$(od -An -tx1 -N24 "$icon" | tr -d ' \n')
    want=$(printf '89504e470d0a1a0a0000000d49484452%08x%08x' "$size" "$size")
    [[ $header == "$want" ]] || problem "$icon is no ${size}x$size PNG"
  done
fi

# The man pages: rendered with groff's warnings on, nothing on stderr.
if command -v man >/dev/null; then
  for program in "${programs[@]}"; do
    page=$root/share/man/man1/$program.1
    [[ -f $page ]] || continue
    text=$(MANWIDTH=80 man --warnings -l "$page" 2>"$scratch/man.err")
    status=$?
    if [[ $status -ne 0 || -s $scratch/man.err ]]; then
      problem "man -l $program.1 (status $status): $(cat "$scratch/man.err")"
    fi
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
      grep -qx "$section" <<<"$text" || problem "$program.1 has no section $section"
    done
  done
else
  problem "man is not installed: the man pages cannot be checked (apt-get install man-db)"
fi

if [[ $with_dialog ]] && command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/share/applications/quillon.desktop" >&2 ||
    problem "desktop-file-validate found fault with quillon.desktop"
fi

# The completion in a bash of its own: registered for quillon-flash, and
# what it offers after --type and --interface.
completion=$root/share/bash-completion/completions/quillon-flash
if [[ -f $completion ]]; then
  offers=$(cd "$scratch" && bash --norc --noprofile -c '
    source "$1" || exit 1
    complete -p quillon-flash || exit 1
    offer() {
      COMP_WORDS=("$@")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      COMP_LINE="$*"
      COMP_POINT=${#COMP_LINE}
      COMPREPLY=()
      _quillon_flash quillon-flash "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      echo "$* -> ${COMPREPLY[*]}"
    }
    offer quillon-flash --type ""
    offer quillon-flash --interface ""
  ' bash "$completion" 2>&1)
  expected_offers='complete -F _quillon_flash quillon-flash
quillon-flash --type  -> main ipl font "MAIN FIRMWARE" "IPL FIRMWARE" "US&EU FONT"
quillon-flash --interface  -> serial parallel usb'
  if [[ $offers != "$expected_offers" ]]; then
    problem "the completion offers, expected:"$'\n'"$expected_offers"$'\n'"but got:"$'\n'"$offers"
  else
    echo "$offers"
  fi
fi

if [[ $problems -ne 0 ]]; then
  echo "check-install: $problems problem(s)" >&2
  exit 1
fi
echo "check-install: ${#expected[@]} files installed and checked"
