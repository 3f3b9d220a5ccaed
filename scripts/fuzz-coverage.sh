#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Coverage of each fuzzing harness with clang's source-based coverage: the
# corpus replays are built instrumented, run over the committed corpus and over
# what the last scripts/fuzz.sh run found, and llvm-cov reports, per harness,
# the line coverage of the code it targets (whole files, or the functions named
# after a ':'). Functions with 0 lines covered were not reached.
#
#   scripts/fuzz.sh 60 && scripts/fuzz-coverage.sh
set -eu
cd "$(dirname "$0")/.."
fuzz_build=${FUZZ_BUILD_DIR:-build-fuzz}
build="$fuzz_build/coverage"
jobs=${FUZZ_JOBS:-$(nproc)}

mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DVARKON_FUZZ_COVERAGE=ON -DVARKON_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$jobs" --target varkon_fuzz_replays >"$build/build.log" 2>&1 ||
    { tail -n 40 "$build/build.log"; exit 1; }

# What each harness is for: files, or file:function|function (grep -E on the
# demangled names).
targets() {
    case $1 in
    stream_decoder) echo "tools/varkon-decode/decode_stream.cpp tools/varkon-decode/short_frames.cpp
        tools/varkon-decode/long_frames.cpp tools/varkon-decode/page_assembly.cpp tools/varkon-decode/job_order.cpp
        tools/varkon-decode/copy_tracker.cpp tools/varkon-decode/jbig_image.cpp tools/varkon-decode/stream_items.cpp
        tools/varkon-decode/listing.cpp" ;;
    ps_line_procedure) echo "pstoVarkon/stream_rewriting.cpp:FixPrnPageSize|find_pageend|insert_after_job_name|replace_line|page_dictionary_line|page_setup_line" ;;
    page_size_parsers) echo "pstoVarkon/page_size_admission.cpp:dictionary_line_fits|setup_call_line_fits|stated_page_size|next_number|points|fits_printer|digit_run_value|size_after|size_before" ;;
    url_text) echo "pstoVarkon/url_text.cpp" ;;
    snmp_status_reply) echo "pstoVarkon/snmp_datagrams.cpp" ;;
    raster_job) echo "rastertoVarkon/job/raster_input.cpp rastertoVarkon/job/page_geometry.cpp
        rastertoVarkon/tables/paper_tables.cpp rastertoVarkon/job/job_options.cpp rastertoVarkon/image/dither.cpp
        rastertoVarkon/image/page_pipeline.cpp rastertoVarkon/job/job_loop.cpp rastertoVarkon/job/raster_job.cpp
        rastertoVarkon/job/page_flow.cpp rastertoVarkon/language/image_transfer.cpp
        rastertoVarkon/language/page_commands.cpp rastertoVarkon/output/spool.cpp rastertoVarkon/job/manual_duplex_end.cpp" ;;
    raster_options) echo "rastertoVarkon/job/job_options.cpp:GetFunctionValue|evaluate_entry|duplex_value|input_slot_value|checkOptionKey|complete_boolean|complete_density|append_parameter|read_ppd_text
        rastertoVarkon/tables/paper_tables.cpp:GetPaperSizeArray|GetPaperArrayIndex|isCutThePaper|platform_paper_table" ;;
    jbig_encoder) echo "rastertoVarkon/language/jbig_encoder.cpp rastertoVarkon/language/jbigCompress.cpp" ;;
    raster_reader) echo "printer-app/raster/raster_reader.cpp" ;;
    *) echo "" ;;
    esac
}

for name in $(cd fuzz && ls corpus); do
    replay="$build/fuzz/fuzz_replay_$name"
    profile="$build/$name.profdata"
    rm -f "$build/$name".*.profraw
    found="$fuzz_build/fuzz-run/$name/corpus"
    [ -d "$found" ] || found=""
    LLVM_PROFILE_FILE="$build/$name.%p.profraw" "$replay" "fuzz/corpus/$name" $found 2>/dev/null
    llvm-profdata-14 merge -sparse "$build/$name".*.profraw -o "$profile"
    inputs=$( (ls "fuzz/corpus/$name"; [ -z "$found" ] || ls "$found") | wc -l)
    echo "== $name ($inputs inputs)"
    for target in $(targets "$name"); do
        file=${target%%:*}
        if [ "$file" = "$target" ]; then
            llvm-cov-14 report "$replay" -instr-profile="$profile" "$file" | tail -n 1 |
                awk -v f="$file" '{ printf "  %-58s lines %5s of %5s  %s\n", f, $8 - $9, $8, $10 }'
        else
            # Names are mangled: <length><name> followed by the parameter types.
            llvm-cov-14 report -show-functions "$replay" -instr-profile="$profile" "$file" |
                awk -v re="[0-9](${target#*:})[A-Z]" -v f="$file" 'match($1, re) {
                    name = substr($1, RSTART + 1, RLENGTH - 2); sub(/^[0-9]+/, "", name)
                    printf "  %-58s lines %5s of %5s  %s\n", f ": " name, $5 - $6, $5, $7 }'
        fi
    done
done
