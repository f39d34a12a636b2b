#!/usr/bin/env bash
# Configures and builds into build/<preset> (default: release). Extra arguments go to cmake.
#   scripts/build.sh            RelWithDebInfo, warnings as errors
#   scripts/build.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/build.sh tsan       ThreadSanitizer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-release}
shift || true
case "$preset" in
release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DSOMNARA_SANITIZE=address) ;;
tsan) flags=(-DCMAKE_BUILD_TYPE=Debug -DSOMNARA_SANITIZE=thread) ;;
*) echo "build: unknown preset '$preset' (release, asan, tsan)" >&2; exit 2 ;;
esac
build="$root/build/$preset"
# ccache, where it is installed, makes rebuilds of unchanged sources (other checkouts included) instant.
command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DSOMNARA_WERROR=ON "${flags[@]}" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
