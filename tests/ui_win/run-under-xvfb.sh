#!/usr/bin/env bash
# Runs a Windows test program under Xvfb in a Wine prefix of its own (the
# shared test prefix has no display), with the fonts a real system has.
set -u
# The wizard reports to the statistics address built into it (port 8731), as
# do other Windows tests that run beside this one: a private loopback keeps
# their servers apart.
if [ -z "${VEXA_UI_NETNS:-}" ] && unshare -n true 2>/dev/null; then
  export VEXA_UI_NETNS=1
  exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$0" "$@"
fi
exe="$1"; shift
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
source "$ROOT/scripts/lib.sh"
source "$ROOT/scripts/wine-env"
prefix="$(mktemp -d /tmp/vexa-ui-wine.XXXXXX)"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME="$prefix/home"
mkdir -p "$HOME"
# A copy of the prefix Wine's first start makes, or that start itself.
template="$(wine_prefix_template)" && cp -a "$template/." "$prefix/" 2>/dev/null || template=""
# wine-run picks the loader the program needs: where the kernel runs no
# 32-bit programs, /usr/bin/wine would pick one that cannot start.
[ -n "$template" ] || wine_boot
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-run" "$exe" "$@"
rc=$?
wineserver -k 2>/dev/null
rm -rf "$prefix"
exit $rc
