// SPDX-License-Identifier: GPL-2.0-or-later
// The printer's host from its device URI, through the CUPS resolver bound at
// run time (it is private to libcups and may be missing), and host names to
// address texts.
#include "liaison.h"
#include "printer_address.h"
#include "printer_text.h"

#include <arpa/inet.h>
#include <cups/http.h>
#include <dlfcn.h>
#include <netdb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// const char *_httpResolveURI(uri, resolved, size, options, callback, context)
using ResolveUriFn = const char *(*)(const char *, char *, size_t, int, int (*)(void *), void *);

// Every resolver option: log to stderr, fully qualified names, fax-out URIs.
constexpr int kResolveOptions = 15;

struct LibraryCloser {
    void operator()(void *library) const { dlclose(library); }
};
using Library = std::unique_ptr<void, LibraryCloser>;

constexpr varkon::CupsLibraryFile kPlainLibraries[] = {
    {"libcups.so", "can't open libcups file!\n"},
};
constexpr varkon::CupsLibraryFile kDnssdLibraries[] = {
    {"libcups.so", "libcups.so open fail.\n"},
    {"libcups.so.2", "libcups.so.2 open fail.\n"},
};

Library load_first(const varkon::CupsLibraryFile *files, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (void *library = dlopen(files[i].file, RTLD_LAZY))
            return Library(library);
        fputs(files[i].load_failure, stderr);
    }
    return nullptr;
}

// Appends without ever running past the caller's field.
void append_host(char *host, const char *found)
{
    const std::size_t used = strnlen(host, varkon::kHostField - 1);
    const std::size_t room = varkon::kHostField - 1 - used;
    const std::size_t length = strnlen(found, room);
    std::memcpy(host + used, found, length);
    host[used + length] = '\0';
}

} // namespace

bool varkon::host_from_uri_with(const char *uri, char *host, int *port, const CupsLibraryFile *files,
                                std::size_t file_count, bool report_port)
{
    Library library = load_first(files, file_count);
    if (!library)
        return false;
    auto resolve = reinterpret_cast<ResolveUriFn>(dlsym(library.get(), "_httpResolveURI"));
    if (!resolve) {
        fputs("_httpResolveURI addr get fail.\n", stderr);
        return false;
    }
    if (!host || !port)
        return false;

    char resolved[kHostField] = {};
    if (!uri || !resolve(uri, resolved, sizeof resolved, kResolveOptions, nullptr, nullptr)) {
        fputs("_httpResolveURI fail.\n", stderr);
        return false;
    }
    fprintf(stderr, "<dnssd> resolvedURI : %s\n", loggable_printer_text(resolved, kHostField).c_str());

    char scheme[kHostField] = {}, user[kHostField] = {}, name[kHostField] = {}, resource[kHostField] = {};
    const int status = httpSeparateURI(HTTP_URI_CODING_ALL, resolved, scheme, sizeof scheme, user, sizeof user, name,
                                       sizeof name, port, resource, sizeof resource);
    if (status < 0) {
        fprintf(stderr, "<dnssd> httpSeparateURI fail. cupsret=%d\n", status);
        return false;
    }
    const std::string shown = loggable_printer_text(name, kHostField);
    if (report_port)
        fprintf(stderr, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s, port=%d\n", status, shown.c_str(),
                *port);
    else
        fprintf(stderr, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s\n", status, shown.c_str());
    append_host(host, name);
    return true;
}

bool getPrinterHostNameFromUri(const char *uri, char *host, int *port)
{
    return varkon::host_from_uri_with(uri, host, port, kPlainLibraries, std::size(kPlainLibraries), false);
}

bool getPrinterHostNameFromDNSSDUri(const char *uri, char *host, int *port)
{
    return varkon::host_from_uri_with(uri, host, port, kDnssdLibraries, std::size(kDnssdLibraries), true);
}

namespace {

// gethostbyname_r rather than gethostbyname: both liaison threads may look up
// names, and the plain call returns a static entry shared by all threads.
// The entry points into `scratch`, which grows until the entry fits.
hostent *lookup_host(const char *name, hostent *entry, std::vector<char> &scratch)
{
    hostent *found = nullptr;
    int lookup_error = 0;
    int result;
    while ((result = gethostbyname_r(name, entry, scratch.data(), scratch.size(), &found, &lookup_error)) == ERANGE
           && scratch.size() < 65536)
        scratch.resize(scratch.size() * 2);
    return result == 0 ? found : nullptr;
}

} // namespace

int GetIpByHostname(const char *name, char *addr)
{
    if (!addr)
        return 1;
    hostent entry{};
    std::vector<char> scratch(1024);
    const hostent *found = name ? lookup_host(name, &entry, scratch) : nullptr;
    if (!found || !found->h_addr_list || !found->h_addr_list[0]) {
        fprintf(stderr, " gethostbyname error for host:%s\n", varkon::loggable_printer_text(name).c_str());
        return 1;
    }
    if (found->h_addrtype != AF_INET && found->h_addrtype != AF_INET6) {
        fputs("unknown address type\n", stderr);
        return 0;
    }
    inet_ntop(found->h_addrtype, found->h_addr_list[0], addr, 256);
    return 0;
}
