#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The threads of both filters under ThreadSanitizer: pstoVarkon's keep-alive
# thread and cancel watcher with their unit tests, and whole Halvex and Jurvex
# jobs (the integration tests run the instrumented filter, whose exit status
# turns non-zero on any report); the raster core's encoder threads, its
# keep-alive thread and jobs of different platforms run at once in one process.
# Tests that mount a small tmpfs are left out: the sanitizer's memory
# reservations count against a tmpfs that small.
#
#   scripts/thread-check.sh [BUILD_DIR]     (default: build-tsan)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-tsan}
jobs=$(nproc)
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKON_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
programs="unit_pstoVarkon_test_keep_alive unit_pstoVarkon_test_cancel_watcher unit_pstoVarkon_test_job_flow
    integration_ps_test_pstoVarkon_halvex integration_ps_test_pstoVarkon_jurvex integration_ps_test_pstoVarkon_faults
    integration_ps_test_pstoVarkon_cancel_watcher
    unit_rastertoVarkon_job_test_raster_job unit_rastertoVarkon_image_test_page_encoder
    integration_raster_test_raster_library"
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target pstoVarkon rastertoVarkon varkontest $programs

export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1"
status=0
for program in $programs; do
    echo "== $program"
    if ! "$build/tests/$program" --gtest_brief=1 \
        --gtest_filter='-*TemporaryFolder*:*Conversion*Fit*' >"$build/$program.log" 2>&1; then
        status=1
        echo "FAILED: $program"
        grep -E -A30 'ThreadSanitizer|Failure' "$build/$program.log" | head -n 80
        tail -n 20 "$build/$program.log"
    fi
    grep -E '^\[  (PASSED|FAILED)' "$build/$program.log" || true
done
exit $status
