// Keep-alive thread of Halvex jobs (first landing: interface only).
#include "liaison.h"

pthread_t dummy_thread = 0;
std::atomic<unsigned char> g_bdummyEnd{0};

void Creatpthread(char ** /*argv*/) {}

void Waitpthread()
{
    g_bdummyEnd = 1;
}

void *dummy_send_tread(void * /*uri*/)
{
    return nullptr;
}

libusb_device_handle *FindUsbDeviceHandle(const char * /*uri*/)
{
    return nullptr;
}

void SenddummyCmdToNet(const char * /*host*/) {}
