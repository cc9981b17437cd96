#!/usr/bin/env bash
# Runs a Windows test program under Xvfb in a Wine prefix of its own (the
# shared test prefix has no display), with the fonts a real system has.
set -u
exe="$1"; shift
prefix="$(mktemp -d /tmp/vexa-ui-wine.XXXXXX)"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME="$prefix/home"
mkdir -p "$HOME"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  wineboot -i >/dev/null 2>&1; wineserver -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
  wine "$@"' sh "$exe" "$@"
rc=$?
wineserver -k 2>/dev/null
rm -rf "$prefix"
exit $rc
