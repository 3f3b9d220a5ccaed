// SPDX-License-Identifier: GPL-2.0-or-later
// Cancel watcher of Jurvex jobs: asks the printer for its job status (USB
// vendor request or SNMP) and raises job_canceled when the printer reports
// this host's job cancelled at its panel.
#include "job_state.h"
#include "liaison.h"
#include "liaison_threads.h"
#include "printer_address.h"
#include "printer_text.h"
#include "snmp_datagrams.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

CANCEL_QUERY_ARG cancel_query_arg{};
pthread_t status_thread = 0;
int32_t err_thread = 0;

namespace {

constexpr int kUsbPollsPerQuery = 2;     // a query every second
constexpr int kNetworkPollsPerQuery = 5; // a query every 2.5 s plus its own time
constexpr std::size_t kReplySize = 1024;
constexpr unsigned int kUsbTimeoutMs = 2000;
constexpr int kSendAttempts = 3;
constexpr int kReceiveAttempts = 2;
constexpr uint16_t kSnmpPort = 161;

// The record's texts bounded to their fields, whatever the creator left in them.
std::string field_text(const char (&field)[512])
{
    return std::string(field, strnlen(field, sizeof field));
}

void report_cancel(const unsigned char *reply, int received)
{
    const std::string owner(varkon::status_reply_owner(reply, received));
    fprintf(stderr, "DEBUG: The printer reports the job of \"%s\" cancelled.\n",
            varkon::loggable_printer_text(owner.c_str(), owner.size()).c_str());
}

void watch_usb_printer(const std::string &uri, const varkon::CancelWatchTimings &timings)
{
    varkon::UsbPrinter printer(FindUsbDeviceHandle(uri.c_str()));
    if (!printer) {
        fputs("querythread::handle is null\n", stderr);
        return;
    }
    fputs("Status_query::handle yes\n", stderr);
    unsigned char reply[kReplySize];
    for (int polls = 0;;) {
        if (++polls == kUsbPollsPerQuery) {
            polls = 0;
            memset(reply, 0, sizeof reply);
            int received = 0;
            // A failed request leaves the zeroed buffer, which shows no cancel.
            QueryStatusToUsb(printer.get(), reply, sizeof reply, &received);
            if (varkon::is_cancelled_status(reply[0])) {
                fprintf(stderr, "DEBUG: The printer reports the job cancelled (status 0x%02X).\n", reply[0]);
                job_canceled = 1;
                return;
            }
        }
        varkon::pause_thread(timings.poll_pause);
    }
}

// The host to query, or the empty text when the URI gives none. A DNS-SD URI
// whose split yields no port names a service; its host is turned into an
// address. False means give up (already reported).
bool find_network_host(const std::string &uri, char (&host)[varkon::kHostField])
{
    const bool dnssd = uri.find("dnssd://") != std::string::npos;
    int port = 9100;
    if (!getPrinterHostNameFromUri(uri.c_str(), host, &port) && dnssd)
        getPrinterHostNameFromDNSSDUri(uri.c_str(), host, &port);
    if (port == 0 && dnssd) {
        char name[varkon::kHostField] = {};
        getPrinterHostNameFromDNSSDUri(uri.c_str(), name, &port);
        if (GetIpByHostname(name, host) != 0) {
            fputs("supply host to ip failed\n", stderr);
            return false;
        }
    }
    return true;
}

void watch_network_printer(const std::string &uri, const std::string &jobower,
                           const varkon::CancelWatchTimings &timings)
{
    fputs("querythread::net\n", stderr);
    char host[varkon::kHostField] = {};
    if (!find_network_host(uri, host) || !host[0])
        return;
    fprintf(stderr, "ip:%s\n", varkon::loggable_printer_text(host).c_str());
    unsigned char reply[kReplySize];
    for (int polls = 0;;) {
        if (++polls == kNetworkPollsPerQuery) {
            polls = 0;
            memset(reply, 0, sizeof reply);
            int received = 0;
            QueryStatusToNet(host, reply, &received, timings.reply_wait);
            if (varkon::status_reply_shows_cancel(reply, received, jobower.c_str())) {
                report_cancel(reply, received);
                job_canceled = 1;
                return;
            }
        }
        varkon::pause_thread(timings.poll_pause);
    }
}

// The status query's destination: a name (it begins with a letter) is looked
// up, anything else is read as a dotted IPv4 address. False when neither works.
bool status_destination(const char *host, sockaddr_in *destination)
{
    *destination = {};
    destination->sin_family = AF_INET;
    destination->sin_port = htons(kSnmpPort);
    if (isalpha(static_cast<unsigned char>(host[0]))) {
        char address[256] = {};
        if (GetIpByHostname(host, address) != 0 || inet_pton(AF_INET, address, &destination->sin_addr) != 1)
            return false;
        return true;
    }
    return inet_aton(host, &destination->sin_addr) != 0;
}

bool receive_status(int sock, unsigned char *buffer, int *receivedLength)
{
    for (int attempt = 0; attempt < kReceiveAttempts; ++attempt) {
        ssize_t received;
        {
            varkon::CancellationWindow window;
            received = recvfrom(sock, buffer, kReplySize, 0, nullptr, nullptr);
        }
        *receivedLength = static_cast<int>(received);
        fprintf(stderr, "nRecv = %d\n", *receivedLength);
        if (received > 0)
            return true;
    }
    return false;
}

} // namespace

