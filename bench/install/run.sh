#!/usr/bin/env bash
# Install benchmark: a silent install under Wine of a 64 MiB product pack and
# a 32 MiB runtime pack (incompressible, made here) from vexa-server on
# loopback, each connection limited to BENCH_RATE_KIB KiB/s. Prints
#   - the install's wall time (VexaSetup.exe start to exit),
#   - the longest single download alone at the same limit (vexaget.exe, 4
#     connections, the product pack),
#   - the unpack time of both packs alone (ebztool.exe under the same Wine),
#   - install / max(longest download, unpack alone); goal <= 1.15: the
#     runtime and pack downloads overlap, each pack is unpacked while it
#     arrives, and the install adds little beyond the slower of the two.
# BENCH_KEEP_LOG=<file> keeps the install's log there, to see where its time
# went. Runs in a network namespace of its own (the installer's server address is
# built in as 127.0.0.1:8731). Not a test: exits 0 when the install worked,
# whatever the ratio.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
source "$ROOT/bench/lib.sh"
cd "$ROOT"
bench_private_loopback "$@"

PRODUCT_MIB=64
RUNTIME_MIB=32

bench_build VexaSetup vexaget ebztool demo_product

WORK="$(mktemp -d /tmp/vexa-bench-install.XXXXXX)"
SERVER_PID=""
source "$ROOT/scripts/wine-env"
cleanup() {
  [ -n "$SERVER_PID" ] && { kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; }
  wine_prefix_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "== content: the demo packs with ${PRODUCT_MIB} MiB and ${RUNTIME_MIB} MiB of incompressible filler"
VEXA_WINE_TREE="$TREE" scripts/make-demo-content "$WORK/demo" >/dev/null
EBZ=build/native/tools/ebztool/ebztool
CONTENT="$WORK/demo/content"
for p in Vexa jre_packed; do
  rm -rf "$WORK/$p"
  "$EBZ" unpack "$CONTENT/$p.ebz" "$WORK/$p" >/dev/null
done
rm -f "$WORK/jre_packed/jre/lib/rt.jar"
head -c $((PRODUCT_MIB * 1024 * 1024)) /dev/urandom >"$WORK/Vexa/Vexa.jar.data"
mkdir -p "$WORK/jre_packed/jre/lib"
head -c $((RUNTIME_MIB * 1024 * 1024)) /dev/urandom >"$WORK/jre_packed/jre/lib/rt.jar"
"$EBZ" pack "$WORK/Vexa" "$CONTENT/Vexa.ebz" >/dev/null
"$EBZ" pack "$WORK/jre_packed" "$CONTENT/jre_packed.ebz" >/dev/null
ls -l "$CONTENT/Vexa.ebz" "$CONTENT/jre_packed.ebz" "$CONTENT/appdata.ebz" | awk '{printf "  %-28s %10d bytes\n", $9, $5}' \
  | sed "s#$CONTENT/##"

build/native/server/vexa-server --root "$CONTENT" --db "$WORK/events.sqlite" --listen "$LISTEN" \
  --config "$WORK/demo/answers.json" --rate "$RATE" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do curl -s -o /dev/null --max-time 1 "http://$LISTEN/java.json" && break; sleep 0.2; done

windows_path() { local p="$1"; echo "Z:${p//\//\\}"; }
now_ms() { date +%s%3N; }

wine_prefix_start
# One wine server for the three programs that follow: a program started just
# as the last one's server winds down can lose its connection to it ("wine
# client error ... Connection reset by peer").
wineserver -p 2>/dev/null || true

echo "== the longest download alone: Vexa.ebz, 4 connections at $((RATE / 1024)) KiB/s each"
# Timed from outside, as the unpack alone and the install are: each of the
# three figures then holds the start and end of its programs under Wine.
t0="$(now_ms)"
result="$("$ROOT/scripts/wine-run" "build/$TREE/tools/vexaget/vexaget.exe" "http://$LISTEN/Vexa.ebz" \
          "$(windows_path "$WORK/alone.ebz")" --threads 4 2>/dev/null | tr -d '\r')"
