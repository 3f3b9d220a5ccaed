// Page image transfer: JBIG compression and the band and package framing.
// Placeholder definitions so that the filter links; the transfer follows.
#include "prnt.h"

uint32_t gImageChecksum = 0;

int Prnt_SendPage(PGDI_SEND_PAGE_PARAM, int) { return 0; }
