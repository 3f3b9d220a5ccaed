// SPDX-License-Identifier: GPL-2.0-or-later
// The printer's host from its device URI through the run-time bound CUPS
// resolver, and host names to address texts.
#include "liaison.h"
#include "printer_address.h"

#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using varkon::test::StderrCapture;

struct Lookup {
    bool ok = false;
    std::string host;
    int port = 0;
    std::string log;
};

template <typename Fn> Lookup lookup(Fn fn, const char *uri, int port = 4242, const char *already = "")
{
    Lookup result;
    char host[varkon::kHostField] = {};
    std::snprintf(host, sizeof host, "%s", already);
    result.port = port;
    StderrCapture capture;
    result.ok = fn(uri, host, &result.port);
    result.log = capture.finish();
    result.host = host;
    return result;
}

Lookup plain(const char *uri, int port = 4242, const char *already = "")
{
    return lookup(getPrinterHostNameFromUri, uri, port, already);
}

Lookup dnssd(const char *uri, int port = 4242)
{
    return lookup(getPrinterHostNameFromDNSSDUri, uri, port);
}

TEST(HostFromUri, NetworkUrisGiveTheirHostAndPort)
{
    const auto socket = plain("socket://127.0.0.1:9100");
    EXPECT_TRUE(socket.ok);
    EXPECT_EQ(socket.host, "127.0.0.1");
    EXPECT_EQ(socket.port, 9100);
    EXPECT_EQ(socket.log, "<dnssd> resolvedURI : socket://127.0.0.1:9100\n"
                          "<dnssd> httpSeparateURI success.cupsret=3, host=127.0.0.1\n");

    const auto ipp = plain("ipp://printer.example/ipp/print");
    EXPECT_TRUE(ipp.ok);
    EXPECT_EQ(ipp.host, "printer.example");
    EXPECT_EQ(ipp.port, 631);
}

TEST(HostFromUri, TheHostIsAppendedToWhatTheBufferHolds)
{
    const auto result = plain("socket://printer.example:9100", 0, "prefix-");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.host, "prefix-printer.example");
}

TEST(HostFromUri, AFullBufferIsNotOverrun)
{
    const std::string filled(varkon::kHostField - 3, 'x');
    const auto result = plain("socket://printer.example:9100", 0, filled.c_str());
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.host, filled + "pr");
}

TEST(HostFromUri, ThePortChangesOnlyOnceTheSplitHasRun)
{
    // Resolver failure: before the split, the caller's port stays.
    const auto empty = plain("");
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.port, 4242);
    EXPECT_NE(empty.log.find("_httpResolveURI fail.\n"), std::string::npos);
    EXPECT_EQ(empty.host, "");

    // A URI without a port: the split's 0 overwrites the caller's value.
    const auto file = plain("file:/dev/null");
    EXPECT_TRUE(file.ok);
    EXPECT_EQ(file.host, "");
    EXPECT_EQ(file.port, 0);
}

TEST(HostFromUri, UsbUrisAlsoGoThroughTheResolver)
{
    const auto usb = plain("usb://Varkon/VK-L2100?serial=VKA000123");
    EXPECT_TRUE(usb.ok);
    EXPECT_EQ(usb.host, "Varkon");
}

TEST(HostFromUri, DnssdVariantReportsThePortToo)
{
    const auto result = dnssd("socket://127.0.0.1:9100");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.host, "127.0.0.1");
    EXPECT_EQ(result.log, "<dnssd> resolvedURI : socket://127.0.0.1:9100\n"
                          "<dnssd> httpSeparateURI success.cupsret=3, host=127.0.0.1, port=9100\n");
}

constexpr varkon::CupsLibraryFile kMissing{"libvarkon-no-such-library.so", "first library missing\n"};

TEST(HostFromUri, WithoutALoadableLibraryThePlainVariantFails)
{
    char host[varkon::kHostField] = {};
    int port = 4242;
    const varkon::CupsLibraryFile files[] = {{"libvarkon-no-such-library.so", "can't open libcups file!\n"}};
    StderrCapture capture;
    EXPECT_FALSE(varkon::host_from_uri_with("socket://127.0.0.1:9100", host, &port, files, 1, false));
    EXPECT_EQ(capture.finish(), "can't open libcups file!\n");
    EXPECT_EQ(port, 4242);
    EXPECT_STREQ(host, "");
}

TEST(HostFromUri, TheSecondLibraryNameStandsInForAMissingFirst)
{
    char host[varkon::kHostField] = {};
    int port = 4242;
    const varkon::CupsLibraryFile files[] = {kMissing, {"libcups.so.2", "second library missing\n"}};
    StderrCapture capture;
    EXPECT_TRUE(varkon::host_from_uri_with("socket://127.0.0.1:9100", host, &port, files, 2, true));
    const std::string log = capture.finish();
    EXPECT_EQ(log.rfind("first library missing\n", 0), 0u) << log;
    EXPECT_EQ(log.find("second library missing"), std::string::npos);
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_EQ(port, 9100);
}

TEST(HostFromUri, NeitherLibraryLoadableReportsBoth)
{
    char host[varkon::kHostField] = {};
    int port = 4242;
    const varkon::CupsLibraryFile files[] = {kMissing, {"libvarkon-also-missing.so.2", "second library missing\n"}};
    StderrCapture capture;
    EXPECT_FALSE(varkon::host_from_uri_with("socket://127.0.0.1:9100", host, &port, files, 2, true));
    EXPECT_EQ(capture.finish(), "first library missing\nsecond library missing\n");
    EXPECT_EQ(port, 4242);
}

TEST(HostFromUri, ALibraryWithoutTheResolverIsReported)
{
    char host[varkon::kHostField] = {};
    int port = 4242;
    const varkon::CupsLibraryFile files[] = {{"libc.so.6", "unused\n"}};
    StderrCapture capture;
    EXPECT_FALSE(varkon::host_from_uri_with("socket://127.0.0.1:9100", host, &port, files, 1, false));
    EXPECT_EQ(capture.finish(), "_httpResolveURI addr get fail.\n");
    EXPECT_EQ(port, 4242);
}

TEST(HostFromUri, ControlCharactersInAHostNeverStartALogLine)
{
    // The split decodes escapes, so the host holds a real line end; the caller
    // still gets the host as it is, the log only a harmless form of it.
    const auto result = plain("socket://evil%0APAGE%3A%201%201:9100");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.host, "evil\nPAGE: 1 1");
    EXPECT_NE(result.log.find("host=evil?PAGE: 1 1\n"), std::string::npos) << result.log;
    EXPECT_EQ(result.log.find("\nPAGE:"), std::string::npos) << result.log;
}

TEST(HostAddress, NamesGiveTheirFirstAddress)
{
    char address[256] = {};
    StderrCapture capture;
    EXPECT_EQ(GetIpByHostname("localhost", address), 0);
    EXPECT_STREQ(address, "127.0.0.1");
    EXPECT_EQ(GetIpByHostname("127.0.0.5", address), 0);
    EXPECT_STREQ(address, "127.0.0.5");
    EXPECT_EQ(capture.finish(), "");
}

TEST(HostAddress, UnknownNamesReturnOneAndKeepTheBuffer)
{
    char address[256] = "unchanged";
    StderrCapture capture;
    EXPECT_EQ(GetIpByHostname("no-such-printer.invalid", address), 1);
    EXPECT_EQ(capture.finish(), " gethostbyname error for host:no-such-printer.invalid\n");
    EXPECT_STREQ(address, "unchanged");
}

} // namespace
