#!/usr/bin/env bash
# Configures and builds one variant: normal (default), asan, fuzz, or win
# (cross-built with mingw-w64 against the SDK of scripts/windows_sdk.sh, and
# tested under wine).
#   scripts/build.sh [normal|asan|fuzz|win] [ninja targets...]
set -euo pipefail
cd "$(dirname "$0")/.."

variant=${1:-normal}
shift || true
case "$variant" in
  normal) dir=build;       flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)   dir=build-asan;  flags=(-DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON) ;;
  win)    dir=build-win;   flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                                  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake) ;;
  fuzz)   dir=build-fuzz;  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_FUZZ=ON
                                  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "build.sh: unknown variant '$variant' (normal, asan, fuzz, win)" >&2; exit 2 ;;
esac

# A compiler cache, when installed, lets several work trees share objects.
if command -v ccache >/dev/null; then
  flags+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# The programs for Windows link the SDK that scripts/windows_sdk.sh builds
# from Debian's sources; it is built first when missing (half an hour on two
# cores, more on a loaded machine) and reused afterwards.
if [ "$variant" = win ]; then
  sdk=$(scripts/windows_sdk.sh)
  flags+=(-DZEL_WINDOWS_SDK="$sdk")
  # The console's pictures are drawn by the Linux build's tool.
  [ -f build/console/artwork/veldmark.ico ] || scripts/build.sh normal console_artwork >/dev/null
  grep -qx "ZEL_WINDOWS_SDK:PATH=$sdk" "$dir/CMakeCache.txt" 2>/dev/null || rm -f "$dir/build.ninja"
fi

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -- "$@"
