#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the seed corpora of the raster_job and raster_options harnesses.

raster_job seeds are small real jobs: the harness's leading bytes (printer,
option flags, density, title) and a CUPS raster stream of 8-bit gray pages,
version 2 (run-length encoded, as libcups writes it) or version 3, in this
machine's byte order. Pages are small custom sizes so that they fit the
harness's caps; one uses a paper-table size that the caps refuse.
raster_options seeds follow the input layout described in raster_options.cpp.

    fuzz/make_raster_seeds.py            rewrite both folders' seeds
"""
import os
import struct
import sys

HEADER_BYTES = 1796
SYNC_V2 = 0x52615332  # "RaS2", compressed
SYNC_V3 = 0x52615333  # "RaS3", uncompressed
CSPACE_SW = 18

# Printers of fuzz/raster_job.cpp, by index.
C_PRINTER, C_MFP, Z_PRINTER, Z_BY_TEXT, M_PRINTER, M_BY_TEXT, NO_PLATFORM, UNKNOWN_PLATFORM_TEXT = range(8)
# First option byte of raster_job.cpp.
COLLATE, MANUAL_DUPLEX, DPI1200, NEGATIVE, TONER_SAVE, ROTATION, LONG_EDGE, THREADS = (1 << i for i in range(8))
NO_DENSITY = 0xFF


def header(width_pt, height_pt, dpi=600, copies=1, duplex=0, tumble=0, width=None, line_bytes=None,
           height=None, media_type=0):
    """A cups_page_header2_t of an 8-bit gray page, whole page as image."""
    h = bytearray(HEADER_BYTES)
    width = width if width is not None else width_pt * dpi // 72
    height = height if height is not None else height_pt * dpi // 72
    line_bytes = line_bytes if line_bytes is not None else width
    struct.pack_into("<I", h, 272, duplex)
    struct.pack_into("<II", h, 276, dpi, dpi)
    struct.pack_into("<I", h, 340, copies)
    struct.pack_into("<II", h, 352, width_pt, height_pt)
    struct.pack_into("<I", h, 368, tumble)
    struct.pack_into("<IIIIII", h, 372, width, height, media_type, 8, 8, line_bytes)
    struct.pack_into("<III", h, 396, 0, CSPACE_SW, 0)
    struct.pack_into("<I", h, 420, 1)
    struct.pack_into("<ff", h, 428, float(width_pt), float(height_pt))
    return bytes(h)


def line_runs(line):
    """One line run-length encoded: runs of 2 to 128 pixels, literal groups of up to 127."""
    out = bytearray()
    i = 0
    while i < len(line):
        run = 1
        while i + run < len(line) and run < 128 and line[i + run] == line[i]:
            run += 1
        if run >= 2:
            out += bytes([run - 1, line[i]])
            i += run
            continue
        literal = 1
        while i + literal < len(line) and literal < 127 and not (
                i + literal + 1 < len(line) and line[i + literal] == line[i + literal + 1]):
            literal += 1
        out += bytes([257 - literal]) + bytes(line[i:i + literal])
        i += literal
    return bytes(out)


def page_lines(h, rows=None, box=None, gray=0):
    """The page's lines: white, with the box (x0, y0, x1, y1) painted `gray`."""
    width, height, line_bytes = struct.unpack_from("<III", h, 372)[0], struct.unpack_from("<I", h, 376)[0], \
        struct.unpack_from("<I", h, 392)[0]
    rows = height if rows is None else rows
    lines = []
    for y in range(rows):
        line = bytearray([255]) * line_bytes
        if box and box[1] <= y < box[3]:
            line[box[0]:min(box[2], line_bytes)] = bytes([gray]) * (min(box[2], line_bytes) - box[0])
        lines.append(bytes(line))
    return lines


def compressed(lines):
    out = bytearray()
    y = 0
    while y < len(lines):
        repeat = 1
        while y + repeat < len(lines) and repeat < 256 and lines[y + repeat] == lines[y]:
            repeat += 1
        out += bytes([repeat - 1]) + line_runs(lines[y])
        y += repeat
    return bytes(out)


def raster(pages, version=2):
    """pages: (header, lines) pairs."""
    out = bytearray(struct.pack("<I", SYNC_V2 if version == 2 else SYNC_V3))
    for h, lines in pages:
        out += h
        out += compressed(lines) if version == 2 else b"".join(lines)
    return bytes(out)


def job(printer, flags=0, options=0, density=NO_DENSITY, title=b"Seed job"):
    return bytes([printer, flags, options, density, len(title)]) + title


def small_page(copies=1, duplex=0, tumble=0, dpi=600, size=(72, 60), box=(100, 100, 400, 300), rows=None):
    h = header(size[0], size[1], dpi=dpi, copies=copies, duplex=duplex, tumble=tumble)
    return h, page_lines(h, rows=rows, box=box)


