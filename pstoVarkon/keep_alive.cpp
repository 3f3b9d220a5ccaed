// SPDX-License-Identifier: GPL-2.0-or-later
// Keep-alive thread of Halvex jobs: an SNMP set request to a network printer
// every five seconds, or the printer's USB device held open, until the job ends.
#include "job_state.h"
#include "liaison.h"
#include "liaison_threads.h"
#include "printer_address.h"
#include "printer_text.h"
#include "snmp_datagrams.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

pthread_t dummy_thread = 0;
std::atomic<unsigned char> g_bdummyEnd{0};

namespace {

using namespace std::chrono_literals;

constexpr auto kJoinGrace = 500ms;
constexpr int kSendAttempts = 3;
constexpr std::size_t kKeepAliveReplySize = 512;

// What Creatpthread hands its thread. There is one keep-alive thread per
// process, as there is one dummy_thread; the thread copies the record first.
struct KeepAliveJob {
    const char *uri = nullptr;
    varkon::KeepAliveTimings timings;
};
KeepAliveJob g_keep_alive_job;

bool job_over()
{
    return g_bdummyEnd != 0 || job_canceled != 0;
}

// A cancelled job ends the keep-alives the same way the end of the job does.
void note_cancel()
{
    if (job_canceled)
        g_bdummyEnd = 1;
}

// Waits for any reply up to `wait`, in pause slices, so that the end of the
// job never waits for a printer that does not answer.
void await_reply(int sock, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline && !job_over()) {
        pollfd pfd{sock, POLLIN, 0};
        int ready;
        {
            varkon::CancellationWindow window;
            ready = poll(&pfd, 1, static_cast<int>(varkon::kPauseSlice.count()));
        }
        if (ready > 0) {
            unsigned char reply[kKeepAliveReplySize];
            recvfrom(sock, reply, sizeof reply, MSG_DONTWAIT, nullptr, nullptr);
            return;
        }
    }
}

struct AddrinfoFree {
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};

struct DeviceListFree {
    void operator()(libusb_device **list) const { libusb_free_device_list(list, 1); }
};

// Nothing is sent over USB: the printer's device is only held open until the
// job ends.
void hold_usb_printer(const char *uri, const varkon::KeepAliveTimings &timings)
{
    varkon::UsbPrinter printer(FindUsbDeviceHandle(uri));
    if (!printer) {
        fputs("dummy_send::handle is null\n", stderr);
        return;
    }
    while (!g_bdummyEnd) {
        varkon::pause_thread(timings.usb_cycle, job_over);
        note_cancel();
    }
}

// An empty host sends nothing but still pauses, so that the loop does not spin.
void keep_network_printer_awake(const char *host, const varkon::KeepAliveTimings &timings)
{
    while (!g_bdummyEnd) {
        if (*host)
            SenddummyCmdToNet(host, timings);
        varkon::pause_thread(timings.network_cycle, job_over);
        note_cancel();
    }
}

// The serial number of an opened device, read into `serial`; false when it
// has none or it cannot be read.
bool read_serial_number(libusb_device_handle *handle, const libusb_device_descriptor &descriptor,
                        unsigned char (&serial)[128])
{
    if (descriptor.iSerialNumber == 0)
        return false;
    return libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial, sizeof serial) >= 0;
}

void keep_printer_awake(const char *uri, const varkon::KeepAliveTimings &timings)
{
    if (!uri)
        return;
    if (strstr(uri, "usb")) {
        hold_usb_printer(uri, timings);
        return;
    }
    char host[varkon::kHostField] = {};
    int port = 0;
    if (!getPrinterHostNameFromUri(uri, host, &port)) {
        fputs("fail to get host name\n", stderr);
        return;
    }
    keep_network_printer_awake(host, timings);
}

void *keep_alive_thread(void *arg)
{
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    const KeepAliveJob job = *static_cast<const KeepAliveJob *>(arg);
    keep_printer_awake(job.uri, job.timings);
    return nullptr;
}

} // namespace

// The URI comes from DEVICE_URI, or else from argument 0, which CUPS sets to
// the device URI when the program runs in a backend's place.
void Creatpthread(char **argv, const varkon::KeepAliveTimings &timings)
{
    const char *uri = getenv("DEVICE_URI");
    if (!uri) {
        const char *first = argv ? argv[0] : nullptr;
        if (!first || !*first || !strchr(first, ':')) {
            fputs("argv error\n", stderr);
            return;
        }
        uri = first;
    }
    g_keep_alive_job = KeepAliveJob{uri, timings};
    const int err = pthread_create(&dummy_thread, nullptr, keep_alive_thread, &g_keep_alive_job);
    if (err != 0) {
        dummy_thread = 0;
        fprintf(stderr, "Trevant::CreateDammyThread Failed, err = %d\n", err);
    }
}

