// SPDX-License-Identifier: GPL-2.0-or-later
// The web interface of a running server: its pages answer with the footer
// (PAPPL 1.3.1 crashes on every page without one), the printing defaults show
// the printer options by their names, and the add-printer page of a server
// started without avahi-daemon explains itself instead of aborting the server
// (and the devices sub-command lists devices instead of aborting);
// and who reaches which page: only this machine by default, and with the
// server open to the network, other hosts get no settings page without a login.
#include "printer_app_server.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace {

using namespace varkon::test;

struct Page {
    http_status_t status = HTTP_STATUS_ERROR;
    std::string body;
};

// A page as a client at `host` (an address of this machine) gets it; status
// HTTP_STATUS_ERROR when the connection is refused.
Page get(int port, const std::string &path, const std::string &host = "127.0.0.1")
{
    Page page;
    http_t *http = httpConnect2(host.c_str(), port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http == nullptr)
        return page;
    httpClearFields(http);
    if (httpGet(http, path.c_str()) == 0) {
        while ((page.status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        char buffer[4096];
        ssize_t got;
        while ((got = httpRead2(http, buffer, sizeof buffer)) > 0)
            page.body.append(buffer, static_cast<size_t>(got));
    }
    httpClose(http);
    return page;
}

TEST(PrinterAppWeb, PagesAnswerWithFooterAndOptionNames)
{
    PrinterAppServer server;
    server.start();
    server.add_printer("z", "varkon_oskel_301", "file:///dev/null");
    for (const char *path : {"/", "/z", "/z/printing", "/z/media"}) {
        const Page page = get(server.port(), path);
        EXPECT_EQ(page.status, HTTP_STATUS_OK) << path;
        EXPECT_NE(page.body.find("Varkon Printer Application for the host-based Varkon printers."), std::string::npos)
            << path;
    }
    const Page defaults = get(server.port(), "/z/printing");
    for (const char *label : {"Print Density", "Toner Save", "Negative Print", "Fine Mode", "2-Sided Printing by Hand",
                              "Off (1-Sided)", "Feed A5 Long Edge First", "Rotate Pages by 180 Degrees"})
        EXPECT_NE(defaults.body.find(label), std::string::npos) << label;
    EXPECT_TRUE(server.running());
}

TEST(PrinterAppWeb, AddPrinterPageWithoutAvahiSaysWhy)
{
    if (access("/run/avahi-daemon/pid", F_OK) == 0)
        GTEST_SKIP() << "an avahi-daemon runs here: PAPPL serves its own add-printer page";
    PrinterAppServer server;
    server.start();
    const Page page = get(server.port(), "/addprinter");
    EXPECT_EQ(page.status, HTTP_STATUS_OK);
    EXPECT_NE(page.body.find("no avahi-daemon was running"), std::string::npos) << page.body;
    EXPECT_NE(page.body.find("varkon-printer-app add"), std::string::npos);
    EXPECT_EQ(get(server.port(), "/").status, HTTP_STATUS_OK);
    EXPECT_TRUE(server.running());
}

// PAPPL's "devices" sub-command aborts without an avahi-daemon, as its
// add-printer page does; ours lists every other kind of device.
TEST(PrinterAppWeb, DevicesCommandWithoutAvahiListsTheOtherDevices)
{
    if (access("/run/avahi-daemon/pid", F_OK) == 0)
        GTEST_SKIP() << "an avahi-daemon runs here: PAPPL lists the devices itself";
    PrinterAppServer server;
    const ProcessResult r = server.command({"devices"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("Assertion"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out == "No devices found.\n" || r.out.find("://") != std::string::npos) << r.out;
}

// An IPv4 address of this machine other than loopback: a connection to it
// comes from it, so the server sees a client on another host. Empty without one.
std::string network_address()
{
    ifaddrs *all = nullptr;
    if (getifaddrs(&all) != 0)
        return {};
    std::string found;
    for (const ifaddrs *a = all; a != nullptr && found.empty(); a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_UP) == 0 ||
            (a->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        char text[INET_ADDRSTRLEN];
        if (inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr, text, sizeof text))
            found = text;
    }
    freeifaddrs(all);
    return found;
}

// The settings pages, which PAPPL gives only to a client on this machine or
// to one that has logged in.
constexpr const char *kSettingsPages[] = {"/config", "/security", "/z/config", "/z/printing", "/z/delete"};

TEST(PrinterAppWeb, ByDefaultOnlyThisMachineReachesTheServer)
{
    const std::string address = network_address();
    if (address.empty())
        GTEST_SKIP() << "this machine has no network address besides loopback";
    PrinterAppServer server;
    server.set_server_options({});
    server.start();
    server.add_printer("z", "varkon_oskel_301", "file:///dev/null");
    EXPECT_EQ(get(server.port(), "/").status, HTTP_STATUS_OK);
    for (const char *path : kSettingsPages)
        EXPECT_EQ(get(server.port(), path).status, HTTP_STATUS_OK) << path << " from this machine";
    EXPECT_EQ(get(server.port(), "/", address).status, HTTP_STATUS_ERROR) << "reached at " << address;
}

// The status of one IPP request for printer "z" from a client at `host`.
ipp_status_t ipp_status(int port, const std::string &host, ipp_op_t operation)
{
    http_t *http = httpConnect2(host.c_str(), port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http == nullptr)
        return IPP_STATUS_ERROR_INTERNAL;
    const std::string uri = "ipp://" + host + ":" + std::to_string(port) + "/ipp/print/z";
    ipp_t *request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    if (operation == IPP_OP_SET_PRINTER_ATTRIBUTES)
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, "Room 2");
    ippDelete(cupsDoRequest(http, request, "/ipp/print/z"));
    const ipp_status_t status = cupsLastError();
    httpClose(http);
    return status;
}

TEST(PrinterAppWeb, OpenToTheNetworkWithoutPamOtherHostsPrintButDoNotAdminister)
{
    const std::string address = network_address();
    if (address.empty())
        GTEST_SKIP() << "this machine has no network address besides loopback";
    PrinterAppServer server;
    server.set_server_options({"listen-hostname=*"});
    server.start();
    server.add_printer("z", "varkon_oskel_301", "file:///dev/null");
    EXPECT_EQ(get(server.port(), "/z", address).status, HTTP_STATUS_OK);
    for (const char *path : kSettingsPages) {
        const http_status_t remote = get(server.port(), path, address).status;
        EXPECT_NE(remote, HTTP_STATUS_OK) << path << " from " << address;
        EXPECT_NE(remote, HTTP_STATUS_ERROR) << path << " from " << address;
        EXPECT_EQ(get(server.port(), path).status, HTTP_STATUS_OK) << path << " from this machine";
    }
    EXPECT_EQ(ipp_status(server.port(), address, IPP_OP_VALIDATE_JOB), IPP_STATUS_OK);
    EXPECT_EQ(ipp_status(server.port(), address, IPP_OP_SET_PRINTER_ATTRIBUTES), IPP_STATUS_ERROR_FORBIDDEN);
    EXPECT_EQ(ipp_status(server.port(), address, IPP_OP_PAUSE_PRINTER), IPP_STATUS_ERROR_FORBIDDEN);
    EXPECT_EQ(ipp_status(server.port(), "127.0.0.1", IPP_OP_SET_PRINTER_ATTRIBUTES), IPP_STATUS_OK);
    EXPECT_TRUE(server.running());
}

TEST(PrinterAppWeb, WithPamTheSettingsPagesAskForALogin)
{
    const std::string address = network_address();
    if (address.empty())
        GTEST_SKIP() << "this machine has no network address besides loopback";
    PrinterAppServer server;
    server.set_server_options({"listen-hostname=*", "auth-service=login"});
    server.start();
    server.add_printer("z", "varkon_oskel_301", "file:///dev/null");
    EXPECT_EQ(get(server.port(), "/z", address).status, HTTP_STATUS_OK);
    for (const char *path : kSettingsPages) {
        EXPECT_EQ(get(server.port(), path).status, HTTP_STATUS_UNAUTHORIZED) << path << " from this machine";
        const http_status_t remote = get(server.port(), path, address).status;
        EXPECT_NE(remote, HTTP_STATUS_OK) << path << " from " << address;
        EXPECT_NE(remote, HTTP_STATUS_ERROR) << path << " from " << address;
    }
    EXPECT_TRUE(server.running());
}

} // namespace
