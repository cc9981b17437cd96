#!/usr/bin/env bash
# Resume benchmark: a silent install under Wine of a 64 MiB product pack
# (incompressible, made here) from vexa-server on loopback, each connection
# limited to BENCH_RATE_KIB KiB/s, killed (wineserver -k) once the pack's
# state file holds about half of it; then the same install again in the same
# prefix, unlimited. Prints
#   - the pack's size and the bytes held when the first run was killed,
#   - the bytes the second run fetched for the pack (the Content-Length of
#     every answer, the first-byte probe included),
#   - second-run bytes / pack size; goal <= 0.55: the second run fetches
#     what the first did not keep, and hardly more,
#   - for contrast, the same figure for an install from zero (fresh prefix).
# All of it twice: with the packs from vexa-server (Content-MD5), and from an
# unmodified nginx (scripts/nginx-env: ETag and If-Range, no digest) with
# vexa-server behind it for the statistics; both ratios are printed.
# Runs in a network namespace of its own (the installer's server address is
# built in as 127.0.0.1:8731). Not a test: exits 0 when the installs worked,
# whatever the ratio.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
source "$ROOT/bench/lib.sh"
cd "$ROOT"
bench_private_loopback "$@"

PRODUCT_MIB=64

bench_build VexaSetup demo_product

WORK="$(mktemp -d /tmp/vexa-bench-resume.XXXXXX)"
SERVER_PID=""
SETUP_PID=""
source "$ROOT/scripts/wine-env"
source "$ROOT/scripts/nginx-env"
cleanup() {
  [ -n "$SERVER_PID" ] && { kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; }
  nginx_stop || true
  wine_prefix_stop
  [ -n "$SETUP_PID" ] && { wait "$SETUP_PID" 2>/dev/null || true; }
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "== content: the demo packs, the product pack with ${PRODUCT_MIB} MiB of incompressible filler"
VEXA_WINE_TREE="$TREE" scripts/make-demo-content "$WORK/demo" >/dev/null
EBZ=build/native/tools/ebztool/ebztool
CONTENT="$WORK/demo/content"
"$EBZ" unpack "$CONTENT/Vexa.ebz" "$WORK/Vexa" >/dev/null
head -c $((PRODUCT_MIB * 1024 * 1024)) /dev/urandom >"$WORK/Vexa/Vexa.jar.data"
"$EBZ" pack "$WORK/Vexa" "$CONTENT/Vexa.ebz" --preset 0 >/dev/null
PACK_BYTES="$(stat -c %s "$CONTENT/Vexa.ebz")"
echo "  Vexa.ebz $PACK_BYTES bytes"

SERVER_KIND=vexa-server   # or nginx
# serve <log> [rate]: the packs from $SERVER_KIND on $LISTEN; with nginx the
# log is nginx's access log, and vexa-server answers the statistics behind it.
serve() {
  local rate=() listen="$LISTEN"
  [ -n "${2:-}" ] && rate=(--rate "$2")
  if [ "$SERVER_KIND" = nginx ]; then listen="$NGINX_STATS_LISTEN"; rate=(); fi
  build/native/server/vexa-server --root "$CONTENT" --db "$WORK/events.sqlite" --listen "$listen" \
    --config "$WORK/demo/answers.json" "${rate[@]}" >"$1.stats" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 50); do curl -s -o /dev/null --max-time 1 "http://$listen/java.json" && break; sleep 0.2; done
  if [ "$SERVER_KIND" = nginx ]; then
    nginx_start "$1.nginx" "$CONTENT" "$LISTEN" "${2:-0}" || { echo "nginx did not start"; ss -ltnp; exit 1; }
    ln -sf "$1.nginx/access.log" "$1"
    return 0
  fi
  mv "$1.stats" "$1"
  curl -s -o /dev/null --max-time 1 "http://$LISTEN/java.json" && return 0
  echo "vexa-server did not start"; exit 1
}
unserve() {
  nginx_stop
  kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; SERVER_PID=""
}
# The bytes of every answer to GET /Vexa.ebz in a request log: the length
# column of vexa-server's ("<date> <time> <addr> GET /Vexa.ebz <status>
# <length> [range a-b]"), the body bytes sent of nginx's.
pack_bytes_served() {
  if [ "$SERVER_KIND" = nginx ]; then nginx_bytes_sent "$1" /Vexa.ebz; return; fi
  awk '{ for (i = 1; i < NF; i++) if ($i == "GET") break }
       $i == "GET" && $(i + 1) == "/Vexa.ebz" && $(i + 3) ~ /^[0-9]+$/ { s += $(i + 3) } END { print s + 0 }' "$1"
}
held_of() { awk '$1 == "chunk" { s += $4 } END { print s + 0 }' "$1"; }
now_ms() { date +%s%3N; }
SETUP_EXE=""
new_prefix() {
  wine_prefix_start
  mkdir -p "$WINEPREFIX/drive_c/downloads"
  SETUP_EXE="$WINEPREFIX/drive_c/downloads/VexaSetup[bench].exe"
  cp "build/$TREE/VexaSetup.exe" "$SETUP_EXE"
  local user; user="$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public -printf '%f\n' | head -1)"
  DATA="$WINEPREFIX/drive_c/users/$user/AppData/Roaming/Vexa"
}
# run_setup <label>: a whole silent install in the prefix at hand; sets RC, MS.
run_setup() {
  local t0; t0="$(now_ms)"
  set +e
  timeout 900 "$ROOT/scripts/wine-run" "$SETUP_EXE" /silent /secondInstance /runAfterInstall false >/dev/null 2>&1
  RC=$?
  set -e
  MS=$(( $(now_ms) - t0 ))
  wineserver -w 2>/dev/null || true
  echo "  $1: exit code $RC, ${MS} ms"
}
installed_right() {
  local f; f="$(find "$WINEPREFIX/drive_c"/Program* -name Vexa.jar.data 2>/dev/null | head -1)"
  [ "$RC" = 0 ] && [ -n "$f" ] && cmp -s "$f" "$WORK/Vexa/Vexa.jar.data"
}
log_text() {
  local log; log="$(find "$WINEPREFIX/drive_c/users" -name VexaInstall.log 2>/dev/null | head -1)"
  [ -n "$log" ] && iconv -c -f CP1251 -t UTF-8 "$log"
  return 0
}
show_log() { log_text | grep -a "ERROR\|FAILED\|Resum" | tail -20 || true; }

