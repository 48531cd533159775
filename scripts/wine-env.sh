# Wine for the Windows build's programs and tests. Source this file (bash),
# then call wine_start before running anything under Wine and wine_stop at
# the end:
#
#   source scripts/wine-env.sh && wine_start
#   ctest --preset mingw --timeout 300
#   wine_stop
#
# - The prefix lives in build/wine-prefix (64-bit, made once; about 10 s).
# - No display: the null graphics driver. Windows and dialogs can be created
#   and queried, but are never drawn.
# - COM1 is the symlink build/wine-com1 (Wine follows it at each open):
#   point it at a pseudo-terminal, e.g. quillon-printer-sim's, with
#   `ln -sfn /dev/pts/N "$QUILLON_WINE_COM1_LINK"`.
# - One persistent wineserver, started with its standard streams on
#   /dev/null. Without it every program would start (and leave behind) helper
#   processes that inherit the caller's output: a ctest or a pipe reading
#   that output would then wait for ever.

_quillon_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$_quillon_root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko; and no winemenubuilder, which Wine starts whenever a
# shortcut is made (by the installer) and at each start of the prefix: it
# writes desktop entries and icons into the user's home, and while it reads
# the installed Quillon.exe for its icon the uninstaller cannot delete it.
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
# Debian's /usr/bin/wine (package wine) is only a wrapper around this loader.
export QUILLON_WINE=/usr/lib/wine/wine64
export QUILLON_WINESERVER=/usr/lib/wine/wineserver
export QUILLON_WINE_COM1_LINK="$_quillon_root/build/wine-com1"

# Runs a Windows program (or a Wine built-in such as reg) with nothing of
# ours on its standard streams.
_wine_quiet() {
  "$QUILLON_WINE" "$@" </dev/null >/dev/null 2>&1
}

_wineserver_persistent() {
  "$QUILLON_WINESERVER" -p </dev/null >/dev/null 2>&1
}

# Makes the prefix if needed, maps COM1 and starts the persistent server.
wine_start() {
  [[ -x "$QUILLON_WINE" ]] || {
    echo "wine-env.sh: no $QUILLON_WINE (scripts/install-deps.sh --wine installs it)" >&2
    return 1
  }
  mkdir -p "$(dirname "$WINEPREFIX")"
  wine_stop  # a server left from an earlier run would keep the old settings
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "Making the Wine prefix $WINEPREFIX" >&2
    _wine_quiet wineboot -i
    "$QUILLON_WINESERVER" -w
  fi
  # Settings that Wine reads when the prefix starts: write them with a server
  # of our own, then stop it so that the next start takes them.
  _wineserver_persistent
  _wine_quiet reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
  _wine_quiet reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ \
    /d "$QUILLON_WINE_COM1_LINK" /f
  "$QUILLON_WINESERVER" -k
  "$QUILLON_WINESERVER" -w
  # Until a test points it at a line, COM1 leads nowhere.
  [[ -L "$QUILLON_WINE_COM1_LINK" ]] || ln -sfn /nonexistent "$QUILLON_WINE_COM1_LINK"
  _wineserver_persistent
  # The first program starts the prefix's services; let that be this one.
  _wine_quiet cmd /c exit 0
}

wine_stop() {
  "$QUILLON_WINESERVER" -k >/dev/null 2>&1 || true
  "$QUILLON_WINESERVER" -w >/dev/null 2>&1 || true
}
