// SPDX-License-Identifier: GPL-2.0-or-later
// Checksum, long-frame header and parameter entries, and the small frame helpers
// shared by the job, page and image commands.
#include "frames.h"

#include "bytes.h"

#include <utility>

int CalcChecksum(const unsigned char *data, int len)
{
    if (data == nullptr || len <= 0)
        return 0;
    unsigned char sum = 0;
    for (int i = 0; i < len; ++i)
        sum = static_cast<unsigned char>(sum + data[i]);
    return -static_cast<int>(sum);
}

int SetCmdType(unsigned char *header, uint32_t cmdLen, uint32_t cmdType, uint32_t cmdParamNumber,
               uint16_t cmdParamNumberLen, uint16_t cmdSignature)
{
    varkon::put_be32(header, cmdLen);
    varkon::put_be32(header + 4, cmdType);
    varkon::put_be32(header + 8, cmdParamNumber);
    varkon::put_be16(header + 12, cmdParamNumberLen);
    varkon::put_be16(header + 14, cmdSignature);
    return 1;
}

int SetCmdParam(unsigned char *entry, uint16_t paramCmd, uint8_t paramType, uint32_t value)
{
    varkon::put_be32(entry, varkon::kLongParamLen);
    varkon::put_be16(entry + 4, paramCmd);
    entry[6] = paramType;
    entry[7] = 0;
    varkon::put_be32(entry + 8, value);
    return 1;
}

int GetSleepCmd(unsigned char *frame)
{
    frame[0] = varkon::kLeadingByte;
    frame[1] = 5;
    frame[2] = varkon::kSleepTimeCode;
    frame[3] = 1;
    frame[4] = CalcChecksum(frame, 4) & 0xFF;
    return 1;
}

void SwapUINT(unsigned int *a, unsigned int *b) { std::swap(*a, *b); }

void SwapUSHORT(unsigned short *a, unsigned short *b) { std::swap(*a, *b); }
