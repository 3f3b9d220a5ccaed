// SPDX-License-Identifier: GPL-2.0-or-later
// The keep-alive and status requests on the wire, and the reading of the
// printer's status reply.
#include "snmp_datagrams.h"

#include "run_process.h"
#include "snmp_agent_standin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using varkon::test::to_hex;

std::string hex(const varkon::SnmpRequest &request)
{
    return to_hex(request.data(), request.size());
}

// The enterprise number as a BER sub-identifier: base 128, high groups flagged.
std::string enterprise_hex()
{
    const unsigned char groups[] = {static_cast<unsigned char>(0x80 | (varkon::kEnterpriseNumber >> 14)),
                                    static_cast<unsigned char>(0x80 | ((varkon::kEnterpriseNumber >> 7) & 0x7F)),
                                    static_cast<unsigned char>(varkon::kEnterpriseNumber & 0x7F)};
    return to_hex(groups, sizeof groups);
}

// The agent stand-in's verdict: pyasn1 decodes the datagram against an SNMPv1
// message definition and compares it with its own encoding of the request.
std::string judged_by_pyasn1(const std::string &datagram_hex)
{
    const auto result = varkon::test::run_process(
        {"/usr/bin/python3", varkon::test::source_file("tests/standins/snmp_agent.py"), "--enterprise",
         std::to_string(varkon::kEnterpriseNumber), "--classify", datagram_hex});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

TEST(SnmpRequests, KeepAliveIsTheSetRequestOfTheTable)
{
    EXPECT_EQ(hex(varkon::kKeepAliveRequest), "302b020100040674616c6c6f77"   // message, SNMPv1, "tallow"
                                              "a31e020100020100020100"       // SetRequest, id/status/index 0
                                              "3013301106" "0c2b06010401" +  // bindings, OID 1.3.6.1.4.1
                                                  enterprise_hex() + "0101040d" // .E.1.1.4.13
                                                  "020101");                   // INTEGER 1
}

TEST(SnmpRequests, StatusQueryIsTheGetRequestOfTheTable)
{
    EXPECT_EQ(hex(varkon::kStatusQueryRequest), "302b020100040674616c6c6f77"
                                                "a01e020100020100020100"
                                                "3013301106" "0d2b06010401" +
                                                    enterprise_hex() + "0101031002" // .E.1.1.3.16.2
                                                    "0500");                        // NULL
}

TEST(SnmpRequests, BothAreWellFormedSnmpV1AsAnIndependentEncoderMakesThem)
{
    EXPECT_EQ(judged_by_pyasn1(hex(varkon::kKeepAliveRequest)), "keepalive exact\n");
    EXPECT_EQ(judged_by_pyasn1(hex(varkon::kStatusQueryRequest)), "status exact\n");

    // The judge can tell: one OID byte off, and a request cut short.
    varkon::SnmpRequest altered = varkon::kStatusQueryRequest;
    altered[40] ^= 0x01;
    EXPECT_EQ(judged_by_pyasn1(hex(altered)), "status mismatch\n");
    EXPECT_EQ(judged_by_pyasn1(hex(varkon::kKeepAliveRequest).substr(0, 80)), "unknown undecodable\n");
}

// A reply of `prefix` bytes of other SNMP content followed by a status record,
// in a heap block of exactly its size.
std::vector<unsigned char> reply(unsigned char status, const std::string &owner, std::size_t prefix = 45)
{
    std::vector<unsigned char> bytes(prefix + varkon::kStatusRecordSize, 0x30);
    unsigned char *record = bytes.data() + prefix;
    std::fill(record, record + varkon::kStatusRecordSize, 0);
    record[0] = status;
    std::copy(owner.begin(), owner.end(), record + varkon::kStatusOwnerOffset);
    return bytes;
}

bool shows_cancel(const std::vector<unsigned char> &bytes, const char *jobower)
{
    return varkon::status_reply_shows_cancel(bytes.data(), static_cast<int>(bytes.size()), jobower);
}

TEST(StatusReply, CancelledStatusWithThisHostsOwnerIsACancel)
{
    EXPECT_TRUE(shows_cancel(reply(0x86, "printhost"), "printhost"));
    EXPECT_TRUE(shows_cancel(reply(0x06, "printhost"), "printhost"));
    EXPECT_TRUE(shows_cancel(reply(0x86, "printhost", 0), "printhost")); // a bare 60-byte record
    EXPECT_TRUE(shows_cancel(reply(0x86, "user@printhost.lan"), "printhost")); // owner text contains it
}

TEST(StatusReply, AnotherOwnerOrAnotherStatusIsNoCancel)
{
    EXPECT_FALSE(shows_cancel(reply(0x86, "otherhost"), "printhost"));
    EXPECT_FALSE(shows_cancel(reply(0x07, "printhost"), "printhost"));
    EXPECT_FALSE(shows_cancel(reply(0x00, "printhost"), "printhost"));
    EXPECT_FALSE(shows_cancel(reply(0x87, "printhost"), "printhost"));
    // The owner is read from the last 60 bytes only, not from earlier bytes.
    auto earlier = reply(0x86, "otherhost", 100);
    std::copy_n("printhost", 9, earlier.begin() + 10);
    EXPECT_FALSE(shows_cancel(earlier, "printhost"));
}

TEST(StatusReply, AnEmptyJobOwnerMatchesEveryReply)
{
    EXPECT_TRUE(shows_cancel(reply(0x86, "anyone"), ""));
    EXPECT_TRUE(shows_cancel(reply(0x06, ""), ""));
    EXPECT_FALSE(shows_cancel(reply(0x07, "anyone"), ""));
}

TEST(StatusReply, RepliesTooShortForARecordAreNoCancelAndAreNotReadBeyondTheirEnd)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{45}, std::size_t{59}}) {
        std::vector<unsigned char> bytes(size, 0x86);
        EXPECT_FALSE(varkon::status_reply_shows_cancel(bytes.data(), static_cast<int>(size), "")) << size;
    }
    const auto full = reply(0x86, "printhost");
    EXPECT_FALSE(varkon::status_reply_shows_cancel(full.data(), 0, ""));
    EXPECT_FALSE(varkon::status_reply_shows_cancel(full.data(), -1, "")); // a failed receive
    EXPECT_FALSE(varkon::status_reply_shows_cancel(nullptr, 60, ""));
}

TEST(StatusReply, AnOwnerTextWithoutTerminatorEndsAtTheEndOfTheReply)
{
    const std::string owner(56, 'h'); // fills the record to its last byte
    auto bytes = reply(0x86, owner);
    EXPECT_TRUE(shows_cancel(bytes, "hhhh"));
    EXPECT_FALSE(shows_cancel(bytes, std::string(57, 'h').c_str()));
    EXPECT_EQ(varkon::status_reply_owner(bytes.data(), static_cast<int>(bytes.size())), owner);
}

} // namespace
