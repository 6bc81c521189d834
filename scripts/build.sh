#!/usr/bin/env bash
# Configures and builds one variant: normal (default), asan or fuzz.
#   scripts/build.sh [normal|asan|fuzz] [ninja targets...]
set -euo pipefail
cd "$(dirname "$0")/.."

variant=${1:-normal}
shift || true
case "$variant" in
  normal) dir=build;       flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)   dir=build-asan;  flags=(-DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON) ;;
  fuzz)   dir=build-fuzz;  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_FUZZ=ON
                                  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "build.sh: unknown variant '$variant' (normal, asan, fuzz)" >&2; exit 2 ;;
esac

# A compiler cache, when installed, lets several work trees share objects.
if command -v ccache >/dev/null; then
  flags+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -- "$@"