# measure: the two runs and the run from zero against $SERVER_KIND; sets
# HELD, SECOND_BYTES, RESUMED_MS, ZERO_BYTES, ZERO_MS.
measure() {
  echo "== $SERVER_KIND, first run: $((RATE / 1024)) KiB/s per connection, killed at about half of the pack"
  serve "$WORK/$SERVER_KIND-1.log" "$RATE"
  new_prefix
  STATE="$DATA/tmp/Vexa.ebz.state"
  "$ROOT/scripts/wine-run" "$SETUP_EXE" /silent /secondInstance /runAfterInstall false >/dev/null 2>&1 &
  SETUP_PID=$!
  caught=0
  for _ in $(seq 1200); do   # 120 s at most
    if [ -f "$STATE" ] && [ $(( $(held_of "$STATE") * 2 )) -ge "$PACK_BYTES" ]; then caught=1; break; fi
    kill -0 "$SETUP_PID" 2>/dev/null || break
    sleep 0.1
  done
  wineserver -k 2>/dev/null || true
  wait "$SETUP_PID" 2>/dev/null || true
  SETUP_PID=""
  wineserver -w 2>/dev/null || true
  unserve
  if [ "$caught" != 1 ] || [ ! -f "$STATE" ]; then
    echo "the first run was not caught with half of the pack held (no state file, or the run ended first)"
    show_log
    return 1
  fi
  cp "$STATE" "$WORK/$SERVER_KIND-state1"
  HELD="$(held_of "$WORK/$SERVER_KIND-state1")"
  echo "  held at the kill: $HELD bytes"
  sed 's/^/    /' "$WORK/$SERVER_KIND-state1"

  echo "== $SERVER_KIND, second run: same prefix, unlimited"
  serve "$WORK/$SERVER_KIND-2.log"
  run_setup "resumed install"
  RESUMED_MS=$MS
  installed_right || { echo "the resumed install did not complete"; show_log; return 1; }
  log_text | grep -a "Resume download of \[http://$LISTEN/Vexa.ebz\]" | sed 's/^.*: Resume/  log: Resume/' || true
  unserve
  SECOND_BYTES="$(pack_bytes_served "$WORK/$SERVER_KIND-2.log")"
  wine_prefix_stop

  echo "== $SERVER_KIND, for contrast: an install from zero (fresh prefix), unlimited"
  serve "$WORK/$SERVER_KIND-3.log"
  new_prefix
  run_setup "install from zero"
  ZERO_MS=$MS
  installed_right || { echo "the install from zero did not complete"; show_log; return 1; }
  unserve
  ZERO_BYTES="$(pack_bytes_served "$WORK/$SERVER_KIND-3.log")"
  wine_prefix_stop
}

# BENCH_RESUME_SERVERS picks the servers (default: both).
declare -A FIG
for SERVER_KIND in ${BENCH_RESUME_SERVERS:-vexa-server nginx}; do
  measure || exit 1
  FIG[$SERVER_KIND]="$HELD $SECOND_BYTES $RESUMED_MS $ZERO_BYTES $ZERO_MS"
done

echo "== figures"
echo "pack size:                                     $PACK_BYTES bytes"
for kind in ${BENCH_RESUME_SERVERS:-vexa-server nginx}; do
  read -r h s sm z zm <<<"${FIG[$kind]}"
  echo "$kind:"
  echo "  held when the first run was killed:          $h bytes"
  echo "  fetched by the resumed run:                  $s bytes (${sm} ms)"
  echo "  fetched by a run from zero:                  $z bytes (${zm} ms)"
  awk -v s="$s" -v p="$PACK_BYTES" -v k="$kind" \
    'BEGIN { printf "  resumed run bytes / pack size (%s): %.3f (goal <= 0.55)\n", k, s / p }'
  awk -v z="$z" -v p="$PACK_BYTES" 'BEGIN { printf "  run from zero bytes / pack size:             %.3f\n", z / p }'
done
