#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The whole test suite: dependencies, a warning-free build, every test, then
# every test again under AddressSanitizer and UndefinedBehaviorSanitizer (the
# filters the integration tests run are sanitized too), the
# PostScript filter's threads under ThreadSanitizer, jobs of both filters under valgrind,
# and every fuzzing harness for a bounded time (VARKON_FUZZ_SECONDS, default 60).
#
#   scripts/run-tests.sh --quick    only what the unit tests need, built in build/
#                                   (reused as it is), and the unit tests; installs nothing
set -eu
cd "$(dirname "$0")/.."
started=$(date +%s)
stage() { echo "== stage: $1 (at $(($(date +%s) - started)) s)"; }
jobs=$(nproc)

if [ "${1:-}" = "--quick" ]; then
    stage "unit test build"
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKON_WERROR=ON >/dev/null
    cmake --build build -j "$jobs" --target varkon_unit_tests
    stage "unit tests"
    ctest --test-dir build --output-on-failure -j "$jobs" -L unit
    stage "done"
    exit 0
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--quick]" >&2
    exit 2
fi

stage "dependencies"
scripts/install-deps.sh

stage "build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKON_WERROR=ON
cmake --build build -j "$jobs"
stage "tests"
ctest --test-dir build --output-on-failure -j "$jobs"

stage "sanitizer build and every test"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVARKON_WERROR=ON -DVARKON_SANITIZE=ON -DVARKON_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

stage "threads under ThreadSanitizer"
scripts/thread-check.sh build-tsan
stage "jobs under valgrind"
scripts/valgrind-jobs.sh build
stage "fuzzing"
scripts/fuzz.sh "${VARKON_FUZZ_SECONDS:-60}"
stage "done"
