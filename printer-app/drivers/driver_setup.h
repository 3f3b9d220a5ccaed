// SPDX-License-Identifier: GPL-2.0-or-later
// The driver callback: a model's capabilities as PAPPL driver data (media with
// their margins, resolutions, duplex, sources, 8-bit gray raster, the raster
// callbacks, the toner as a supply), its printer options as vendor attributes
// and the IPP Everywhere attributes PAPPL leaves to drivers; and the auto-add
// callback that picks a driver by device ID.
#pragma once

#include <pappl/pappl.h>

namespace varkon::app {

bool setup_driver(pappl_system_t *system, const char *driver_name, const char *device_uri, const char *device_id,
                  pappl_pr_driver_data_t *data, ipp_t **attrs, void *context);

const char *autoadd_driver(const char *device_info, const char *device_uri, const char *device_id, void *context);

} // namespace varkon::app
