// SPDX-License-Identifier: GPL-2.0-or-later
// The two SNMPv1 requests the liaison threads send (keep-alive SetRequest,
// job-status GetRequest), built at compile time from one enterprise number,
// and the reading of the printer's status reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varkon {

// The printers' private enterprise number. Its BER sub-identifier must take
// three bytes: the datagram lengths the printers expect are fixed.
constexpr std::uint32_t kEnterpriseNumber = 52431;

constexpr std::size_t kSnmpRequestSize = 45;
using SnmpRequest = std::array<unsigned char, kSnmpRequestSize>;

namespace snmp {

constexpr unsigned char kCommunity[] = {'t', 'a', 'l', 'l', 'o', 'w'};
constexpr unsigned char kInternetPrivateEnterprises[] = {0x2B, 0x06, 0x01, 0x04, 0x01}; // 1.3.6.1.4.1

constexpr bool fits_three_byte_subidentifier(std::uint32_t value)
{
    return value >= (1u << 14) && value < (1u << 21);
}

// An encoding under construction, bigger than any request so that a wrong
// length shows in the static_asserts instead of overflowing.
struct Encoding {
    std::array<unsigned char, 64> bytes{};
    std::size_t size = 0;
    constexpr void put(unsigned char byte) { bytes[size++] = byte; }
    constexpr void put(const unsigned char *data, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i)
            put(data[i]);
    }
};

// Message { version 0, community, PDU { id 0, status 0, index 0,
// bindings { { 1.3.6.1.4.1.E.<suffix>, value } } } }, lengths derived from the parts.
constexpr Encoding encode_request(unsigned char pdu_tag, const unsigned char *oid_suffix, std::size_t suffix_length,
                                  const unsigned char *value, std::size_t value_length)
{
    constexpr unsigned char kZeroInteger[] = {0x02, 0x01, 0x00};
    const std::size_t oid_length = sizeof kInternetPrivateEnterprises + 3 + suffix_length;
    const std::size_t binding_length = 2 + oid_length + value_length;
    const std::size_t bindings_length = 2 + binding_length;
    const std::size_t pdu_length = 3 * sizeof kZeroInteger + 2 + bindings_length;
    const std::size_t message_length = sizeof kZeroInteger + 2 + sizeof kCommunity + 2 + pdu_length;

    Encoding e;
    e.put(0x30), e.put(static_cast<unsigned char>(message_length));
    e.put(kZeroInteger, sizeof kZeroInteger);
    e.put(0x04), e.put(sizeof kCommunity), e.put(kCommunity, sizeof kCommunity);
    e.put(pdu_tag), e.put(static_cast<unsigned char>(pdu_length));
    for (int field = 0; field < 3; ++field)
        e.put(kZeroInteger, sizeof kZeroInteger);
    e.put(0x30), e.put(static_cast<unsigned char>(bindings_length));
    e.put(0x30), e.put(static_cast<unsigned char>(binding_length));
    e.put(0x06), e.put(static_cast<unsigned char>(oid_length));
    e.put(kInternetPrivateEnterprises, sizeof kInternetPrivateEnterprises);
    e.put(static_cast<unsigned char>(0x80 | ((kEnterpriseNumber >> 14) & 0x7F)));
    e.put(static_cast<unsigned char>(0x80 | ((kEnterpriseNumber >> 7) & 0x7F)));
    e.put(static_cast<unsigned char>(kEnterpriseNumber & 0x7F));
    e.put(oid_suffix, suffix_length);
    e.put(value, value_length);
    return e;
}

constexpr SnmpRequest to_request(const Encoding &encoding)
{
    SnmpRequest request{};
    for (std::size_t i = 0; i < request.size(); ++i)
        request[i] = encoding.bytes[i];
    return request;
}

constexpr unsigned char kGetRequestTag = 0xA0;
constexpr unsigned char kSetRequestTag = 0xA3;

// Keep-alive: set 1.3.6.1.4.1.E.1.1.4.13 to INTEGER 1.
constexpr unsigned char kKeepAliveSuffix[] = {0x01, 0x01, 0x04, 0x0D};
constexpr unsigned char kIntegerOne[] = {0x02, 0x01, 0x01};
constexpr Encoding kKeepAliveEncoding =
    encode_request(kSetRequestTag, kKeepAliveSuffix, sizeof kKeepAliveSuffix, kIntegerOne, sizeof kIntegerOne);

// Job status: get 1.3.6.1.4.1.E.1.1.3.16.2.
constexpr unsigned char kStatusSuffix[] = {0x01, 0x01, 0x03, 0x10, 0x02};
constexpr unsigned char kNull[] = {0x05, 0x00};
constexpr Encoding kStatusQueryEncoding =
    encode_request(kGetRequestTag, kStatusSuffix, sizeof kStatusSuffix, kNull, sizeof kNull);

static_assert(fits_three_byte_subidentifier(kEnterpriseNumber), "E must encode in exactly three bytes");
static_assert(kKeepAliveEncoding.size == kSnmpRequestSize && kStatusQueryEncoding.size == kSnmpRequestSize,
              "both requests are 45 bytes on the wire");
static_assert(kKeepAliveEncoding.bytes[1] == 0x2B && kKeepAliveEncoding.bytes[14] == 0x1E
                  && kKeepAliveEncoding.bytes[25] == 0x13 && kKeepAliveEncoding.bytes[27] == 0x11
                  && kKeepAliveEncoding.bytes[29] == 0x0C,
              "keep-alive length fields");
static_assert(kStatusQueryEncoding.bytes[1] == 0x2B && kStatusQueryEncoding.bytes[14] == 0x1E
                  && kStatusQueryEncoding.bytes[25] == 0x13 && kStatusQueryEncoding.bytes[27] == 0x11
                  && kStatusQueryEncoding.bytes[29] == 0x0D,
              "status query length fields");

} // namespace snmp

constexpr SnmpRequest kKeepAliveRequest = snmp::to_request(snmp::kKeepAliveEncoding);
constexpr SnmpRequest kStatusQueryRequest = snmp::to_request(snmp::kStatusQueryEncoding);

// The printer's status record is the last 60 bytes of its reply: byte 0 the
// job status, from byte 4 the zero-terminated owner of the job it concerns.
constexpr std::size_t kStatusRecordSize = 60;
constexpr std::size_t kStatusOwnerOffset = 4;

// Both codes mean the job was cancelled at the printer's panel.
constexpr bool is_cancelled_status(unsigned char code)
{
    return code == 0x06 || code == 0x86;
}

// True when a reply of `received` bytes says that the job of `jobower` was
// cancelled. Replies too short to hold a status record (or none: received <= 0)
// are no cancel; nothing outside the received bytes is read. An empty
// `jobower` matches every owner.
bool status_reply_shows_cancel(const unsigned char *reply, int received, const char *jobower);

// The owner text of a reply's status record, up to its terminator or the end
// of the reply; empty when the reply holds no record.
std::string_view status_reply_owner(const unsigned char *reply, int received);

} // namespace varkon
