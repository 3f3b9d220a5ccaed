#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# pstoVarkon, rastertoVarkon and varkon-decode end to end under valgrind: every
# road of the PostScript filter (plain copy, Jurvex rewrite with collated
# copies, custom size refused, cancelled while the input arrives, Halvex
# conversion with the keep-alive thread, a broken PDF, a printer stream closed
# early), raster jobs of the three platforms (automatic duplex with its blank
# page, collated copies, manual duplex, a 1200-dpi page, a raster cut inside a
# page) and the decoder on a stream. Each must end with its own exit status, no
# valgrind error and no byte definitely lost; what the raster filter wrote must
# decode as a whole job.
#
#   scripts/valgrind-jobs.sh [BUILD_DIR]     (default: build)
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
filter="$build/pstoVarkon/pstoVarkon"
raster_filter="$build/rastertoVarkon/rastertoVarkon"
decoder="$build/tools/varkon-decode"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
unset DEVICE_URI
vg="valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite"

ppd() { # name nickname [extra]
    cat >"$work/$1.ppd" <<PPD
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VKTEST.PPD"
*Manufacturer: "Varkon"
*Product: "(Varkon Test)"
*ModelName: "Varkon Test"
*ShortNickName: "$2"
*NickName: "$2"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*DefaultImageableArea: A4
*ImageableArea A4/A4: "12 12 583 830"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*OpenUI *Duplex/Two-Sided: PickOne
*DefaultDuplex: None
*Duplex None/Off: ""
*Duplex DuplexNoTumble/Long Edge: ""
*CloseUI: *Duplex
PPD
}
ppd other "Varkon Office PS"
ppd jurvex "Varkon Jurvex 21 PS"
ppd halvex "Halvex 50 Series PS"

gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/doc.pdf" \
    -c "/Helvetica findfont 24 scalefont setfont 1 1 3 { 100 400 moveto (Page ) show 3 string cvs show showpage } for"
{
    printf '\033%%-12345X@PJL JOB NAME="report"\r\n@PJL ENTER LANGUAGE = POSTSCRIPT\r\n%%!PS-Adobe-3.0\n'
    printf '%%%%EndComments\n%%RBIBeginNonPPDFeature: *NumCopies 2\n2 dup /NumCopies exch def\n%%RBIEndNonPPDFeature\n'
    printf '<<DeferredMediaSelection true>>setpagedevice\n%%%%EndSetup\n'
    for page in 1 2 3; do printf '%%%%Page: %s %s\n595 842 pdfSetupPaper\nshowpage\n' $page $page; done
    printf '%%%%Trailer\n%%%%EOF\n'
} >"$work/job.ps"
printf '%%!PS\n<</Type/Page/MediaBox [0 0 900 2000]>>\n' >"$work/custom.ps"

