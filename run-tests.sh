#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Quarel and runs every test:
# the solver and run-control tests in an optimised build and again under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the GUI tests under a
# virtual X server that this script starts and stops itself.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
start=$(date +%s)

echo "== Release build"
tools/build.sh build -DCMAKE_BUILD_TYPE=Release
echo "== Sanitizer build (ASan + UBSan)"
tools/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQUAREL_SANITIZE=ON -DQUAREL_BENCH=OFF

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== Tests, release build"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j 2
echo "== Tests, sanitizer build"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-asan --output-on-failure -j 2

echo "== All tests passed in $(( $(date +%s) - start )) s"
