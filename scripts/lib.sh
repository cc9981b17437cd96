# Shared by scripts/test, scripts/demo and the benchmarks.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"

# A compiler cache of the machine's, shared by every clone (paths are taken
# relative to the clone), so a fresh clone compiles only what changed since
# the last build on this machine. VEXA_NO_CCACHE=1 builds without it.
if [ -z "${VEXA_NO_CCACHE:-}" ] && command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=true
  export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ccache}"
fi

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

# make_test_code_signing <folder>: a test CA ("ca.pem") and a code-signing
# certificate it issued, with its key, in a password-protected PKCS#12
# ("publisher.p12"; the password in "password"), made once with openssl. For
# the demo and the tests only: nothing of it is kept in the repository, and
# the CA's key is thrown away once it has signed.
make_test_code_signing() {
  local dir="$1"
  [ -f "$dir/publisher.p12" ] && [ -f "$dir/ca.pem" ] && [ -f "$dir/password" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir" || return 1
  (
    set -e
    cd "$dir"
    openssl rand -hex 16 >password
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 -subj "/CN=Vexa Test Root CA" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout publisher.key -out publisher.csr \
      -subj "/CN=Vexa Test Publisher/O=Vexa" 2>/dev/null
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
      >publisher.ext
    openssl x509 -req -in publisher.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 825 -sha256 \
      -extfile publisher.ext -out publisher.pem 2>/dev/null
    openssl pkcs12 -export -inkey publisher.key -in publisher.pem -certfile ca.pem -out publisher.p12 \
      -passout file:password
    rm -f ca.key ca.srl publisher.key publisher.csr publisher.ext
  )
}

# build_signed_setup <tree> <arch> <public key file>: VexaSetup.exe built in
# build/<tree>-signed with the key that pack signatures must match, and
# Authenticode-signed with the test publisher of make_test_code_signing
# (build/<tree>-signed/VexaSetup.unsigned.exe is the program before
# signing). A tree of its own, so the test trees keep installing unsigned
# packs as they always did.
build_signed_setup() {
  local tree="$1" arch="$2" key codesign="$ROOT/build/$1-signed/codesign"
  key="$(tr -d '[:space:]' <"$3")"
  mkdir -p "$ROOT/build"
  make_test_code_signing "$codesign" || { echo "cannot make the test code-signing certificate" >&2; return 1; }
  cmake -S "$ROOT" -B "$ROOT/build/$tree-signed" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVEXA_PACK_PUBLIC_KEY="$key" \
        -DVEXA_SIGN_CERT="$codesign/publisher.p12" -DVEXA_SIGN_PASSWORD_ENV=VEXA_TEST_SIGN_PASSWORD \
        >"$ROOT/build/$tree-signed.configure.log" 2>&1 \
    || { cat "$ROOT/build/$tree-signed.configure.log"; return 1; }
  VEXA_TEST_SIGN_PASSWORD="$(cat "$codesign/password")" \
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