def wide_page(h):
    """Lines wider than the printable width, fewer of them than it is high."""
    return h, page_lines(h, box=(0, 0, 150, 10), gray=96)


def job_seeds():
    one = small_page()
    duplex = small_page(duplex=1)
    return {
        "c_one_page": job(C_PRINTER) + raster([one]),
        "c_mfp_duplex_three_pages": job(C_MFP, options=2, density=4) + raster([duplex] * 3),
        "c_1200dpi": job(C_PRINTER, TONER_SAVE) + raster([small_page(dpi=1200, size=(30, 24), box=(0, 0, 200, 50))]),
        "c_cut_page": job(C_PRINTER) + raster([small_page(rows=20)]),
        "z_collated_copies": job(Z_PRINTER, COLLATE, density=1) + raster([small_page(copies=3)] * 2),
        "z_manual_duplex": job(Z_PRINTER, MANUAL_DUPLEX, title=b"Manual duplex") + raster([one] * 3),
        "z_short_edge_as_manual": job(Z_BY_TEXT, options=3) + raster([small_page(duplex=1, tumble=1)] * 2),
        "z_uncompressed_wide_lines": job(Z_PRINTER, NEGATIVE) + raster(
            [wide_page(header(10, 3, width=200, line_bytes=200, height=20))], version=3),
        "m_two_bit": job(M_PRINTER, DPI1200 | NEGATIVE) + raster([small_page(box=(0, 0, 600, 500), )]),
        "m_manual_duplex_collated": job(M_BY_TEXT, MANUAL_DUPLEX | COLLATE | THREADS, options=0x20) +
        raster([small_page(copies=2)] * 3),
        "m_threads_reverse": job(M_PRINTER, THREADS | ROTATION, options=0x04 | 0x40) + raster([one] * 4),
        "a4_refused_after_a_page": job(Z_PRINTER) + raster([one, (lambda h: (h, page_lines(h)))(header(595, 842, width=64, height=16))]),
        "no_platform": job(NO_PLATFORM) + raster([one]),
        "unknown_platform_text": job(UNKNOWN_PLATFORM_TEXT) + raster([one]),
        "a5_long_edge_beyond_the_caps": job(C_PRINTER) + raster(
            [(lambda h: (h, page_lines(h)))(header(421, 595, width=64, height=16))]),
    }


def text(data, limit):
    assert len(data) <= limit
    return bytes([len(data)]) + data


def options_seed(model, platform, size, duplex=0, tumble=0, message=b"", booleans=b"\1\1\1\1", density=b"\4",
                 seed=0, copied=1, padding=0, options=b""):
    """model, platform, booleans and density are the harness's choice bytes with any text they take."""
    out = bytearray(model + platform)
    for points in size:
        out += struct.pack("<HB", points & 0xFFFF, points >> 16)
    out += bytes([duplex, tumble, 1]) + text(message, 24) + booleans + density
    out += bytes([seed, copied, padding]) + options
    return bytes(out)


def options_seeds():
    oskel, belvar, nimbrel = bytes([12]), bytes([1, 9]), bytes([38])
    z_text, c_text, m_text = bytes([1, 0, 0]), bytes([0, 0xFF, 0x03]), bytes([2, 0, 0])
    return {
        "oskel_a4_duplex": options_seed(oskel, z_text, (595, 842), duplex=1, message=b"Turn the pages",
                                        options=b"Collate=True Duplex=DuplexTumble InputSlot=ManualFeed Density=3"),
        "belvar_case_long_edge_a5": options_seed(belvar, c_text, (421, 595), booleans=b"\2\0\3\5" + text(b"Yes", 8), density=b"\2",
                                                 options=b"noTonerMode FeedLongEdge=true outputorder=reverse"),
        "unknown_model_cut_paper": options_seed(bytes([200]) + text(b"Varkon Some Other Printer", 48), m_text,
                                                (842, 1191), density=b"\24" + text(b"2.5", 6), copied=0,
                                                options=b"PageSize=A4 sides=two-sided-long-edge InputSlot=AutoFeed"),
        "long_options_at_buffer_end": options_seed(nimbrel, bytes([9]) + text(b"PLATFORM_X", 16), (612, 792),
                                                   density=b"\0", padding=250,
                                                   options=b" Duplex=None NegativePrint=false"),
        "quoted_options": options_seed(oskel, z_text, (1000, 2000), duplex=1, tumble=1, booleans=b"\5" + text(b"on", 8) + b"\4\1\2",
                                       density=b"\36" + text(b"04", 6), seed=0xA5,
                                       options=b"media={a b} Duplex=\"two-sided-short-edge\" InputSlot=Tray9 "
                                               b"Density=abc PageSize=Legal TonerMode=TRUE ImageRotation"),
    }


def write(folder, seeds):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(sys.argv[0]))
    write(os.path.join(here, "corpus", "raster_job"), job_seeds())
    write(os.path.join(here, "corpus", "raster_options"), options_seeds())
