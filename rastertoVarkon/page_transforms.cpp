// Page turns and the blank page. Placeholder definitions so that the filter links.
#include "page_transforms.h"

int Rotate180(unsigned char *, uint32_t, uint32_t) { return 0; }
int Rotate90(unsigned char *, uint32_t, uint32_t) { return 0; }
void InsertBlankPage(cups_page_header2_t, PGDI_START_PAGE_PARAM, int) {}

namespace varkon {
int half_turn_needed(const PRINT_FUNC_INFO *, int, int, int, unsigned) { return 0; }
} // namespace varkon
