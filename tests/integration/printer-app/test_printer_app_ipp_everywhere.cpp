// SPDX-License-Identifier: GPL-2.0-or-later
// The Printer Application's answers as an IPP Everywhere client reads them:
// repeated Get-Printer-Attributes answers carry printer-strings-languages-supported
// once, as PAPPL 1.3.1 alone would not (strings_languages.h).
#include "printer_app_server.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;

struct IppDeleter {
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// A Get-Printer-Attributes for all attributes, as a client asks first.
Ipp all_printer_attributes(const PrinterAppServer &server, const std::string &printer)
{
    http_t *http = httpConnect2("127.0.0.1", server.port(), nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http == nullptr)
        return nullptr;
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.printer_uri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
    Ipp response(cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str()));
    httpClose(http);
    return response;
}

TEST(PrinterAppIppEverywhere, RepeatedGetPrinterAttributesCarryTheStringsLanguagesOnce)
{
    PrinterAppServer server;
    server.start();
    TempDir out;
    server.add_printer("z", "varkon_oskel_301d", "file://" + out.path());
    for (int request = 1; request <= 5; ++request) {
        const Ipp response = all_printer_attributes(server, "z");
        ASSERT_TRUE(response) << cupsLastErrorString();
        std::vector<std::string> values;
        for (ipp_attribute_t *a = ippFirstAttribute(response.get()); a != nullptr;
             a = ippNextAttribute(response.get()))
            if (ippGetName(a) != nullptr && std::strcmp(ippGetName(a), "printer-strings-languages-supported") == 0)
                for (int i = 0; i < ippGetCount(a); ++i)
                    values.push_back(ippGetString(a, i, nullptr));
        EXPECT_EQ(values, std::vector<std::string>{"en"}) << "answer " << request;
    }
}

} // namespace
