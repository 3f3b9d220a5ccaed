// Page start and end commands, duplex commands and the coverage counters.
// Placeholder definitions so that the filter links; the command sequences follow.
#include "prnt.h"

uint32_t gImageCoverage = 0;

int Prnt_StartPage(PGDI_START_PAGE_PARAM, int) { return 0; }
int Prnt_EndPage(PGDI_END_PAGE_PARAM, int) { return 0; }
int SendMachineDuplexCmd(int, int) { return 0; }
int SendManualDuplexCmd(int) { return 0; }
