// Ordered halftoning. Placeholder definition so that the filter links.
#include "dither.h"

int HalftoneDither(const unsigned char *, uint32_t, uint32_t, unsigned char *, uint32_t, int32_t, int32_t, int32_t)
{
    return 0;
}
