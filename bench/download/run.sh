#!/usr/bin/env bash
# Download benchmark: vexaget.exe under Wine against the test server on
# 127.0.0.1, with a 48 MiB file.
#   1. each connection limited to 4 MiB/s: 4 threads against 1 (goal >= 3.5)
#   2. unlimited: our 1- and 4-thread downloads against bareget.exe, a bare
#      WinINet loop (one GET, 8 KiB reads, the same request flags) under the
#      same Wine (goal for 4 threads >= 0.8 of its throughput)
# Download times are measured inside the programs (Wine's start-up is not
# counted); each unlimited figure is the best of BENCH_RUNS runs (default 5). Not a test:
# prints the figures and exits 0 when the downloads were right, whatever the
# ratios.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"

SIZE_MIB="${BENCH_SIZE_MIB:-48}"
RUNS="${BENCH_RUNS:-5}"
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
cmake --build "$WINBUILD" --target vexaget bareget -j2 >/dev/null
uptime | sed 's/^/load: /' 
SERVER="$(find "$NATIVE" -name vexa-test-server -type f | head -1)"
VEXAGET="$(find "$WINBUILD" -name vexaget.exe -type f | head -1)"
BAREGET="$(find "$WINBUILD" -name bareget.exe -type f | head -1)"

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

# bareget_ms: prints the bare loop's download time in ms, checks the bytes
bareget_ms() {
  local out="$WORK/got-bare.bin"
  rm -f "$out"
  local result
  result="$("$ROOT/scripts/wine-run" "$BAREGET" "http://127.0.0.1:$PORT/file.bin" "$(windows_path "$out")" \
            2>/dev/null | tr -d '\r')"
  if [ "$(md5sum "$out" | cut -d' ' -f1)" != "$EXPECTED" ]; then
    echo "bareget failed" >&2; exit 1
  fi
  echo "$result" | sed -n 's/^elapsed_ms \([0-9]*\)$/\1/p'
}

# min_of <numbers...>
min_of() { printf '%s\n' "$@" | sort -n | head -1; }

mibps() { awk -v ms="$1" -v m="$SIZE_MIB" 'BEGIN { printf "%.1f", m * 1000 / ms }'; }

wine_prefix_start

echo "== 1. ${SIZE_MIB} MiB, each connection limited to 4 MiB/s"
start_server "$RATE"
one="$(vexaget_ms 1)"
four="$(vexaget_ms 4)"
echo "1 thread:  ${one} ms"
echo "4 threads: ${four} ms"

echo "== 2. ${SIZE_MIB} MiB, unlimited (best of $RUNS, runs interleaved so that the load of the machine falls on all three alike)"
start_server 0
bareget_ms >/dev/null  # warm the page cache and Wine
bares=(); singles=(); fours=()
for _ in $(seq 1 "$RUNS"); do
  bares+=("$(bareget_ms)")
  singles+=("$(vexaget_ms 1)")
  fours+=("$(vexaget_ms 4)")
done
echo "runs (ms): bare ${bares[*]} | 1 thread ${singles[*]} | 4 threads ${fours[*]}"
bare="$(min_of "${bares[@]}")"
single="$(min_of "${singles[@]}")"
ours="$(min_of "${fours[@]}")"
echo "bare WinINet loop: ${bare} ms ($(mibps "$bare") MiB/s)"
echo "vexaget 1 thread:  ${single} ms ($(mibps "$single") MiB/s)"
echo "vexaget 4 threads: ${ours} ms ($(mibps "$ours") MiB/s)"

echo "== ratios"
awk -v a="$one" -v b="$four" 'BEGIN { printf "rate-limited speed-up, 4 threads / 1 thread: %.2fx (goal >= 3.5)\n", a / b }'
awk -v c="$bare" -v o="$single" 'BEGIN { printf "unlimited throughput, vexaget 1 thread / bare loop: %.2f\n", c / o }'
awk -v c="$bare" -v o="$ours" 'BEGIN { printf "unlimited throughput, vexaget 4 threads / bare loop: %.2f (goal >= 0.8)\n", c / o }'
