# SPDX-License-Identifier: GPL-2.0-or-later
# The load test of the Printer Application runs alone: it keeps both cores busy
# for about ten seconds with four printers and eight clients, and its memory
# figures and per-round deadline would measure the other tests beside it.
# ctest reads this after the discovered tests; a name it does not know (the
# program not built) is passed over.
set(test PrinterAppLoad.FiftyJobsFromEightClientsPrintWholeOnFourPrintersInBoundedMemory)
set_tests_properties(${test} PROPERTIES RUN_SERIAL TRUE TIMEOUT 400 LABELS "integration;load")
