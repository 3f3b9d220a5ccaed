// SPDX-License-Identifier: GPL-2.0-or-later
// Job start and end: frame builders of the job frames, the PJL job time and owner.
#pragma once

#include "prnt.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

// Short job frames, built from the job start record; each returns 1.
int GetJobSpecCmd_Z(const GDI_START_DOC_PARAM *param, unsigned char *frame); // 9 bytes
int GetJobSpecCmd_C(const GDI_START_DOC_PARAM *param, unsigned char *frame); // 6 bytes
int GetFineModeCmd(const GDI_START_DOC_PARAM *param, unsigned char *frame);  // 5 bytes, Z
int GetDensityCmd(const GDI_START_DOC_PARAM *param, unsigned char *frame);   // 5 bytes, C and Z
int GetTonerSaveCmd(const GDI_START_DOC_PARAM *param, unsigned char *frame); // 5 bytes, C

// C system date frame (8 bytes) for the given local time; 0 when given no frame.
int GetSysTimeCmd(unsigned char *frame, const struct tm &localTime);

// The fixed toner-parameter frames of the two Z models that need them, and the M block.
int GetTonerParamCmdForTamrel(unsigned char *frame);  // 36 bytes
int GetTonerParamCmdForDrevan(unsigned char *frame);  // 40 bytes
int GetTonerParamCmdForPlatformM(unsigned char *block, uint32_t cmdLen, uint32_t cmdType, uint32_t cmdParamNumber,
                                 uint16_t cmdParamNumberLen, uint16_t cmdSignature); // 88 bytes

// The job time line "mm:hh:dd:MM:yyyy\r\n" (minute first) into a buffer of at least 19 bytes.
void GetSendTimePJL(char *sendTimeCmd);
void GetSendTimePJL(char *sendTimeCmd, const struct tm &localTime);

namespace varkon {

constexpr size_t kJobSpecZLen = 9;
constexpr size_t kJobSpecCLen = 6;
constexpr size_t kByteFrameLen = 5;
constexpr size_t kSysTimeLen = 8;
constexpr size_t kTonerParamTamrelLen = 36;
constexpr size_t kTonerParamDrevanLen = 40;
constexpr size_t kTonerParamMLen = 88;
constexpr size_t kJobTimeLineSize = 19;  // pjlPostSendTime: 18 characters and the terminator
constexpr size_t kHostNameSize = 33;     // pjlPostComputerName: at most 32 bytes of host name

// The job option byte of both job specification frames.
uint8_t job_option_byte(const GDI_START_DOC_PARAM &param);

// The machine's host name (the PJL job owner), at most 32 bytes, always terminated.
void read_host_name(char (&name)[kHostNameSize]);

} // namespace varkon
