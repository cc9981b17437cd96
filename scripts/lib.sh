# Shared by scripts/test, scripts/demo and the benchmarks.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"

build_native() {
  mkdir -p "$ROOT/build"
  cmake -S "$ROOT" -B "$ROOT/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$ROOT/build/native.configure.log" 2>&1 \
    || { cat "$ROOT/build/native.configure.log"; return 1; }
  cmake --build "$ROOT/build/native" -j"$JOBS"
}

# build_windows <tree name> <toolchain arch>
build_windows() {
  mkdir -p "$ROOT/build"
  cmake -S "$ROOT" -B "$ROOT/build/$1" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$2.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$ROOT/build/$1.configure.log" 2>&1 \
    || { cat "$ROOT/build/$1.configure.log"; return 1; }
  cmake --build "$ROOT/build/$1" -j"$JOBS"
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
