// SPDX-License-Identifier: GPL-2.0-or-later
// The two frame families of the printer language (short frames of platforms C and
// Z, long frames of platform M), their command codes and the fixed byte sequences
// that are sent verbatim. Everything here is pure: builders fill a caller's buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Negated 8-bit sum of `len` bytes: the short-frame checksum is its low byte. 0 for len <= 0.
int CalcChecksum(const unsigned char *data, int len);

// Fills the 16-byte long-frame header, every field big-endian. Returns 1.
int SetCmdType(unsigned char *header, uint32_t cmdLen, uint32_t cmdType, uint32_t cmdParamNumber,
               uint16_t cmdParamNumberLen, uint16_t cmdSignature);

// Fills one 12-byte long-frame parameter entry. Returns 1.
int SetCmdParam(unsigned char *entry, uint16_t paramCmd, uint8_t paramType, uint32_t value);

// The 5-byte sleep-time frame. Returns 1.
int GetSleepCmd(unsigned char *frame);

// Exchange two values (the width and height of a page turned by a quarter).
void SwapUINT(unsigned int *a, unsigned int *b);
void SwapUSHORT(unsigned short *a, unsigned short *b);

namespace varkon {

// Short-frame layout shared by platforms C and Z.
constexpr unsigned char kLeadingByte = 0x0B;

// Long-frame layout of platform M.
constexpr size_t kLongHeaderLen = 16;
constexpr size_t kLongParamLen = 12;
constexpr uint16_t kCmdSignature = 0x5A5A;
constexpr uint8_t kParamType = 1;

// Short-frame command codes of platform C. The same byte means something else on Z.
namespace code_c {
constexpr uint8_t RASTER_IMAGE = 0x0C;
constexpr uint8_t JOB_SPEC = 0x11;
constexpr uint8_t PAGE_SPEC = 0x12;
constexpr uint8_t CUSTOM_PAPER = 0x13;
constexpr uint8_t DENSITY = 0x15;
constexpr uint8_t ABORT = 0x16;
constexpr uint8_t RESET = 0x17;
constexpr uint8_t FORM_FEED = 0x18;
constexpr uint8_t TONER_SAVE = 0x19;
constexpr uint8_t IMAGE_DATA_CHECKSUM = 0x1A;
constexpr uint8_t COVERAGE = 0x1E;
constexpr uint8_t SYSTEM_DATE = 0x1F;
constexpr uint8_t MANUAL_DUPLEX = 0x30;
constexpr uint8_t QUERY_STATUS = 0x31;
constexpr uint8_t HOST_USE = 0x32;
constexpr uint8_t MACHINE_DUPLEX = 0x40;
} // namespace code_c

// Short-frame command codes of platform Z.
namespace code_z {
constexpr uint8_t RASTER_IMAGE = 0x0C;
constexpr uint8_t JOB_SPEC = 0x11;
constexpr uint8_t PAGE_SPEC = 0x12;
constexpr uint8_t CUSTOM_PAPER = 0x13;
constexpr uint8_t DENSITY = 0x15;
constexpr uint8_t RESET = 0x17;
constexpr uint8_t FORM_FEED = 0x18;
constexpr uint8_t COVERAGE = 0x19;
constexpr uint8_t JBIG_BAND = 0x1A;
constexpr uint8_t MANUAL_DUPLEX = 0x1B;
constexpr uint8_t TONER_PARAM = 0x1E;
constexpr uint8_t FINE_MODE = 0x1F;
} // namespace code_z

// Sleep time belongs to neither platform's table: nothing in a job sends it.
constexpr uint8_t kSleepTimeCode = 0x1D;

// Long-frame types (cmdType) of platform M.
namespace cmd_m {
constexpr uint32_t START_DOC_CMD = 0x00;
constexpr uint32_t END_DOC_CMD = 0x01;
constexpr uint32_t START_PAGE_CMD = 0x02;
constexpr uint32_t END_PAGE_CMD = 0x03;
constexpr uint32_t JBIG_PARAM_CMD = 0x04;
constexpr uint32_t JBIG_DATA_CMD = 0x05;
constexpr uint32_t JBIG_END_CMD = 0x06;
constexpr uint32_t MANUAL_DUPLEX_CMD = 0x0B;
constexpr uint32_t TONER_PARAM = 0x11;
} // namespace cmd_m

// Parameter codes (paramCmd) of platform M.
namespace param_m {
constexpr uint16_t DOC_PARAM_0 = 0x0000;
constexpr uint16_t DOC_PARAM_1 = 0x0001;
constexpr uint16_t DOC_PARAM_2 = 0x0002;
constexpr uint16_t PAPER_SIZE_PARAM = 0x0003;
constexpr uint16_t COPIES_PARAM = 0x0004;
constexpr uint16_t INPUT_TRAY_PARAM = 0x0005;
constexpr uint16_t MEDIA_TYPE_PARAM = 0x0006;
constexpr uint16_t CHANNEL_NUM_PARAM = 0x0007;
constexpr uint16_t H_RESOLUTION_PARAM = 0x0008;
constexpr uint16_t V_RESOLUTION_PARAM = 0x0009;
constexpr uint16_t IMG_WIDTH_PARAM = 0x000C;
constexpr uint16_t IMG_HEIGHT_PARAM = 0x000D;
constexpr uint16_t VIDEO_DEPTH_PARAM = 0x0010;
constexpr uint16_t VIDEO_WIDTH_PARAM = 0x0011;
constexpr uint16_t VIDEO_HEIGHT_PARAM = 0x0012;
constexpr uint16_t RET_PARAM = 0x0016;
constexpr uint16_t CUSTOM_WIDTH_PARAM = 0x0018;
constexpr uint16_t CUSTOM_HEIGHT_PARAM = 0x0019;
constexpr uint16_t CUSTOM_PAPER_UNIT_PARAM = 0x001A;
constexpr uint16_t DENSITY_PARAM = 0xFF00;
} // namespace param_m

// A text sequence as the bytes that go on the wire, without the literal's terminator.
template <size_t N>
constexpr std::array<unsigned char, N - 1> wire(const char (&text)[N])
{
    std::array<unsigned char, N - 1> bytes{};
    for (size_t i = 0; i + 1 < N; ++i)
        bytes[i] = static_cast<unsigned char>(text[i]);
    return bytes;
}

template <size_t N>
constexpr unsigned byte_sum(const std::array<unsigned char, N> &bytes)
{
    unsigned sum = 0;
    for (unsigned char b : bytes)
        sum += b;
    return sum;
}

template <size_t N>
constexpr bool is_checked_short_frame(const std::array<unsigned char, N> &frame)
{
    return frame[0] == kLeadingByte && frame[1] == N && byte_sum(frame) % 256 == 0;
}

template <size_t N>
constexpr bool has_no_zero_byte(const std::array<unsigned char, N> &bytes)
{
    for (unsigned char b : bytes)
        if (b == 0)
            return false;
    return true;
}

} // namespace varkon