// The thread watches g_bdummyEnd in every pause, so the join returns within a
// pause slice or one reply wait. A failed join falls back to a deferred cancel
// (see liaison_threads.h), which also lands in the thread's next wait.
void Waitpthread()
{
    g_bdummyEnd = 1;
    fprintf(stderr, "End::g_bDammyEnd = %d\n", g_bdummyEnd.load());
    if (dummy_thread == 0)
        return;
    const int joined = pthread_join(dummy_thread, nullptr);
    if (joined != 0) {
        varkon::pause_thread(kJoinGrace);
        pthread_cancel(dummy_thread);
        fprintf(stderr, "Trevant::pthread_dammy_join error value is %d \n", joined);
    }
    dummy_thread = 0;
}

void *dummy_send_tread(void *arg)
{
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    keep_printer_awake(static_cast<const char *>(arg), varkon::kKeepAliveTimings);
    return nullptr;
}

// The printer is known by its serial number alone: it must occur in the URI.
// The caller owns a returned handle and the libusb context entered here.
libusb_device_handle *FindUsbDeviceHandle(const char *uri)
{
    if (!uri)
        return nullptr;
    const int initialised = libusb_init(nullptr);
    if (initialised < 0) {
        fprintf(stderr, "Trevant::SenddummyCmdToUsb: Unable to initialize USB acc via libusb,libusb error %d\n",
                initialised);
        return nullptr;
    }
    libusb_device **raw_list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &raw_list);
    std::unique_ptr<libusb_device *, DeviceListFree> list(raw_list);
    if (count <= 0 || !list) {
        fputs("Trevant::SenddummyCmdToUsb: get device list failed\n", stderr);
        list.reset();
        libusb_exit(nullptr);
        return nullptr;
    }
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        const int read = libusb_get_device_descriptor(list.get()[i], &descriptor);
        if (read < 0) {
            fprintf(stderr, "Trevant::SenddummyCmdToUsb: libusb_get_device_descriptor=%d\n", read);
            continue;
        }
        libusb_device_handle *handle = nullptr;
        if (libusb_open(list.get()[i], &handle) != 0)
            continue;
        unsigned char serial[128] = {};
        if (read_serial_number(handle, descriptor, serial) && strstr(uri, reinterpret_cast<char *>(serial))) {
            fputs("libusb find device handle\n", stderr);
            fprintf(stderr, "DEBUG: USB printer serial number \"%s\"\n",
                    varkon::loggable_printer_text(reinterpret_cast<char *>(serial), sizeof serial).c_str());
            return handle; // holds its own reference to the device
        }
        libusb_close(handle);
    }
    list.reset();
    libusb_exit(nullptr);
    return nullptr;
}

// One keep-alive: up to three sends; the first that goes out waits up to the
// reply wait (two seconds in a job) for any reply, whose content does not
// matter, or until the job ends.
void SenddummyCmdToNet(const char *host, const varkon::KeepAliveTimings &timings)
{
    if (!host) {
        fputs("hostname == NULL.\n", stderr);
        return;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *raw_found = nullptr;
    const int resolved = getaddrinfo(host, "161", &hints, &raw_found);
    if (resolved != 0) {
        fprintf(stderr, "getaddrinfo fail return %d.\n", resolved);
        return;
    }
    const std::unique_ptr<addrinfo, AddrinfoFree> found(raw_found);
    const varkon::UniqueFd sock(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
    if (!sock.valid()) {
        fputs("create socket fail\n", stderr);
        return;
    }
    const int on = 1;
    setsockopt(sock.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const timeval wait = varkon::as_timeval(timings.reply_wait);
    if (setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) < 0) {
        fputs("setsockopt fail\n", stderr);
        return;
    }
    const std::string shown = varkon::loggable_printer_text(host);
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        const auto &request = varkon::kKeepAliveRequest;
        if (sendto(sock.get(), request.data(), request.size(), 0, found->ai_addr, found->ai_addrlen) > 0) {
            await_reply(sock.get(), timings.reply_wait);
            return;
        }
        fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", shown.c_str());
    }
}
