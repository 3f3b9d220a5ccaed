// Job start and end: the PJL envelope and the job frames of platforms C, Z and M.
// Placeholder definitions so that the filter links; the command sequences follow.
#include "prnt.h"

int Prnt_StartDoc(PGDI_START_DOC_PARAM, int) { return 0; }
int Prnt_EndDoc(PGDI_END_DOC_PARAM, int) { return 0; }
