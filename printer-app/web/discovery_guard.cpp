// SPDX-License-Identifier: GPL-2.0-or-later
// The add-printer page of a server without DNS-SD.
#include "discovery_guard.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <cstdio>

namespace varkon::app {

namespace {

void ignore_state(AvahiClient *, AvahiClientState, void *) {}

bool no_discovery_page(pappl_client_t *client, void *)
{
    if (!papplClientHTMLAuthorize(client))
        return true;
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0))
        return true;
    papplClientHTMLHeader(client, "Add Printer", 0);
    papplClientHTMLPuts(client,
                        "    <div class=\"content\">\n"
                        "      <div class=\"row\">\n"
                        "        <div class=\"col-12\">\n"
                        "          <h1 class=\"title\">Add Printer</h1>\n"
                        "          <p>This page finds printers through DNS-SD, and no avahi-daemon was running when "
                        "the server started. Start it (<code>systemctl start avahi-daemon</code>) and restart the "
                        "server to use this page.</p>\n"
                        "          <p>A printer can be added without it from the command line, for example:</p>\n"
                        "          <pre>varkon-printer-app add -d office -m varkon_oskel_301 -v socket://192.0.2.10</pre>\n"
                        "          <p><code>varkon-printer-app drivers</code> lists the driver names.</p>\n"
                        "        </div>\n"
                        "      </div>\n"
                        "    </div>\n");
    papplClientHTMLFooter(client);
    return true;
}

bool print_device(const char *info, const char *uri, const char *deviceId, void *found)
{
    std::printf("%s\n    %s\n", uri, info != nullptr ? info : "");
    if (deviceId != nullptr && *deviceId != '\0')
        std::printf("    %s\n", deviceId);
    *static_cast<bool *>(found) = true;
    return false;  // on to the next device
}

void print_device_error(const char *message, void *)
{
    std::fprintf(stderr, "varkon-printer-app: %s\n", message);
}

} // namespace

bool avahi_daemon_running()
{
    AvahiSimplePoll *poll = avahi_simple_poll_new();
    if (poll == nullptr)
        return false;
    int error = 0;
    AvahiClient *client = avahi_client_new(avahi_simple_poll_get(poll), static_cast<AvahiClientFlags>(0), ignore_state,
                                           nullptr, &error);
    const bool running = client != nullptr;
    if (client != nullptr)
        avahi_client_free(client);
    avahi_simple_poll_free(poll);
    return running;
}

int list_devices_without_dns_sd()
{
    bool found = false;
    papplDeviceList(PAPPL_DEVTYPE_ALL & ~PAPPL_DEVTYPE_DNS_SD, print_device, &found, print_device_error, nullptr);
    if (!found)
        std::puts("No devices found.");
    return 0;
}

void guard_device_discovery(pappl_system_t *system)
{
    if (avahi_daemon_running())
        return;
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "No avahi-daemon is running: printers are not advertised, and the add-printer page only says how to "
             "add one from the command line.");
    papplSystemAddResourceCallback(system, "/addprinter", "text/html", no_discovery_page, nullptr);
}

} // namespace varkon::app
