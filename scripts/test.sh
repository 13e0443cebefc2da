#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, then runs the access,
# catalog and dataset tests again from a sanitizer build (what CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps
build_all
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 900 </dev/null

# The client tests under AddressSanitizer and UndefinedBehaviorSanitizer: any memory fault,
# leak or undefined behaviour fails the test it happens in.
build_sanitized
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
# Monitor.SafeFromAnyThread counts datagrams a reader thread must keep up with; slowed down
# by the sanitizers it loses some, which says nothing about memory. The main suite runs it.
for dir in access catalog dataset; do
  ctest --test-dir "build-asan/tests/$dir" --output-on-failure -j"$(nproc)" --timeout 900 \
    -E '^access\.Monitor\.SafeFromAnyThread$' </dev/null
done
