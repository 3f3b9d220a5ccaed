// SPDX-License-Identifier: GPL-2.0-or-later
// Printer liaison: the printer's address from the device URI, the keep-alive
// thread of Halvex jobs and the cancel watcher of Jurvex jobs.
#pragma once

#include <libusb.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
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

namespace varkon {

// The keep-alive thread's pauses and waits. The filter always runs with
// kKeepAliveTimings; tests pass shorter ones so as not to wait them out.
struct KeepAliveTimings {
    std::chrono::milliseconds network_cycle{5000}; // from one keep-alive to the next
    std::chrono::milliseconds usb_cycle{700};      // how often a held USB printer looks at the job's end
    std::chrono::milliseconds reply_wait{2000};    // for the printer's answer to a keep-alive
};
inline constexpr KeepAliveTimings kKeepAliveTimings{};

} // namespace varkon

// Starts the keep-alive thread for the job's device URI.
void Creatpthread(char **argv, const varkon::KeepAliveTimings &timings = varkon::kKeepAliveTimings);
void Waitpthread();
// The thread, for a device URI, with kKeepAliveTimings.
void *dummy_send_tread(void *uri);
libusb_device_handle *FindUsbDeviceHandle(const char *uri);
void SenddummyCmdToNet(const char *host, const varkon::KeepAliveTimings &timings = varkon::kKeepAliveTimings);

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

namespace varkon {

// The cancel watcher's pauses and waits. The filter always runs with
// kCancelWatchTimings; tests pass shorter ones so as not to wait them out.
struct CancelWatchTimings {
    std::chrono::milliseconds poll_pause{500}; // a USB query every 2 pauses, a network query every 5
    std::chrono::milliseconds reply_wait{2000}; // for each of the two reads of a status reply
};
inline constexpr CancelWatchTimings kCancelWatchTimings{};

// The watcher's work on the calling thread, which it runs with cancellation
// disabled but in its waits (see liaison_threads.h). Ends once the printer
// reports the job cancelled, or when the URI leaves no printer to ask.
void watch_for_cancel(const CANCEL_QUERY_ARG &query, const CancelWatchTimings &timings);

} // namespace varkon

// The watcher thread, for a CANCEL_QUERY_ARG, with kCancelWatchTimings.
void *Printer_cancle_query_tread(void *arg);
bool QueryStatusToUsb(libusb_device_handle *handle, unsigned char *buffer, uint16_t length, int *receivedLength);
bool QueryStatusToNet(const char *host, unsigned char *buffer, int *receivedLength,
                      std::chrono::milliseconds reply_wait = varkon::kCancelWatchTimings.reply_wait);
