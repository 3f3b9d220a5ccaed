// SPDX-License-Identifier: GPL-2.0-or-later
// Printer liaison: the printer's address from the device URI, the keep-alive
// thread of Halvex jobs and the cancel watcher of Jurvex jobs.
#pragma once

#include <libusb.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>

// --- Address resolution and URI text ---

// Host of a device URI through the CUPS resolver, appended to `host` (1024 bytes).
bool getPrinterHostNameFromUri(const char *uri, char *host, int *port);
// The same, also trying "libcups.so.2" when "libcups.so" cannot be loaded.
bool getPrinterHostNameFromDNSSDUri(const char *uri, char *host, int *port);
// Address text of a host name into `addr` (256 bytes): 0 found, 1 not found.
int GetIpByHostname(const char *name, char *addr);

int hex2dec(char c);
char dec2hex(short value);
void urlencode(char *text);
void urldecode(char *text);

// --- Keep-alive thread ---

extern pthread_t dummy_thread;
extern std::atomic<unsigned char> g_bdummyEnd;
static_assert(std::atomic<unsigned char>::is_always_lock_free, "g_bdummyEnd is polled without a lock");

void Creatpthread(char **argv);
void Waitpthread();
void *dummy_send_tread(void *uri);
libusb_device_handle *FindUsbDeviceHandle(const char *uri);
void SenddummyCmdToNet(const char *host);

// --- Cancel watcher thread ---

struct CANCEL_QUERY_ARG {
    char uri[512];     // the queue's device URI
    int32_t jobid;     // carried, not consulted
    char jobower[512]; // the local host name the job's PJL header announces
};

// Lives for the whole process: the watcher is never joined.
extern CANCEL_QUERY_ARG cancel_query_arg;
extern pthread_t status_thread;
extern int32_t err_thread;

void *Printer_cancle_query_tread(void *arg);
bool QueryStatusToUsb(libusb_device_handle *handle, unsigned char *buffer, uint16_t length, int *receivedLength);
bool QueryStatusToNet(const char *host, unsigned char *buffer, int *receivedLength);
