#!/usr/bin/env bash
# Failover benchmark: silent installs under Wine whose product and appdata
# packs' own host fails while the start answer lists a mirror (the roads of
# scripts/test-extra-sources, with a larger product pack). Prints
#   - own host down (nothing listening), mirror nginx: the time from the start
#     of the product pack's download to its first byte from the mirror, as the
#     installer logs it; goal <= 5 s;
#   - own host stalling halfway through a product pack of BENCH_PACK_MIB MiB
#     (default 32, incompressible), mirror vexa-server: the bytes fetched in
#     all (what the stalling host sent plus what the mirror sent, from both
#     servers' logs) over the pack's size; goal <= 1.2; and whether the
#     install ended with the packed files, byte for byte.
# Runs in a network namespace of its own. Not a test: exits 0 when the
# installs ran, whatever the figures.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
source "$ROOT/bench/lib.sh"
cd "$ROOT"
bench_private_loopback "$@"

PACK_MIB="${BENCH_PACK_MIB:-32}"
bench_build VexaSetup demo_product

WORK="$(mktemp -d /tmp/vexa-bench-failover.XXXXXX)"
SERVER_PID=""
DEADLINE=300
source "$ROOT/scripts/wine-env"
source "$ROOT/scripts/test-extra-sources"
cleanup() {
  [ -n "$SERVER_PID" ] && { kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; }
  nginx_stop || true
  stall_stop || true
  wine_prefix_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

stop_server() { kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; SERVER_PID=""; }
installer_log() {
  ls "$WINEPREFIX"/drive_c/users/*/Temp/VexaInstall.log "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp/VexaInstall.log \
    2>/dev/null | head -1
}
# run_install <args...>: as scripts/test-extra's; sets RC and PROGRAM.
run_install() {
  wine_prefix_start
  local setup_dir="$WINEPREFIX/drive_c/downloads"
  mkdir -p "$setup_dir"
  cp "build/$TREE/VexaSetup.exe" "$setup_dir/VexaSetup[demo].exe"
  set +e
  LC_ALL=C.UTF-8 timeout "$DEADLINE" "$ROOT/scripts/wine-run" "$setup_dir/VexaSetup[demo].exe" /silent /secondInstance \
    /runAfterInstall false "$@" >/dev/null 2>&1
  RC=$?
  set -e
  wineserver -w 2>/dev/null || true
  local exec
  exec="$(grep -A20 -i '^\[Software\\\\Vexa\]' "$WINEPREFIX/user.reg" | grep -m1 '^"exec"=' \
    | sed -E 's/^"exec"="(.*)"$/\1/; s/\\\\/\\/g' || true)"
  PROGRAM="$(dirname "$(echo "$exec" | sed -E 's#^[Cc]:#'"$WINEPREFIX"'/drive_c#; s#\\#/#g')")"
}

echo "== content: the demo packs; for the stall, a product pack with ${PACK_MIB} MiB of incompressible filler"
VEXA_WINE_TREE="$TREE" scripts/make-demo-content "$WORK/demo" >/dev/null
EBZ=build/native/tools/ebztool/ebztool
cp -a "$WORK/demo/content" "$WORK/big"
"$EBZ" unpack "$WORK/demo/content/Vexa.ebz" "$WORK/product" >/dev/null
head -c $((PACK_MIB * 1024 * 1024)) /dev/urandom >"$WORK/product/Vexa.jar.data"
"$EBZ" pack "$WORK/product" "$WORK/big/Vexa.ebz" --preset 0 >/dev/null

echo "== own host down (nothing on $SOURCES_DEAD), packs from nginx on $SOURCES_NGINX"
sources_own_host_down "$WORK/demo/answers.json" || { echo "servers did not start"; exit 1; }
echo "  exit code $RC; $(served_line vexa8z | sed -E 's/^.*(Pack vexa8z)/\1/')"
if [ -n "${SOURCES_FIRST_BYTE_MS:-}" ]; then
  awk -v ms="$SOURCES_FIRST_BYTE_MS" 'BEGIN { printf "  time to the first byte from the mirror: %.2f s (goal <= 5 s): ratio to the goal %.2f\n", ms / 1000, ms / 5000 }'
fi
wine_prefix_stop
nginx_stop
stop_server

echo "== own host stalling halfway through the product pack ($(stat -c %s "$WORK/big/Vexa.ebz") bytes), mirror vexa-server"
sources_own_host_stalls "$WORK/big" || { echo "servers did not start"; exit 1; }
echo "  exit code $RC; $(served_line vexa8z | sed -E 's/^.*(Pack vexa8z)/\1/')"
exact=no
same_as_packed "$WORK/big/Vexa.ebz" "$PROGRAM" && exact=yes
awk -v f="$SOURCES_FETCHED" -v n="$SOURCES_LENGTH" -v s="$(stall_pack_bytes "$WORK/sources-stall.log")" 'BEGIN {
  printf "  fetched in all: %d bytes (stalling host %d, mirror %d) of %d\n", f, s, f - s, n
  printf "  bytes fetched in all / pack size: %.3f (goal <= 1.2)\n", f / n }'
echo "  installed files are the packed ones, byte for byte: $exact"
wine_prefix_stop
stall_stop
stop_server