failures=0
jobs=0
stage_started=$(date +%s)
# expect STATUS NAME COMMAND...: runs the command, its status must be STATUS.
expect() {
    want=$1 name=$2
    shift 2
    jobs=$((jobs + 1))
    started=$(date +%s)
    set +e
    "$@" >"$work/out" 2>"$work/log"
    got=$?
    set -e
    took=$(($(date +%s) - started))
    if [ "$got" -ne "$want" ]; then
        failures=$((failures + 1))
        echo "FAILED: $name: exit $got, expected $want (99: valgrind found errors)"
        grep -v '^DEBUG' "$work/log" | tail -n 40
    else
        echo "ok: $name (exit $got, $(wc -c <"$work/out") bytes, $took s)"
    fi
    if [ -n "$(ls -A "$TMPDIR")" ]; then
        failures=$((failures + 1))
        echo "FAILED: $name left temporary files: $(ls "$TMPDIR")"
        rm -rf "${TMPDIR:?}"/*
    fi
}

run_filter() { # ppd options copies input-file [file-argument]
    PPD="$work/$1.ppd" $vg "$filter" 17 bob report "$3" "$2" ${5:-} <"$4"
}
expect 0 "plain copy" run_filter other "" 1 "$work/job.ps"
expect 0 "Jurvex, collated copies" run_filter jurvex "PageSize=A4 Collate=True" 3 "$work/job.ps"
expect 0 "Jurvex, job file argument" run_filter jurvex "PageSize=A4" 1 /dev/null "$work/job.ps"
expect 1 "Jurvex, custom size refused" run_filter jurvex "PageSize=Custom.900x2000" 1 "$work/custom.ps"
expect 0 "Halvex, long-edge duplex and keep-alive" \
    env DEVICE_URI=socket://127.0.0.1:9100 PPD="$work/halvex.ppd" \
    $vg "$filter" 17 bob report 1 "Duplex=DuplexNoTumble" "$work/doc.pdf"
printf '%%PDF-1.4\nbroken\n' >"$work/broken.pdf"
expect 1 "Halvex, broken PDF" run_filter halvex "" 1 "$work/broken.pdf"

closed_stream() { run_filter other "" 1 "$work/job.ps" | true; }
cancelled() { # the input never ends; the job is cancelled while the filter waits for it
    mkfifo "$work/fifo"
    (printf '%%!PS\n%%%%EndSetup\n'; sleep 30) >"$work/fifo" &
    feeder=$!
    PPD="$work/other.ppd" $vg "$filter" 17 bob report 1 "" <"$work/fifo" &
    pid=$!
    sleep 3
    kill -TERM $pid
    status=0
    wait $pid || status=$?
    kill $feeder 2>/dev/null || true
    rm -f "$work/fifo"
    return $status
}
# The status of a pipeline is the last command's: check the filter's own log.
expect 0 "printer stream closed early" closed_stream
grep -q "ERROR: Unable to write print data" "$work/log" || {
    failures=$((failures + 1))
    echo "FAILED: printer stream closed early: no ERROR line"
}
expect 0 "cancelled while the input arrives" cancelled

# Raster jobs. The PPDs name a model of each platform; the rasters come from
# Ghostscript's cups device as the CUPS chain makes them (8-bit gray, version 3),
# on small pages so that valgrind gets through them in seconds.
raster_ppd() { # name model [manual-duplex message]
    cat >"$work/$1.ppd" <<PPD
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VKTEST.PPD"
*Manufacturer: "Varkon"
*Product: "($2)"
*ModelName: "$2"
*ShortNickName: "$2"
*NickName: "$2"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*cupsFilter: "application/vnd.cups-raster 0 rastertoVarkon"
*cupsIPPReason SupportManualDuplex/TRUE: ""
PPD
    [ -z "${3:-}" ] || printf '*cupsIPPReason MDuplex/%s: ""\n' "$3" >>"$work/$1.ppd"
}
raster_ppd rc "Varkon Belvar 210 Series"
raster_ppd rz "Varkon Oskel 301 Series" "Turn the printed sheets over and put them back into the tray"
raster_ppd rm "Varkon Nimbrel 41 Series"

raster() { # file pages dpi width-points height-points [setpagedevice entries]
    gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=cups -dcupsColorSpace=18 -dcupsBitsPerColor=8 -r"$3" \
        -dDEVICEWIDTHPOINTS="$4" -dDEVICEHEIGHTPOINTS="$5" -dFIXEDMEDIA -sOutputFile="$work/$1" \
        -c "<<${6:-}>> setpagedevice /Helvetica findfont 20 scalefont setfont
            1 1 $2 { 10 30 moveto (Page ) show 3 string cvs show 100 100 moveto 130 130 lineto stroke showpage } for" \
        >/dev/null 2>&1
}
raster one.ras 1 600 144 144
raster three.ras 3 600 144 144
raster copies.ras 2 600 144 144 "/NumCopies 2"
raster fine.ras 1 1200 72 72
head -c 300000 "$work/one.ras" >"$work/cut.ras"

run_raster() { # ppd options input-file
    PPD="$work/$1.ppd" $vg "$raster_filter" 18 bob report 1 "$2" <"$3"
}
# What the raster filter wrote must be a whole job that the decoder accepts.
decodes() {
    "$decoder" -q "$work/out" >"$work/decoded" 2>&1 || {
        failures=$((failures + 1))
        echo "FAILED: $1: the printer stream does not decode: $(cat "$work/decoded")"
    }
}
job_end=$(printf '@PJL EOJ\r\n\033%%-12345X\r\n' | od -An -tx1 | tr -d ' \n')
ends_with_job_end() { [ "$(tail -c 21 "$1" | od -An -tx1 | tr -d ' \n')" = "$job_end" ]; }
manual_duplex() { # the filter waits for the user to turn the stack: a cancel once the job end is out ends the wait
    : >"$work/manual.out"
    PPD="$work/rz.ppd" $vg "$raster_filter" 18 bob report 1 "ManualDuplex=True" <"$work/three.ras" >"$work/manual.out" &
    pid=$!
    tries=0
    while ! ends_with_job_end "$work/manual.out" && kill -0 $pid 2>/dev/null && [ $tries -lt 1200 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill -TERM $pid 2>/dev/null || true
    status=0
    wait $pid || status=$?
    cat "$work/manual.out"
    return $status
}
raster_job() { # name ppd options input-file: a job that prints whole
    expect 0 "$1" run_raster "$2" "$3" "$4"
    decodes "$1"
}
raster_job "raster, platform C" rc "" "$work/one.ras"
raster_job "raster, platform Z, three pages" rz "" "$work/three.ras"
raster_job "raster, platform M, two-bit 1200 dpi" rm "DPI1200=True" "$work/one.ras"
raster_job "raster, automatic duplex with a blank page" rc "Duplex=DuplexNoTumble" "$work/three.ras"
raster_job "raster, collated copies" rz "Collate=True" "$work/copies.ras"
raster_job "raster, 1200-dpi page" rc "" "$work/fine.ras"
expect 0 "raster, manual duplex" manual_duplex
decodes "raster, manual duplex"
expect 1 "raster, cut inside a page" run_raster rm "" "$work/cut.ras"

tail -c +2 fuzz/corpus/stream_decoder/z_one_page >"$work/z.prn"
mkdir "$work/pages"
expect 0 "decoder, pages written" $vg "$decoder" -q -o "$work/pages" --png "$work/z.prn"
expect 1 "decoder, damaged stream" $vg "$decoder" -q "$build/../fuzz/corpus/stream_decoder/filter_head_c"

echo "valgrind: $jobs runs, $failures failed, $(($(date +%s) - stage_started)) s"
[ "$failures" -eq 0 ]
