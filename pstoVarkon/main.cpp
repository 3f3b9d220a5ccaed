// SPDX-License-Identifier: GPL-2.0-or-later
// Entry of the pstoVarkon CUPS filter.
#include "job_flow.h"

int main(int argc, char **argv) { return varkon::run_pstoVarkon(argc, argv); }
