#!/usr/bin/env bash
# Configures and builds one configuration.
#   scripts/build.sh linux | sanitize | tsan | windows | fuzz | bench     (default: linux)
# Build trees go to build/<configuration>.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CONFIG="${1:-linux}"
shift || true
JOBS="${BRIXA_JOBS:-$(nproc)}"
GEN=()
if command -v ninja >/dev/null; then GEN=(-G Ninja); fi
# A compiler cache, when present, makes rebuilds in several checkouts cheap.
LAUNCH=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$ROOT")}"
  LAUNCH=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

case "$CONFIG" in
  linux)    ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  sanitize) ARGS=(-DCMAKE_BUILD_TYPE=Debug -DBRIXA_SANITIZE=ON) ;;
  tsan)     ARGS=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer"
                  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread") ;;
  windows)  ARGS=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake") ;;
  fuzz)     ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIXA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14) ;;
  bench)    ARGS=(-DCMAKE_BUILD_TYPE=Release -DBRIXA_BENCH=ON -DBRIXA_TESTS=OFF) ;;
  *) echo "unknown configuration: $CONFIG" >&2; exit 2 ;;
esac

cmake -S "$ROOT" -B "$ROOT/build/$CONFIG" "${GEN[@]}" "${LAUNCH[@]}" "${ARGS[@]}" "$@" >/dev/null
cmake --build "$ROOT/build/$CONFIG" -j "$JOBS"
