#!/usr/bin/env bash
# Pack unpack benchmark: our unpack (read, decipher, decode, parse, write
# files) against liblzma decoding the same stream alone into memory, both
# native. Built in a tree of its own without the sanitizers and optimised as
# a release, since the sanitized test tree understates both sides unevenly.
# Arguments go to the program: [MiB=64] [--preset N] [--runs N=7].
# Not a test: exits 0 when the unpack worked, whatever the ratio.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"

TREE_DIR="$ROOT/build/bench-native"
mkdir -p "$ROOT/build"
echo "== building ebz_unpack_bench (native, release, no sanitizers)"
cmake -S "$ROOT" -B "$TREE_DIR" -DCMAKE_BUILD_TYPE=Release -DVEXA_SANITIZE=OFF >"$ROOT/build/bench-native.configure.log" 2>&1 ||
  { cat "$ROOT/build/bench-native.configure.log"; exit 1; }
cmake --build "$TREE_DIR" --target ebz_unpack_bench -j"$JOBS" >/dev/null
echo "cores: $(nproc)"
uptime | sed 's/^/load: /'
"$TREE_DIR/bench/ebz_unpack/ebz_unpack_bench" "$@"
