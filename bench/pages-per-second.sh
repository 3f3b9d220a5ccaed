#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Times the real rastertoVarkon filter on a multi-page A4 600 dpi raster job, once
# per platform, and prints pages per second. The raster comes from
# varkon-bench-raster and the PPDs from the build's generated PPD directory.
#
#   bench/pages-per-second.sh [BUILD_DIR] [PAGES] [text|photo|mixed]
set -eu

build=${1:-build}
pages=${2:-20}
mix=${3:-mixed}

filter=$build/rastertoVarkon/rastertoVarkon
maker=$build/bench/varkon-bench-raster
ppds=$build/drv/ppd
for need in "$filter" "$maker"; do
    if [ ! -x "$need" ]; then
        echo "pages-per-second: $need is missing; build the rastertoVarkon, varkon-bench-raster and varkon_ppds targets" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
raster=$work/job.ras
"$maker" "$raster" "$pages" "$mix"

now() { date +%s.%N; }

# One model of each platform.
for entry in "C varkon-belvar-210.ppd" "Z varkon-oskel-301.ppd" "M varkon-nimbrel-41.ppd"; do
    platform=${entry%% *}
    ppd=$ppds/${entry#* }
    if [ ! -f "$ppd" ]; then
        echo "pages-per-second: $ppd is missing; build the varkon_ppds target" >&2
        exit 1
    fi
    start=$(now)
    if ! PPD=$ppd "$filter" 1 bench "pages per second" 1 "" "$raster" >"$work/out" 2>"$work/log"; then
        echo "pages-per-second: the filter failed on platform $platform:" >&2
        tail -5 "$work/log" >&2
        exit 1
    fi
    end=$(now)
    printed=$(grep -c '^PAGE: ' "$work/log" || true)
    bytes=$(wc -c <"$work/out")
    awk -v p="$platform" -v n="$printed" -v s="$start" -v e="$end" -v b="$bytes" -v mix="$mix" 'BEGIN {
        t = e - s
        printf "platform %s: %d %s pages in %.2f s, %.2f pages per second, %d bytes to the printer\n", p, n, mix, t, n / t, b
    }'
done
