#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   every test built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer (gcc), in
#                                build-asan/; any report fails its test
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)

if [ "${1:-}" != "--sanitize" ]; then
  scripts/build.sh
  ctest --test-dir build --output-on-failure --timeout 300 -j"$jobs"
  exit
fi

scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVREL_SANITIZE=ON -DTAVREL_BUILD_BENCHMARKS=OFF >/dev/null
ninja -C build-asan -j"$jobs"
# Leaks are reported from the project's own allocations; the few that Qt and
# the libraries below it keep until exit are listed in the suppressions.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer-suppressions.txt:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure --timeout 600 -j"$jobs"