// Fixed sequences, sent verbatim.
inline constexpr auto UEL_CMD = varkon::wire("\x1B%-12345X");
// The C printers expect 0xFF where the universal exit language has '%'.
inline constexpr auto UEL_CMD_C = varkon::wire("\x1B\xFF-12345X");
inline constexpr auto pjlJZJZ_Quolin = varkon::wire("JZJZ");
inline constexpr auto fwVer = varkon::wire("versions=3.1.2.1");
inline constexpr auto PJLheader = varkon::wire("\x1B%-12345X@PJL\r\n");
inline constexpr auto pjlVersion = varkon::wire("@PJL LANGUAGEVERSION=1.0\r\n");
inline constexpr auto pjlPreSendTime = varkon::wire("@PJL JOBTIME=");
inline constexpr auto pjlPreComputerName = varkon::wire("@PJL JOBOWNER=");
inline constexpr auto CRLF = varkon::wire("\r\n");
inline constexpr auto pjlCmd = varkon::wire("@PJL ENTER LANGUAGE=PL\r\n");
inline constexpr auto endOfJobCmd = varkon::wire("\x1B%-12345X@PJL\r\n@PJL EOJ\r\n\x1B%-12345X\r\n");

inline constexpr std::array<unsigned char, 4> hostUseCmd = {0x0B, 0x04, varkon::code_c::HOST_USE, 0xBF};
inline constexpr std::array<unsigned char, 4> formFeedCmd = {0x0B, 0x04, varkon::code_c::FORM_FEED, 0xD9};
inline constexpr std::array<unsigned char, 5> queryStatusCmd = {0x0B, 0x05, varkon::code_c::QUERY_STATUS, 0x80,
                                                               0x3F};
inline constexpr std::array<unsigned char, 4> resetCmd = {0x0B, 0x04, varkon::code_c::RESET, 0xDA};
inline constexpr std::array<unsigned char, 4> machineDuplexCmd = {0x0B, 0x04, varkon::code_c::MACHINE_DUPLEX,
                                                                 0xB1};
inline constexpr std::array<unsigned char, 4> manualDuplexCmd_C = {0x0B, 0x04, varkon::code_c::MANUAL_DUPLEX,
                                                                  0xC1};
inline constexpr std::array<unsigned char, 4> manualDuplexCmd_Z = {0x0B, 0x04, varkon::code_z::MANUAL_DUPLEX,
                                                                  0xD6};
inline constexpr std::array<unsigned char, 4> abortCmd = {0x0B, 0x04, varkon::code_c::ABORT, 0xDB};

static_assert(UEL_CMD.size() == 9 && UEL_CMD_C.size() == 9 && pjlJZJZ_Quolin.size() == 4 && fwVer.size() == 16 &&
                  PJLheader.size() == 15 && pjlVersion.size() == 26 && pjlPreSendTime.size() == 13 &&
                  pjlPreComputerName.size() == 14 && CRLF.size() == 2 && pjlCmd.size() == 24 &&
                  endOfJobCmd.size() == 36,
              "fixed text sequences have their wire lengths");
static_assert(varkon::has_no_zero_byte(UEL_CMD) && varkon::has_no_zero_byte(UEL_CMD_C) &&
                  varkon::has_no_zero_byte(PJLheader) && varkon::has_no_zero_byte(endOfJobCmd),
              "no fixed sequence has a zero byte inside");
static_assert(UEL_CMD_C[1] == 0xFF, "UEL_CMD_C differs from UEL_CMD in its second byte");
static_assert(varkon::byte_sum(UEL_CMD_C) == 670, "the C image checksum starts from the byte sum of UEL_CMD_C");
static_assert(varkon::is_checked_short_frame(hostUseCmd) && varkon::is_checked_short_frame(formFeedCmd) &&
                  varkon::is_checked_short_frame(queryStatusCmd) && varkon::is_checked_short_frame(resetCmd) &&
                  varkon::is_checked_short_frame(machineDuplexCmd) &&
                  varkon::is_checked_short_frame(manualDuplexCmd_C) &&
                  varkon::is_checked_short_frame(manualDuplexCmd_Z) && varkon::is_checked_short_frame(abortCmd),
              "every fixed short frame carries its length and sums to zero");
static_assert(formFeedCmd[2] == varkon::code_z::FORM_FEED && resetCmd[2] == varkon::code_z::RESET,
              "form feed and reset share their codes on C and Z");