void *Printer_cancle_query_tread(void *arg)
{
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    fprintf(stderr, "thread arg point address:0x%x\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(arg)));
    const auto *query = static_cast<const CANCEL_QUERY_ARG *>(arg);
    if (query)
        varkon::watch_for_cancel(*query, varkon::kCancelWatchTimings);
    return nullptr;
}

void varkon::watch_for_cancel(const CANCEL_QUERY_ARG &query, const CancelWatchTimings &timings)
{
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    const std::string uri = field_text(query.uri);
    if (uri.find("usb") != std::string::npos)
        watch_usb_printer(uri, timings);
    else
        watch_network_printer(uri, field_text(query.jobower), timings);
}

bool QueryStatusToUsb(libusb_device_handle *handle, unsigned char *buffer, uint16_t length, int *receivedLength)
{
    int ignored = 0;
    if (!receivedLength)
        receivedLength = &ignored;
    if (!handle)
        return false;
    constexpr uint8_t kVendorInterfaceIn = LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_INTERFACE;
    static_assert(kVendorInterfaceIn == 0xC1);
    const int result = libusb_control_transfer(handle, kVendorInterfaceIn, 0, 0, 0, buffer, length, kUsbTimeoutMs);
    if (result > 0) {
        *receivedLength = result;
        fputs("\n", stderr);
        return true;
    }
    *receivedLength = 0;
    fprintf(stderr, "libusb_control_transfer fail (code=%d)\n", result);
    return false;
}

bool QueryStatusToNet(const char *host, unsigned char *buffer, int *receivedLength,
                      std::chrono::milliseconds reply_wait)
{
    int ignored = 0;
    if (!receivedLength)
        receivedLength = &ignored;
    fputs("->SendSNMPCmd()\n", stderr);
    if (!host || !host[0]) {
        fputs("cancelthread::QueryStatusToNet::pIPaddr is null\n", stderr);
        return false;
    }
    const std::string shown = varkon::loggable_printer_text(host);
    sockaddr_in destination;
    if (!status_destination(host, &destination)) {
        fprintf(stderr, "DEBUG: No address for the printer \"%s\".\n", shown.c_str());
        return false;
    }
    const varkon::UniqueFd sock(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!sock.valid())
        return false;
    const int on = 1;
    setsockopt(sock.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const timeval wait = varkon::as_timeval(reply_wait);
    if (setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) < 0)
        fputs("setsockopt fail", stderr);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(sock.get(), reinterpret_cast<const sockaddr *>(&any), sizeof any);

    const auto &request = varkon::kStatusQueryRequest;
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        if (sendto(sock.get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&destination),
                   sizeof destination)
            > 0) {
            fprintf(stderr, "<SNMP> socket sendto success. (dest_addr=%s)\n", shown.c_str());
            if (receive_status(sock.get(), buffer, receivedLength))
                return true;
        } else {
            fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", shown.c_str());
        }
    }
    fputs("<-SendSNMPCmd()\n", stderr);
    return false;
}
