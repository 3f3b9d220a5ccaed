// Cancel watcher of Jurvex jobs (first landing: interface only).
#include "liaison.h"

CANCEL_QUERY_ARG cancel_query_arg{};
pthread_t status_thread = 0;
int32_t err_thread = 0;

void *Printer_cancle_query_tread(void * /*arg*/)
{
    return nullptr;
}

bool QueryStatusToUsb(libusb_device_handle * /*handle*/, unsigned char * /*buffer*/, uint16_t /*length*/,
                      int *receivedLength)
{
    if (receivedLength)
        *receivedLength = 0;
    return false;
}

bool QueryStatusToNet(const char * /*host*/, unsigned char * /*buffer*/, int *receivedLength)
{
    if (receivedLength)
        *receivedLength = 0;
    return false;
}
