#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# Usage: scripts/test.sh [build-dir]   (ECR_SANITIZE=address,undefined or thread selects sanitizers)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DECR_SANITIZE="${ECR_SANITIZE:-}" >/dev/null
cmake --build "$build" -j "$(nproc)"
case "${ECR_SANITIZE:-}" in
  *thread*) export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 suppressions=$here/tests/tsan.supp}" ;;
esac
case "${ECR_SANITIZE:-}" in
  *undefined*) export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1 print_stacktrace=1}" ;;
esac
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
