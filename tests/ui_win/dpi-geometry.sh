#!/usr/bin/env bash
# Every window of the installer at 96 and at 144 DPI (Wine's LogPixels):
# each control's rectangle in its parent at 144 DPI is 1.5 times its 96-DPI
# one, give or take a pixel, and the client areas match the same way.
# wizard-preview shows each page and dialog; wizard-driver reads the layout.
#   dpi-geometry.sh <wizard-preview.exe> <wizard-driver.exe>
set -u
if [ -z "${VEXA_UI_NETNS:-}" ] && unshare -n true 2>/dev/null; then
  export VEXA_UI_NETNS=1
  exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$0" "$@"
fi
PREVIEW="$1" DRIVER="$2"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
source "$ROOT/scripts/lib.sh"
source "$ROOT/scripts/wine-env"
prefix="$(mktemp -d /tmp/vexa-dpi-wine.XXXXXX)"
work="$(mktemp -d /tmp/vexa-dpi.XXXXXX)"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null; rm -rf "$prefix"; [ -n "${VEXA_DPI_KEEP:-}" ] || rm -rf "$work"' EXIT
# A UTF-8 locale: the Russian text the driver waits for goes through the
# command line.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME="$prefix/home" LC_ALL=C.UTF-8
mkdir -p "$HOME"
template="$(wine_prefix_template)" && cp -a "$template/." "$prefix/" 2>/dev/null || wine_boot
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
# The loader for Wine's own programs (reg): wine64 where 32-bit ones cannot run.
WINE_LOADER=wine
can_run_32bit || WINE_LOADER=/usr/lib/wine/wine64
export PREVIEW DRIVER ROOT work WINE_LOADER

# view and the driver commands that wait for it to stand
VIEWS="${VEXA_DPI_VIEWS:-}"
[ -n "$VIEWS" ] || VIEWS='download|wait 30000
settings|wait-text "Add firewall exception" 30000
partner|wait-text "Full Install (recommended)" 30000
partnerImg|wait-text "Partner terms" 30000
yandex|wait-text "Узнать подробности" 30000
fail|wait 30000
licence|licence 30000'
export VIEWS

timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  run() { "$ROOT/scripts/wine-run" "$@"; }
  for dpi in 96 144; do
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    "$WINE_LOADER" reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
    wineserver -w 2>/dev/null
    # One Wine server for all the views of a DPI.
    wineserver -p 2>/dev/null
    while IFS="|" read -r view ready; do
      run "$PREVIEW" "$view" >/dev/null 2>&1 &
      pid=$!
      eval "set -- $ready"
      if run "$DRIVER" "$@" >>"$work/driver.log" 2>&1; then
        # Widgets that come with a page are shown with it; a moment for the
        # last posted messages.
        sleep 0.3
        eval "run \"\$DRIVER\" $ready layout" | tr -d "\r" >"$work/$view.$dpi"
      else
        echo "the $view view did not come up at $dpi DPI" >"$work/$view.$dpi"
      fi
      # Closed first: the windows of a killed program may stay on the screen for
      # a while, and the next view must be the only visible one.
      run "$DRIVER" close >/dev/null 2>&1
      sleep 0.5
      kill -KILL $pid 2>/dev/null; wait $pid 2>/dev/null
    done <<<"$VIEWS"
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  done'

python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
views = [l.split('|')[0] for l in os.environ['VIEWS'].splitlines()]
passed = failed = 0
def read(view, dpi):
    with open(os.path.join(work, f'{view}.{dpi}')) as f:
        return [l.split() for l in f.read().splitlines() if l.strip()]
for view in views:
    a, b = read(view, 96), read(view, 144)
    problems = []
    if not a or a[0][0] != 'client' or not b or b[0][0] != 'client':
        problems.append(f'no layout: {a[:1]} / {b[:1]}')
    elif len(a) != len(b):
        problems.append(f'{len(a) - 1} controls at 96 DPI, {len(b) - 1} at 144')
    else:
        pairs = [(['client'] + a[0][1:] + ['0', '0'], ['client'] + b[0][1:] + ['0', '0'])] + list(zip(a[1:], b[1:]))
        for i, (x, y) in enumerate(pairs):
            if x[:-4] != y[:-4]:
                problems.append(f'line {i}: {x[:-4]} against {y[:-4]}')
                continue
            for name, u, v in zip('xywh', map(int, x[-4:]), map(int, y[-4:])):
                if abs(v - 1.5 * u) > 1:
                    problems.append(f'{" ".join(x)} -> {" ".join(y)}: {name} {v} is not 1.5 x {u}')
    if problems:
        failed += 1
        print(f'FAIL {view}: ' + '; '.join(problems[:6]))
    else:
        passed += 1
        print(f'ok   {view}: {len(a) - 1} controls, client {a[0][1]}x{a[0][2]} -> {b[0][1]}x{b[0][2]}')
print(f'dpi geometry: {passed} passed, {failed} failed')
sys.exit(1 if failed or not passed else 0)
PY
