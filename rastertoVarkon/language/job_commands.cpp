// SPDX-License-Identifier: GPL-2.0-or-later
// Job start and end on the three platforms: the PJL envelope of C and Z with their
// job frames, the long START_DOC/END_DOC frames of M, and the fixed toner tables.
#include "job_commands.h"

#include "bytes.h"
#include "command_send.h"
#include "frames.h"
#include "job_context.h"
#include "model_table.h"
#include "output_sink.h"
#include "page_commands.h"
#include "platform.h"

#include <sys/utsname.h>

#include <array>
#include <cstdio>
#include <cstring>

using varkon::kCached;
using varkon::kDevice;
using varkon::send_item;

namespace {

// Firmware tuning of the Tamrel model: sent as is at every job start.
constexpr std::array<unsigned char, varkon::kTonerParamTamrelLen> kTonerParamTamrel = {
    0x0B, 0x24, varkon::code_z::TONER_PARAM,
    0,                              // paramVer
    30, 36,                         // densityLow, densityHigh
    38, 47, 80,                     // paperSizeMax, paperSizeMid, paperSizeMin
    6, 32, 32, 32,                  // warmUp, tonerSave, temperaLow, temperaHigh
    40, 44,                         // duplex, mediaSpel
    32, 32, 32, 32, 32, 32, 32,     // cartridgeCnt_1..7
    32, 32, 32,                     // printSpeed_1..3
    32, 32, 32, 32,                 // coverRate_1..4
    32, 32,                         // wasteToner_1..2
    32, 32, 10,                     // idle, highDpi, allowMaxCnt
    0,                              // reser
    0xC8};

// Firmware tuning of the Drevan model.
constexpr std::array<unsigned char, varkon::kTonerParamDrevanLen> kTonerParamDrevan = {
    0x0B, 0x28, varkon::code_z::TONER_PARAM,
    0,                              // paramVer
    23, 38,                         // densityLow, densityHigh
    0, 48, 64,                      // paperSizeMaxresvered, paperSizeMid, paperSizeMin
    32, 23, 32, 32,                 // warmUp, tonerSave, temperaLow, temperaHigh
    0, 0,                           // duplexandmediaSpelresvered
    32, 32, 32, 32, 32, 32, 32,     // cartridgeCnt_1..7
    32, 32, 32,                     // printSpeed_1..3
    32, 32, 32, 32,                 // coverRate_1..4
    32, 32,                         // wasteToner_1..2
    32, 8, 10,                      // idle, highDpi, allowMaxCnt
    0, 0, 0, 0, 0,                  // reser
    0x59};

static_assert(varkon::is_checked_short_frame(kTonerParamTamrel), "Tamrel toner frame sums to zero");
static_assert(varkon::is_checked_short_frame(kTonerParamDrevan), "Drevan toner frame sums to zero");

// Firmware tuning of platform M, 16-bit values after the long-frame header.
constexpr std::array<uint16_t, 36> kTonerParamM = {
    0,                              // paramVer
    81, 115,                        // densityLow, densityHigh
    110, 150,                       // highSpeedPageSize1..2
    122, 100, 150, 200,             // lowSpeedBase, lowSpeedPageSzie1..3
    100, 81, 100, 100, 100,         // warmUp, tonerSave, temperaLow, temperaHigh, duplex
    100, 100, 100, 100, 100, 100, 100, // cartridgeCnt_1..7
    100, 100, 100,                  // printSpeed_1..3
    120, 135, 150, 180, 200,        // highSpeedCoverRate_1..5
    120, 150, 190, 350, 400,        // lowSpeedCoverRate_1..5
    100, 100};                      // idle, dpi1200
static_assert(varkon::kLongHeaderLen + 2 * kTonerParamM.size() == varkon::kTonerParamMLen,
              "the M toner block fills its 88 bytes");

// Builds a five-byte short frame carrying one parameter byte.
int byte_frame(unsigned char *frame, uint8_t code, uint8_t value)
{
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kByteFrameLen;
    frame[2] = code;
    frame[3] = value;
    frame[4] = CalcChecksum(frame, 4) & 0xFF;
    return 1;
}

bool is_model(const char *name) { return std::strcmp(varkon::job_context().gPPDFile, name) == 0; }

int start_doc_z(const GDI_START_DOC_PARAM &param)
{
    if (!send_item(PJLheader, kDevice, "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n"))
        return 0;
    const bool tamrel = is_model(varkon::kTamrelModelName);
    if (tamrel && !send_item(pjlVersion, kDevice, "Prnt_StartDoc() :: send pjlVersion Fail 0 ==  \n"))
        return 0;

    char pjlPostSendTime[varkon::kJobTimeLineSize] = {};
    GetSendTimePJL(pjlPostSendTime);
    const char *timeFail = "Prnt_StartDoc() :: send pjlSendTime Fail 0 ==  \n";
    if (!send_item(pjlPreSendTime, kDevice, timeFail) ||
        !send_item(reinterpret_cast<const unsigned char *>(pjlPostSendTime), std::strlen(pjlPostSendTime), kDevice,
                   timeFail))
        return 0;

    char pjlPostComputerName[varkon::kHostNameSize] = {};
    // A job that names its owner's host (a print server printing for a client) sends that one.
    const char *owner = varkon::job_context().hostName;
    if (owner[0] != '\0')
        std::snprintf(pjlPostComputerName, sizeof pjlPostComputerName, "%s", owner);
    else
        varkon::read_host_name(pjlPostComputerName);
    const size_t hostLen = std::strlen(pjlPostComputerName);
    const char *hostFail = "Prnt_StartDoc() :: send pjlHostName Fail 0 ==  \n";
    // An empty host name has nothing to send; the sink would report a zero-byte write as failed.
    if (!send_item(pjlPreComputerName, kDevice, hostFail) ||
        (hostLen > 0 &&
         !send_item(reinterpret_cast<const unsigned char *>(pjlPostComputerName), hostLen, kDevice, hostFail)) ||
        !send_item(CRLF, kCached, hostFail))
        return 0;
    if (!send_item(pjlCmd, kDevice, "Prnt_StartDoc() :: send pjlPosCmd Fail 0 ==  \n"))
        return 0;

    unsigned char frame[varkon::kJobSpecZLen];
    Insert00();
    GetFineModeCmd(&param, frame);
    if (!send_item(frame, varkon::kByteFrameLen, kCached, "Prnt_StartDoc() :: send cmdFineMode Fail 0 ==  \n"))
        return 0;
    Insert00();
    GetJobSpecCmd_Z(&param, frame);
    if (!send_item(frame, varkon::kJobSpecZLen, kDevice, "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n"))
        return 0;
    Insert00();
    GetDensityCmd(&param, frame);
    if (!send_item(frame, varkon::kByteFrameLen, kDevice, "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n"))
        return 0;
    Insert00();

    const char *tonerFail = "Prnt_StartDoc() :: send cmdTonerParamTamrel Fail 0 ==  \n";
    if (tamrel && !send_item(kTonerParamTamrel, kDevice, tonerFail))
        return 0;
    if (is_model(varkon::kDrevanModelName) && !send_item(kTonerParamDrevan, kDevice, tonerFail))
        return 0;
    return 1;
}

int start_doc_c(const GDI_START_DOC_PARAM &param)
{
    if (!send_item(UEL_CMD_C, kCached, "Prnt_StartDoc() :: send UEL_CMD_C Fail 0 ==  \n") ||
        !send_item(abortCmd, kCached, "Prnt_StartDoc() :: send abortCmd Fail 0 ==  \n") ||
        !send_item(endOfJobCmd, kCached, "Prnt_StartDoc() :: send endOfJobCmd Fail 0 ==  \n") ||
        !send_item(fwVer, kCached, "Prnt_StartDoc() :: send fw Version Fail 0 ==  \n"))
        return 0;
    Insert00();
    if (!send_item(PJLheader, kCached, "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n") ||
        !send_item(pjlCmd, kCached, "Prnt_StartDoc() :: send pjlCmd Fail 0 ==  \n"))
        return 0;

    unsigned char frame[varkon::kSysTimeLen];
    Insert00();
    GetJobSpecCmd_C(&param, frame);
    if (!send_item(frame, varkon::kJobSpecCLen, kCached, "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n"))
        return 0;
    Insert00();
    GetTonerSaveCmd(&param, frame);
    if (!send_item(frame, varkon::kByteFrameLen, kCached, "Prnt_StartDoc() :: send cmdTonerSave Fail 0 ==  \n"))
        return 0;
    Insert00();
    GetDensityCmd(&param, frame);
    if (!send_item(frame, varkon::kByteFrameLen, kCached, "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n"))
        return 0;

    const time_t now = time(nullptr);
    struct tm localTime {};
    localtime_r(&now, &localTime);
    GetSysTimeCmd(frame, localTime);
    return send_item(frame, varkon::kSysTimeLen, kCached, "Prnt_StartDoc() :: send cmdSysTime Fail 0 ==  \n");
}

int start_doc_m()
{
    if (!send_item(UEL_CMD, kCached, "Prnt_StartDoc() :: send UEL_CMD Fail 0 ==  \n") ||
        !send_item(pjlJZJZ_Quolin, kCached, "Prnt_StartDoc() :: send pjlJZJZ_Quolin Fail 0 ==  \n"))
        return 0;

    unsigned char block[varkon::kTonerParamMLen];
    GetTonerParamCmdForPlatformM(block, varkon::kTonerParamMLen, varkon::cmd_m::TONER_PARAM, 0, 0,
                                 varkon::kCmdSignature);
    if (!send_item(block, sizeof block, kCached, "Prnt_StartDoc() :: send TONER_PARAM Fail 0 ==  \n"))
        return 0;

    constexpr uint32_t paramCount = 3;
    constexpr uint32_t paramsLen = paramCount * varkon::kLongParamLen;
    unsigned char header[varkon::kLongHeaderLen];
    SetCmdType(header, varkon::kLongHeaderLen + paramsLen, varkon::cmd_m::START_DOC_CMD, paramCount, paramsLen,
               varkon::kCmdSignature);
    if (!send_item(header, sizeof header, kCached, "Prnt_StartDoc() :: send START_DOC_CMD Fail 0 ==  \n"))
        return 0;

    constexpr std::array<std::array<uint32_t, 2>, paramCount> docParams = {{{varkon::param_m::DOC_PARAM_0, 0},
                                                                            {varkon::param_m::DOC_PARAM_1, 0},
                                                                            {varkon::param_m::DOC_PARAM_2, 1}}};
    for (const auto &entry : docParams) {
        unsigned char param[varkon::kLongParamLen];
        SetCmdParam(param, static_cast<uint16_t>(entry[0]), varkon::kParamType, entry[1]);
        if (!send_item(param, sizeof param, kCached, "Prnt_StartDoc() :: send TOTAL_PAGE_PARAM Fail 0 ==  \n"))
            return 0;
    }
    return 1;
}

// Closing of C and Z: reset and the PJL end of job.
int end_doc_reset()
{
    if (!send_item(resetCmd, kCached, "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n"))
        return 0;
    return send_item(endOfJobCmd, kCached, "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n");
}

int end_doc_c(const GDI_END_DOC_PARAM &param)
{
    if (param.bMachDup == 1 && !SendMachineDuplexCmd(param.page, 1))
        return varkon::fail("Prnt_EndDoc() :: MachineDuplexCmd Fail .\n");
    Insert00();
    if (!send_item(queryStatusCmd, kCached, "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n"))
        return 0;
    Insert00();
    return end_doc_reset();
}

int end_doc_m()
{
    unsigned char header[varkon::kLongHeaderLen];
    SetCmdType(header, varkon::kLongHeaderLen, varkon::cmd_m::END_DOC_CMD, 0, 0, varkon::kCmdSignature);
    if (!send_item(header, sizeof header, kDevice, "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n"))
        return 0;
    return SendDataToFile(UEL_CMD.data(), UEL_CMD.size(), kDevice) != 0 ? 1 : 0;
}

} // namespace

