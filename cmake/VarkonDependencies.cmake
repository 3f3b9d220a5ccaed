# SPDX-License-Identifier: GPL-2.0-or-later
# Finds the system libraries the filters link: libcups, libcupsimage, libjbig, libusb-1.0.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

find_path(CUPS_INCLUDE_DIR cups/cups.h REQUIRED)
find_library(CUPS_LIBRARY cups REQUIRED)
find_library(CUPSIMAGE_LIBRARY cupsimage REQUIRED)
add_library(Varkon::cups INTERFACE IMPORTED)
target_include_directories(Varkon::cups INTERFACE ${CUPS_INCLUDE_DIR})
target_link_libraries(Varkon::cups INTERFACE ${CUPSIMAGE_LIBRARY} ${CUPS_LIBRARY} ${CMAKE_DL_LIBS})
# The PPD API is marked deprecated since CUPS 1.6, yet it is the interface CUPS
# still gives PPD-based drivers; the filters use it on purpose.
target_compile_options(Varkon::cups INTERFACE -Wno-deprecated-declarations)

find_path(JBIG_INCLUDE_DIR jbig.h REQUIRED)
find_library(JBIG_LIBRARY jbig REQUIRED)
add_library(Varkon::jbig INTERFACE IMPORTED)
target_include_directories(Varkon::jbig INTERFACE ${JBIG_INCLUDE_DIR})
target_link_libraries(Varkon::jbig INTERFACE ${JBIG_LIBRARY})

pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)

# Where CUPS looks for filters and backends (cups-config --serverbin), and for PPDs.
find_program(CUPS_CONFIG cups-config REQUIRED)
execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE CUPS_SERVERBIN OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE CUPS_DATADIR OUTPUT_STRIP_TRAILING_WHITESPACE)
set(VARKON_FILTER_DIR "${CUPS_SERVERBIN}/filter" CACHE PATH "Where the CUPS filters are installed")
set(VARKON_PPD_DIR "${CMAKE_INSTALL_FULL_DATADIR}/ppd/varkon" CACHE PATH "Where the PPD files are installed")
