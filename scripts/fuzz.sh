#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer harnesses (clang-14, ASan + UBSan) and fuzzes each for a
# bounded time, starting from its committed corpus. A crash fails the run and
# leaves the input in the run's artifact folder; copy it into
# fuzz/corpus/<harness>/ so that the ordinary build replays it from then on.
#
#   scripts/fuzz.sh                 60 s per harness (what CI runs)
#   scripts/fuzz.sh 3600            an hour per harness
#   scripts/fuzz.sh 3600 url_text   only the named harnesses
#
# Environment: FUZZ_BUILD_DIR (default build-fuzz), FUZZ_JOBS (build jobs,
# default nproc), FUZZ_KEEP_CORPUS=1 merges what the run found into the
# committed corpus (for a long campaign; keep the corpus small).
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc)}

mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DVARKON_FUZZ=ON -DVARKON_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$jobs" --target varkon_fuzzers

harnesses=$*
[ -n "$harnesses" ] || harnesses=$(cd fuzz && ls corpus)
status=0
summary=""
for name in $harnesses; do
    program="$build/fuzz/fuzz_$name"
    work="$build/fuzz-run/$name"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    echo "== fuzz_$name: $seconds s"
    # The committed corpus is read, never written; what the run adds goes to $work.
    if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
        "$work/corpus" "fuzz/corpus/$name" >"$work/log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        tail -n 60 "$work/log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
    summary="$summary$(printf '%-20s %-6s %10s executions in %s s' "$name" "$result" "${runs:-?}" "$seconds")
"
    if [ "${FUZZ_KEEP_CORPUS:-0}" = 1 ] && [ "$result" = ok ]; then
        "$program" -merge=1 "fuzz/corpus/$name" "$work/corpus" >>"$work/log" 2>&1
    fi
done
printf '\nFuzzing summary\n%s' "$summary"
exit $status