int GetJobSpecCmd_Z(const GDI_START_DOC_PARAM *param, unsigned char *frame)
{
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kJobSpecZLen;
    frame[2] = varkon::code_z::JOB_SPEC;
    frame[3] = varkon::job_option_byte(*param);
    varkon::put_le32(frame + 4, static_cast<uint32_t>(param->jobID));
    frame[8] = CalcChecksum(frame, 8) & 0xFF;
    return 1;
}

int GetJobSpecCmd_C(const GDI_START_DOC_PARAM *param, unsigned char *frame)
{
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kJobSpecCLen;
    frame[2] = varkon::code_c::JOB_SPEC;
    frame[3] = static_cast<unsigned char>(param->jobID & 0xFF);
    frame[4] = varkon::job_option_byte(*param);
    frame[5] = CalcChecksum(frame, 5) & 0xFF;
    return 1;
}

int GetFineModeCmd(const GDI_START_DOC_PARAM *param, unsigned char *frame)
{
    return byte_frame(frame, varkon::code_z::FINE_MODE, param->FineMode);
}

int GetDensityCmd(const GDI_START_DOC_PARAM *param, unsigned char *frame)
{
    return byte_frame(frame, varkon::code_c::DENSITY, param->densityLevel);
}

int GetTonerSaveCmd(const GDI_START_DOC_PARAM *param, unsigned char *frame)
{
    return byte_frame(frame, varkon::code_c::TONER_SAVE, static_cast<uint8_t>(param->tonerSaveEnable & 0xFF));
}