download_ms=$(( $(now_ms) - t0 ))
inside_ms="$(echo "$result" | sed -n 's/^elapsed_ms \([0-9]*\)$/\1/p')"
cmp -s "$WORK/alone.ebz" "$CONTENT/Vexa.ebz" || { echo "the download alone came out wrong"; exit 1; }
echo "  ${download_ms} ms (${inside_ms} ms of it inside the program)"

echo "== unpacking both packs alone (ebztool.exe under Wine)"
EBZ_WIN="$(find "build/$TREE/tools" -name ebztool.exe | head -1)"
t0="$(now_ms)"
# unpack_alone <pack> <folder>: what went wrong is shown rather than ending
# the script in silence under set -e.
unpack_alone() {
  "$ROOT/scripts/wine-run" "$EBZ_WIN" unpack "$(windows_path "$1")" "$(windows_path "$2")" >"$2.log" 2>&1 \
    || { echo "  ebztool.exe unpack $(basename "$1"): exit $?"; sed 's/^/  | /' "$2.log"; }
}
unpack_alone "$CONTENT/Vexa.ebz" "$WORK/u1"
unpack_alone "$CONTENT/jre_packed.ebz" "$WORK/u2"
unpack_ms=$(( $(now_ms) - t0 ))
[ -f "$WORK/u1/Vexa.jar.data" ] && [ -f "$WORK/u2/jre/lib/rt.jar" ] || { echo "unpacking alone failed"; exit 1; }
echo "  ${unpack_ms} ms"
rm -rf "$WORK/u1" "$WORK/u2" "$WORK/alone.ebz"
wine_prefix_stop

echo "== the silent install (fresh prefix; its creation and its wine server's start are not counted)"
wine_prefix_start
# As for the programs above, the wine server is up before the clock starts:
# its start is Wine's cost, not the installer's, and a cold one adds about a
# second here.
wineserver -p 2>/dev/null || true
mkdir -p "$WINEPREFIX/drive_c/downloads"
cp "build/$TREE/VexaSetup.exe" "$WINEPREFIX/drive_c/downloads/VexaSetup[bench].exe"
t0="$(now_ms)"
set +e
timeout 900 "$ROOT/scripts/wine-run" "$WINEPREFIX/drive_c/downloads/VexaSetup[bench].exe" /silent /secondInstance \
  /runAfterInstall false >/dev/null 2>&1
rc=$?
set -e
install_ms=$(( $(now_ms) - t0 ))
echo "  exit code $rc, ${install_ms} ms"
program="$(find "$WINEPREFIX/drive_c" -name Vexa.jar.data -path '*Vexa*' | head -1)"
if [ "$rc" != 0 ] || [ -z "$program" ] || [ -z "$(find "$WINEPREFIX/drive_c" -path '*jre/lib/rt.jar' | head -1)" ]; then
  echo "the install did not complete"
  # find, not ls: one of the two places is always missing, and under
  # pipefail ls's complaint would end the script before the log is shown.
  log="$(find "$WINEPREFIX/drive_c/users" -name VexaInstall.log 2>/dev/null | head -1)"
  [ -n "$log" ] && grep -a "ERROR\|FAILED" "$log" | tail -20
  exit 1
fi
if [ -n "${BENCH_KEEP_LOG:-}" ]; then
  find "$WINEPREFIX/drive_c/users" -name VexaInstall.log -exec cp {} "$BENCH_KEEP_LOG" \; 2>/dev/null || true
fi
trace="$(sqlite3 "$WORK/events.sqlite" "select trace from events where mode='installFinish'")"
echo "  timers reported: $trace"

echo "== figures"
echo "install wall time:                   ${install_ms} ms"
echo "longest single download alone:       ${download_ms} ms"
echo "unpack of both packs alone:          ${unpack_ms} ms"
awk -v i="$install_ms" -v d="$download_ms" -v u="$unpack_ms" \
  'BEGIN { m = d > u ? d : u; printf "install / max(longest download, unpack alone): %.2f (goal <= 1.15)\n", i / m }'
