// SPDX-License-Identifier: GPL-2.0-or-later
// The job state of pstoVarkon: one job per process, so plain globals.
#include "job_state.h"

std::atomic<int32_t> job_canceled{0};
unsigned char isjurvex = 0;
int32_t width = 0;
int32_t height = 0;
unsigned char iscollate = 0;
int32_t copies = 0;
unsigned char isA5Page = 0;
