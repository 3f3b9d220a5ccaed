// SPDX-License-Identifier: GPL-2.0-or-later
// The web interface of a running server: its pages answer with the footer
// (PAPPL 1.3.1 crashes on every page without one), the printing defaults show
// the printer options by their names, and the add-printer page of a server
// started without avahi-daemon explains itself instead of aborting the server.
#include "printer_app_server.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

namespace {

using namespace varkon::test;

struct Page {
    http_status_t status = HTTP_STATUS_ERROR;
    std::string body;
};

Page get(int port, const std::string &path)
{
    Page page;
    http_t *http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
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

} // namespace
