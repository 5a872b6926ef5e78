#!/usr/bin/env bash
# Installs what is missing, builds the Linux, sanitizer, Windows and fuzzing configurations and
# runs every test: the Linux tests natively, the unit tests again under ASan + UBSan, the same
# tests as Windows binaries under Wine, and each fuzz target for a bounded time. Also checks that
# every header compiles on its own (Linux and Windows), and that the installed package serves a
# program outside the tree (examples/fetch, built against it and run against nginx).
# Prints one closing summary line; exits non-zero when anything failed.
#
#   BRIXA_FUZZ_SECONDS   seconds per fuzz target (default 20)
#   BRIXA_SKIP           space-separated steps to skip: linux sanitize windows fuzz
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
FUZZ_SECONDS="${BRIXA_FUZZ_SECONDS:-20}"
SKIP=" ${BRIXA_SKIP:-} "
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEPREFIX="$ROOT/build/wineprefix"

passed=()
failed=()
step() {  # step <name> <command...>
  local name="$1"; shift
  echo "=== $name"
  local start=$SECONDS
  if "$@"; then
    passed+=("$name")
    echo "=== $name: ok ($((SECONDS - start)) s)"
  else
    failed+=("$name")
    echo "=== $name: FAILED ($((SECONDS - start)) s)"
  fi
}
wanted() { [[ "$SKIP" != *" $1 "* ]]; }

run_ctest() { ctest --test-dir "build/$1" --output-on-failure --timeout 1200; }

check_headers() { cmake --build "build/$1" --target brixa_header_check -j "${BRIXA_JOBS:-$(nproc)}"; }

# Installs the Linux build into a fresh prefix, builds examples/fetch against that package alone,
# and fetches a 4 MiB file from nginx on loopback with it: the copy must equal the original.
run_package_example() {
  local prefix="$ROOT/build/package" out="$ROOT/build/fetch" peers rc=0
  rm -rf "$prefix" "$out"
  cmake --install build/linux --prefix "$prefix" >/dev/null || return 1
  cmake -S examples/fetch -B "$out" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null || return 1
  cmake --build "$out" || return 1
  peers="$(mktemp)"
  if bash scripts/peers.sh start "$peers"; then
    (
      # shellcheck disable=SC1090
      source "$peers"
      "$out/fetch" "http://127.0.0.1:$BRIXA_PEER_NGINX_PORT/big.bin" "$out/big.bin" &&
        cmp "$out/big.bin" "$BRIXA_PEER_NGINX_DIR/html/big.bin"
    ) || rc=1
  else
    rc=1
  fi
  bash scripts/peers.sh stop "$peers" || true
  rm -f "$peers"
  return $rc
}

run_sanitized_unit() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/sanitize/tests/unit_tests
}

run_wine_tests() {
  local rc=0 exe peers
  for exe in build/windows/tests/*_tests.exe; do
    [[ -e "$exe" ]] || continue
    echo "--- wine $(basename "$exe")"
    # A Windows test binary cannot start Linux servers: fresh real peers run beside each binary
    # (so one binary's requests never show in another's server logs), and their ports and
    # folders reach it through the BRIXA_PEER_* variables.
    peers="$(mktemp)"
    BRIXA_UPDATE_TLS_DIR="$ROOT/build/windows/test-update-tls" bash scripts/peers.sh start "$peers" ||
      true
    # A zone east of Greenwich, so the date tests exercise the Windows offset arithmetic.
    (
      set -a
      # shellcheck disable=SC1090
      source "$peers"
      TZ=JST-9 BRIXA_WINDOWS_BUILD="$ROOT/build/windows" xvfb-run -a "$WINE64" "$exe"
    ) || rc=1
    bash scripts/peers.sh stop "$peers" || true
    rm -f "$peers"
  done
  return $rc
}

run_fuzzers() {
  local rc=0 target corpus
  for target in build/fuzz/fuzz/fuzz_*; do
    [[ -x "$target" ]] || continue
    corpus="$(mktemp -d)"
    cp -r "fuzz/corpus/$(basename "$target" | sed 's/^fuzz_//')/." "$corpus/" 2>/dev/null || true
    echo "--- $(basename "$target") for ${FUZZ_SECONDS} s"
    "$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      "$corpus" 2>&1 | tail -3 || rc=1
    [[ ${PIPESTATUS[0]} -eq 0 ]] || rc=1
    rm -rf "$corpus"
  done
  return $rc
}

step deps bash scripts/deps.sh
if wanted linux; then
  step "linux build" scripts/build.sh linux
  step "linux headers" check_headers linux
  step "linux tests" run_ctest linux
  step "package example" run_package_example
fi
if wanted sanitize; then
  step "sanitizer build" scripts/build.sh sanitize
  step "sanitizer unit tests" run_sanitized_unit
fi
if wanted windows; then
  step "windows build" scripts/build.sh windows
  step "windows headers" check_headers windows
  step "windows tests under wine" run_wine_tests
fi
if wanted fuzz; then
  step "fuzz build" scripts/build.sh fuzz
  step "fuzzing" run_fuzzers
fi

echo
if ((${#failed[@]} == 0)); then
  echo "SUMMARY: all ${#passed[@]} steps passed (${passed[*]/%/;}) in ${SECONDS} s"
  exit 0
fi
echo "SUMMARY: ${#failed[@]} of $((${#passed[@]} + ${#failed[@]})) steps FAILED: ${failed[*]/%/;} in ${SECONDS} s"
exit 1
