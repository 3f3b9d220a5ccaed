// SPDX-License-Identifier: GPL-2.0-or-later
// Internals of the printer address lookup that tests reach directly: which
// client-library files are tried for the run-time bound URI resolver.
#pragma once

#include <cstddef>

namespace varkon {

// Size of the caller's host field and of the lookup's working fields.
constexpr std::size_t kHostField = 1024;

// One library file to try, and the log line written when it cannot be loaded.
struct CupsLibraryFile {
    const char *file;
    const char *load_failure;
};

// Resolves `uri` with `_httpResolveURI` from the first loadable file of
// `files`, splits the result and appends its host to `host` (a kHostField
// field). `port` is overwritten only once the split has run. `report_port`
// selects the success line of the DNS-SD variant.
bool host_from_uri_with(const char *uri, char *host, int *port, const CupsLibraryFile *files, std::size_t file_count,
                        bool report_port);

} // namespace varkon