int GetSysTimeCmd(unsigned char *frame, const struct tm &localTime)
{
    if (frame == nullptr)
        return 0;
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kSysTimeLen;
    frame[2] = varkon::code_c::SYSTEM_DATE;
    varkon::put_le16(frame + 3, static_cast<uint32_t>(localTime.tm_year + 1900));
    frame[5] = static_cast<unsigned char>(localTime.tm_mon + 1);
    frame[6] = static_cast<unsigned char>(localTime.tm_mday);
    frame[7] = CalcChecksum(frame, 7) & 0xFF;
    return 1;
}

int GetTonerParamCmdForTamrel(unsigned char *frame)
{
    std::memcpy(frame, kTonerParamTamrel.data(), kTonerParamTamrel.size());
    return 1;
}

int GetTonerParamCmdForDrevan(unsigned char *frame)
{
    std::memcpy(frame, kTonerParamDrevan.data(), kTonerParamDrevan.size());
    return 1;
}

int GetTonerParamCmdForPlatformM(unsigned char *block, uint32_t cmdLen, uint32_t cmdType, uint32_t cmdParamNumber,
                                 uint16_t cmdParamNumberLen, uint16_t cmdSignature)
{
    SetCmdType(block, cmdLen, cmdType, cmdParamNumber, cmdParamNumberLen, cmdSignature);
    for (size_t i = 0; i < kTonerParamM.size(); ++i)
        varkon::put_be16(block + varkon::kLongHeaderLen + 2 * i, kTonerParamM[i]);
    return 1;
}

