#!/usr/bin/env bash
# Download benchmark: vexaget.exe under Wine against the test server on
# 127.0.0.1, with a 64 MiB file.
#   1. each connection limited to 4 MiB/s: 4 threads against 1 (goal >= 3.5)
#   2. unlimited: our 4-thread throughput against curl's (goal >= 0.8)
# Download times are measured inside vexaget (Wine's start-up is not counted)
# and by curl itself. Not a test: prints the figures and exits 0 when the
# downloads were right, whatever the ratios.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"

SIZE_MIB="${BENCH_SIZE_MIB:-64}"
RATE=$((4 * 1024 * 1024))
NATIVE="$ROOT/build/bench-native"
TREE="$(wine_tree)"
WINBUILD="$ROOT/build/bench-$TREE"

echo "== building the test server (native, no sanitizers) and vexaget ($TREE)"
cmake -S "$ROOT" -B "$NATIVE" -DCMAKE_BUILD_TYPE=Release -DVEXA_SANITIZE=OFF >"$NATIVE.configure.log" 2>&1 \
  || { cat "$NATIVE.configure.log"; exit 1; }
cmake --build "$NATIVE" --target vexa_test_server_main -j2 >/dev/null
arch=x86_64; [ "$TREE" = win32 ] && arch=i686
cmake -S "$ROOT" -B "$WINBUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
  >"$WINBUILD.configure.log" 2>&1 || { cat "$WINBUILD.configure.log"; exit 1; }
cmake --build "$WINBUILD" --target vexaget -j2 >/dev/null
uptime | sed 's/^/load: /' 
SERVER="$(find "$NATIVE" -name vexa-test-server -type f | head -1)"
VEXAGET="$(find "$WINBUILD" -name vexaget.exe -type f | head -1)"

WORK="$(mktemp -d /tmp/vexa-bench.XXXXXX)"
SERVER_PID=""
cleanup() {
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
  wine_prefix_stop
  rm -rf "$WORK"
}
source "$ROOT/scripts/wine-env"
trap cleanup EXIT

head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >"$WORK/file.bin"
EXPECTED="$(md5sum "$WORK/file.bin" | cut -d' ' -f1)"

# start_server <bytes per second, 0 = unlimited>; sets PORT and SERVER_PID
start_server() {
  [ -n "$SERVER_PID" ] && { kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; }
  "$SERVER" --file "$WORK/file.bin" --route /file.bin --rate "$1" --seconds 900 >"$WORK/server.out" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 1 100); do
    PORT="$(sed -n 's/^port \([0-9]*\)$/\1/p' "$WORK/server.out")"
    [ -n "$PORT" ] && return 0
    sleep 0.1
  done
  echo "server did not start"; cat "$WORK/server.out"; exit 1
}

# Wine maps the Linux root to Z: (winepath itself needs the 32-bit loader).
windows_path() { local p="$1"; echo "Z:${p//\//\\}"; }

# vexaget_ms <threads>: prints the download time in ms, checks the bytes
vexaget_ms() {
  local out="$WORK/got-$1.bin"
  rm -f "$out"
  local result
  result="$("$ROOT/scripts/wine-run" "$VEXAGET" "http://127.0.0.1:$PORT/file.bin" "$(windows_path "$out")" \
            --threads "$1" --md5 "$EXPECTED" 2>/dev/null | tr -d '\r')"
  local ms
  ms="$(echo "$result" | sed -n 's/^elapsed_ms \([0-9]*\)$/\1/p')"
  if ! echo "$result" | grep -q '^saved ' || [ "$(md5sum "$out" | cut -d' ' -f1)" != "$EXPECTED" ]; then
    echo "vexaget with $1 threads failed" >&2; exit 1
  fi
  echo "$ms"
}

wine_prefix_start

echo "== 1. ${SIZE_MIB} MiB, each connection limited to 4 MiB/s"
start_server "$RATE"
one="$(vexaget_ms 1)"
four="$(vexaget_ms 4)"
echo "1 thread:  ${one} ms"
echo "4 threads: ${four} ms"

echo "== 2. ${SIZE_MIB} MiB, unlimited"
start_server 0
vexaget_ms 4 >/dev/null  # warm the page cache and Wine
ours="$(vexaget_ms 4)"
single="$(vexaget_ms 1)"
curl_s="$(curl -s -o "$WORK/curl.bin" -w '%{time_total}' "http://127.0.0.1:$PORT/file.bin")"
[ "$(md5sum "$WORK/curl.bin" | cut -d' ' -f1)" = "$EXPECTED" ] || { echo "curl download wrong"; exit 1; }
curl_ms="$(awk -v s="$curl_s" 'BEGIN { printf "%d", s * 1000 }')"
echo "vexaget 4 threads: ${ours} ms ($(awk -v ms="$ours" -v m="$SIZE_MIB" 'BEGIN { printf "%.1f", m * 1000 / ms }') MiB/s)"
echo "vexaget 1 thread:  ${single} ms ($(awk -v ms="$single" -v m="$SIZE_MIB" 'BEGIN { printf "%.1f", m * 1000 / ms }') MiB/s)"
echo "curl:              ${curl_ms} ms ($(awk -v ms="$curl_ms" -v m="$SIZE_MIB" 'BEGIN { printf "%.1f", m * 1000 / ms }') MiB/s)"

echo "== ratios"
awk -v a="$one" -v b="$four" 'BEGIN { printf "rate-limited speed-up, 4 threads / 1 thread: %.2fx (goal >= 3.5)\n", a / b }'
awk -v c="$curl_ms" -v o="$ours" 'BEGIN { printf "unlimited throughput, vexaget 4 threads / curl: %.2f (goal >= 0.8)\n", c / o }'
