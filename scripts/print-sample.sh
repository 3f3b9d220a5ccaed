#!/bin/sh
# Prints a sample document for a host-based Varkon printer to a file: the real
# CUPS filters (texttopdf, pdftopdf, gstoraster) render it to 8-bit gray raster,
# rastertoVarkon turns that into the printer's data, and varkon-decode shows the
# pages it contains as images.
#
#   scripts/print-sample.sh [C|Z|M]     platform of the sample printer (default Z)
#
# Set VARKON_SKIP_DEPS=1 to skip installing the Debian packages, VARKON_BUILD_DIR
# to build somewhere else than ./build.
set -eu
cd "$(dirname "$0")/.."

platform=$(printf '%s' "${1:-Z}" | tr '[:lower:]' '[:upper:]')
case "$platform" in
    C) model="Varkon Belvar 210 Series" ;;
    Z) model="Varkon Oskel 301 Series" ;;
    M) model="Varkon Nimbrel 41 Series" ;;
    *) echo "usage: $0 [C|Z|M]" >&2; exit 2 ;;
esac

if [ "${VARKON_SKIP_DEPS:-0}" != 1 ]; then
    scripts/install-deps.sh
fi

build=${VARKON_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target rastertoVarkon
cmake --build "$build" -j "$(nproc)" --target varkon-decode 2>/dev/null || true

out=out
mkdir -p "$out"
ppd="$out/sample-$platform.ppd"
text="$out/sample.txt"
raster="$out/sample-$platform.ras"
printer="$out/sample-$platform.prn"
log="$out/sample-$platform.log"

# A small PPD for the chosen model. The ColorModel and Resolution choices make the
# CUPS chain deliver 8-bit gray at 600 dpi, which is what the filter prints; the
# imageable area is about the printable area of A4 on these printers.
cat > "$ppd" <<EOF
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VKSAMPLE.PPD"
*Manufacturer: "Varkon"
*Product: "($model)"
*ModelName: "$model"
*ShortNickName: "$model"
*NickName: "$model, sample"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "20"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsFilter: "application/vnd.cups-raster 0 rastertoVarkon"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "13 12 582 830"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*OpenUI *ColorModel/Color Mode: PickOne
*OrderDependency: 10 AnySetup *ColorModel
*DefaultColorModel: Gray
*ColorModel Gray/Grayscale: "<</cupsColorOrder 0/cupsColorSpace 18/cupsBitsPerColor 8/cupsCompression 0>>setpagedevice"
*CloseUI: *ColorModel
*OpenUI *Resolution/Resolution: PickOne
*OrderDependency: 10 AnySetup *Resolution
*DefaultResolution: 600dpi
*Resolution 600dpi/600 DPI: "<</HWResolution[600 600]>>setpagedevice"
*CloseUI: *Resolution
EOF

{
    echo "Varkon driver sample page"
    echo
    echo "Printer model: $model (platform $platform)"
    echo "Printed on:    $(date '+%Y-%m-%d %H:%M')"
    echo
    i=1
    while [ "$i" -le 40 ]; do
        echo "Line $i: the quick brown fox jumps over the lazy dog 0123456789"
        i=$((i + 1))
    done
} > "$text"

# The CUPS chain up to the raster our filter reads.
cupsfilter -p "$ppd" -m application/vnd.cups-raster "$text" > "$raster" 2> "$out/sample-$platform.cups.log"

# The filter itself, with the command line and environment CUPS gives it.
status=0
PPD="$ppd" "$build/rastertoVarkon/rastertoVarkon" 1 "$(id -un)" "Varkon sample" 1 "" "$raster" \
    > "$printer" 2> "$log" || status=$?

echo
echo "rastertoVarkon log (without DEBUG lines), full log in $log:"
grep -v '^DEBUG:' "$log" | grep -v '^INFO: Printing page' || true
echo

if [ -x "$build/tools/varkon-decode" ]; then
    rm -rf "$out/pages-$platform"
    "$build/tools/varkon-decode" -o "$out/pages-$platform" --png "$printer" || true
    echo "Pages as images:   $out/pages-$platform/"
fi
echo "Printer data:      $printer ($(wc -c < "$printer") bytes, platform $platform, exit status $status)"
echo "Raster from CUPS:  $raster"
exit "$status"