void GetSendTimePJL(char *sendTimeCmd, const struct tm &localTime)
{
    // Formatted with room to spare, then cut to the 18 characters the line has for any real date.
    char line[64];
    std::snprintf(line, sizeof line, "%02d:%02d:%02d:%02d:%04d\r\n", localTime.tm_min, localTime.tm_hour,
                  localTime.tm_mday, localTime.tm_mon + 1, localTime.tm_year + 1900);
    const size_t len = strnlen(line, varkon::kJobTimeLineSize - 1);
    std::memcpy(sendTimeCmd, line, len);
    sendTimeCmd[len] = '\0';
}

void GetSendTimePJL(char *sendTimeCmd)
{
    const time_t now = time(nullptr);
    struct tm localTime {};
    localtime_r(&now, &localTime);
    GetSendTimePJL(sendTimeCmd, localTime);
}

int Prnt_StartDoc(PGDI_START_DOC_PARAM pStartDocParam, int platform)
{
    switch (platform) {
    case PLATFORM_C:
        return pStartDocParam != nullptr ? start_doc_c(*pStartDocParam) : 0;
    case PLATFORM_Z:
        return pStartDocParam != nullptr ? start_doc_z(*pStartDocParam) : 0;
    case PLATFORM_M:
        return start_doc_m();
    default:
        return 0;
    }
}

int Prnt_EndDoc(PGDI_END_DOC_PARAM pEndDocParam, int platform)
{
    switch (platform) {
    case PLATFORM_C:
        return pEndDocParam != nullptr ? end_doc_c(*pEndDocParam) : 0;
    case PLATFORM_Z:
        return end_doc_reset();
    case PLATFORM_M:
        return end_doc_m();
    default:
        return 0;
    }
}

namespace varkon {

uint8_t job_option_byte(const GDI_START_DOC_PARAM &param)
{
    uint8_t option = param.DuplexMode | param.saveMode;
    if (param.watermarkEnable != 0)
        option |= 0x80;
    if (param.bookletEnable != 0)
        option |= 0x08;
    if (param.posterEnable != 0)
        option |= 0x04;
    if (param.nupEnable != 0)
        option |= 0x02;
    if (param.overlapEnable != 0)
        option |= 0x01;
    return option;
}

void read_host_name(char (&name)[kHostNameSize])
{
    // uname rather than gethostname: a longer name is cut to 32 bytes instead of lost.
    struct utsname system {};
    name[0] = '\0';
    if (uname(&system) != 0)
        return;
    const size_t len = strnlen(system.nodename, kHostNameSize - 1);
    std::memcpy(name, system.nodename, len);
    name[len] = '\0';
}

} // namespace varkon
