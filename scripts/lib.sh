# Shared by scripts/test, scripts/demo and the benchmarks.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"

build_native() {
  mkdir -p "$ROOT/build"
  cmake -S "$ROOT" -B "$ROOT/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$ROOT/build/native.configure.log" 2>&1 \
    || { cat "$ROOT/build/native.configure.log"; return 1; }
  cmake --build "$ROOT/build/native" -j"$JOBS"
}

# build_windows <tree name> <toolchain arch> [targets...]: everything unless
# targets are named.
build_windows() {
  local tree="$1" arch="$2"
  shift 2
  mkdir -p "$ROOT/build"
  cmake -S "$ROOT" -B "$ROOT/build/$tree" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$ROOT/build/$tree.configure.log" 2>&1 \
    || { cat "$ROOT/build/$tree.configure.log"; return 1; }
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$ROOT/build/$tree" -j"$JOBS" "${targets[@]}"
}

# build_signed_setup <tree> <arch> <public key file>: VexaSetup.exe built in
# build/<tree>-signed with the key that pack signatures must match. A tree of
# its own, so the test trees keep installing unsigned packs as they always did.
build_signed_setup() {
  local tree="$1" arch="$2" key
  key="$(tr -d '[:space:]' <"$3")"
  mkdir -p "$ROOT/build"
  cmake -S "$ROOT" -B "$ROOT/build/$tree-signed" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVEXA_PACK_PUBLIC_KEY="$key" >"$ROOT/build/$tree-signed.configure.log" 2>&1 \
    || { cat "$ROOT/build/$tree-signed.configure.log"; return 1; }
  cmake --build "$ROOT/build/$tree-signed" -j"$JOBS" --target VexaSetup
}

# The shipped 32-bit programs. Where 32-bit programs cannot run, only these
# are built in build/win32; the tests are built and run from build/win64.
WIN32_PRODUCT_TARGETS=(VexaSetup ebztool vexaget)

build_win32_product() {
  if can_run_32bit; then
    build_windows win32 i686
  else
    build_windows win32 i686 "${WIN32_PRODUCT_TARGETS[@]}"
  fi
}

# Some kernels run with 32-bit emulation switched off, and then no 32-bit
# program (the Wine loader included) can start. There the same sources are
# also built for x64 and the Windows tests and demo run under wine64.
can_run_32bit() {
  [ -n "${VEXA_FORCE_WIN64:-}" ] && return 1
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Prints the tree whose programs run under Wine here, building it if needed.
wine_tree() {
  if can_run_32bit; then echo win32; else echo win64; fi
}

ensure_wine_tree() {
  local tree
  tree="$(wine_tree)"
  if [ "$tree" = win64 ]; then
    echo "note: this kernel cannot run 32-bit programs; Windows tests run on the x64 build under wine64" >&2
    build_windows win64 x86_64 >&2 || return 1
  fi
  echo "$tree"
}

# Run first in a private loopback (unshare -n): a server stopped before its
# clients leaves connections (FIN-WAIT-2) that hold its port for the next
# server until the kernel drops them, 60 s by default. The setting is the
# namespace's own; the machine's stays as it is.
PRIVATE_LOOPBACK_SETTINGS='{ echo 2 >/proc/sys/net/ipv4/tcp_fin_timeout; } 2>/dev/null;'
