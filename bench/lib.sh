# Sourced by the Wine benchmarks (bench/*/run.sh) after scripts/lib.sh.

# Each connection's rate limit for the rate-limited runs.
RATE=$(( ${BENCH_RATE_KIB:-2048} * 1024 ))
TREE="$(wine_tree)"
LISTEN=127.0.0.1:8731

# Re-runs the calling script in a network namespace of its own: the
# installer's server address is built in as 127.0.0.1:8731, and a private
# loopback keeps the benchmark's server apart from anything else on the port.
# Call as: bench_private_loopback "$@"
bench_private_loopback() {
  if [ -z "${VEXA_BENCH_NETNS:-}" ] && unshare -n true 2>/dev/null; then
    export VEXA_BENCH_NETNS=1
    exec unshare -n sh -c "ip link set lo up && $PRIVATE_LOOPBACK_SETTINGS"' exec "$@"' sh "$0" "$@"
  fi
}

# bench_build <Windows targets...>: configures the native tree and the Wine
# tree ($TREE) if needed, builds vexa-server and ebztool natively and the
# given targets for Windows, and prints the machine's load (the figures are
# only as steady as it is).
bench_build() {
  echo "== building vexa-server, ebztool (native) and $* ($TREE)"
  [ -f build/native/CMakeCache.txt ] || build_native >/dev/null
  [ -f "build/$TREE/CMakeCache.txt" ] ||
    build_windows "$TREE" "$([ "$TREE" = win32 ] && echo i686 || echo x86_64)" VexaSetup >/dev/null
  cmake --build build/native --target vexa-server ebztool -j2 >/dev/null
  cmake --build "build/$TREE" --target "$@" -j2 >/dev/null
  uptime | sed 's/^/load: /'
}
