#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# README command 1: prints a sample document on a host-based Varkon printer,
# through the real CUPS chain, into a file, and shows the printed pages as PNG.
#
# A private CUPS scheduler (its own configuration under /tmp, a free port on
# 127.0.0.1; the system's CUPS is not touched) gets a queue with the model's
# generated PPD and the test backend "varkontest" as its device. The sample PDF
# is printed with `lp`: pdftopdf, gstoraster and rastertoVarkon run as for any
# CUPS job, and the backend writes what the printer would receive. varkon-decode
# then reads that printer file back, checks every frame and writes the pages.
#
#   scripts/print-sample.sh [C|Z|M|"<model name>"] [lp options...]
#
#   scripts/print-sample.sh                     platform Z, Varkon Oskel 301 Series
#   scripts/print-sample.sh M -o sides=two-sided-long-edge
#   scripts/print-sample.sh "Varkon Belvar 210 Series" -o Density=4
#
# VARKON_SKIP_DEPS=1 skips the Debian packages; VARKON_BUILD_DIR builds
# elsewhere than ./build; VARKON_OUT writes elsewhere than ./out.
set -eu
cd "$(dirname "$0")/.."

choice=${1:-Z}
[ $# -gt 0 ] && shift
case "$choice" in
    C|c) model="Varkon Belvar 210d Series" ;;
    Z|z) model="Varkon Oskel 301 Series" ;;
    M|m) model="Varkon Nimbrel 41d Series" ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) model=$choice ;;
esac

if [ "${VARKON_SKIP_DEPS:-0}" != 1 ]; then
    scripts/install-deps.sh
fi

build=${VARKON_BUILD_DIR:-build}
echo "Building the driver in $build ..."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target rastertoVarkon pstoVarkon varkon-decode varkon_ppds \
    varkontest varkon-cups-print >/dev/null

out=${VARKON_OUT:-out}
mkdir -p "$out"
name=$(printf '%s' "$model" | sed 's/^Varkon //; s/ Series$//; s/[^A-Za-z0-9]/-/g')
pdf="$out/sample-document.pdf"
printer="$out/sample-$name.prn"
log="$out/sample-$name.log"
pages="$out/sample-$name-pages"

# The sample document: PostScript kept in the repository, made into a PDF as an
# application would hand it to CUPS.
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$pdf" samples/sample-document.ps

echo "Printing $pdf on \"$model\" through CUPS ..."
"$build/tests/backend/varkon-cups-print" --log "$log" "$@" "$model" "$pdf" "$printer"

rm -rf "$pages"
status=0
"$build/tools/varkon-decode" -o "$pages" --png "$printer" || status=$?

echo
echo "The job as CUPS logged it (pages, errors, the end; the whole log is $log):"
grep -E '^E |\] (PAGE: |Ready to print|No pages found|ERROR)|exited with' "$log" |
    sed 's/^. \[[^]]*\] \[Job [0-9]*\] /  /; s/(\/tmp\/[^)]*\/\([^/)]*\))/(\1)/' || true
echo
echo "Printer data:    $printer ($(wc -c < "$printer") bytes)"
echo "Pages as PNG:    $pages/"
ls "$pages"/*.png 2>/dev/null | sed 's/^/                 /'
exit "$status"
