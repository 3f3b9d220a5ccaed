#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what building, testing and running the driver and the Printer
# Application (PAPPL, Ghostscript for PDF, ipptool, avahi-daemon, a headless
# browser for its web pages) need on Debian 12.
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config \
    libcups2-dev libcupsimage2-dev libjbig-dev jbigkit-bin libusb-1.0-0-dev libpng-dev zlib1g-dev \
    libgtest-dev libbenchmark-dev \
    cups cups-client cups-bsd cups-ppdc cups-filters \
    qpdf poppler-utils ghostscript netpbm \
    umockdev python3 python3-pyasn1 \
    clang-14 libclang-rt-14-dev llvm-14 valgrind \
    libpappl-dev libavahi-client-dev cups-ipp-utils avahi-daemon \
    chromium chromium-driver python3-selenium
