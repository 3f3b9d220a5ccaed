// The printer's host from its device URI (first landing: interface only).
#include "liaison.h"

bool getPrinterHostNameFromUri(const char * /*uri*/, char * /*host*/, int * /*port*/)
{
    return false;
}

bool getPrinterHostNameFromDNSSDUri(const char * /*uri*/, char * /*host*/, int * /*port*/)
{
    return false;
}

int GetIpByHostname(const char * /*name*/, char * /*addr*/)
{
    return 1;
}
