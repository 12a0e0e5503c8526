#!/usr/bin/env bash
# Builds the installer and runs the whole test suite.
#   scripts/test.sh            normal build (build/), all tests
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/), all tests
#   scripts/test.sh tsan       ThreadSanitizer build (build-tsan/), the thread and message tests
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
case "$preset" in default|asan|tsan) ;; *) echo "usage: $0 [default|asan|tsan]" >&2; exit 2;; esac

scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j2 --timeout 900
