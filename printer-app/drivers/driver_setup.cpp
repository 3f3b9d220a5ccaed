// SPDX-License-Identifier: GPL-2.0-or-later
// PAPPL driver data from a model's driver.
#include "driver_setup.h"

#include "driver_list.h"
#include "print_job.h"
#include "strings_languages.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace varkon::app {

namespace {

// The media sources, in the order of the PPDs' InputSlot choices.
constexpr const char *kSources[] = {"auto", "manual", "tray-1"};

// A printer-ready file goes to the device as it is.
bool print_raw_file(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device)
{
    const int fd = open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        papplJobSetMessage(job, "The document cannot be read.");
        return false;
    }
    char buffer[65536];
    ssize_t got;
    bool ok = true;
    while (ok && (got = read(fd, buffer, sizeof buffer)) > 0)
        ok = papplDeviceWrite(device, buffer, static_cast<size_t>(got)) == got;
    close(fd);
    papplDeviceFlush(device);
    if (!ok)
        papplJobSetMessage(job, "The printer did not take the data.");
    return ok;
}

// The printers tell the host nothing of their toner: the cartridge is shown,
// its level unknown. PAPPL asks before it answers a Get-Printer-Attributes.
bool printer_status(pappl_printer_t *printer)
{
    if (papplPrinterGetSupplies(printer, 0, nullptr) > 0)
        return true;
    pappl_supply_t toner{};
    toner.color = PAPPL_SUPPLY_COLOR_BLACK;
    papplCopyString(toner.description, "Black Toner", sizeof toner.description);
    toner.is_consumed = true;
    toner.level = -1;
    toner.type = PAPPL_SUPPLY_TYPE_TONER;
    papplPrinterSetSupplies(printer, 1, &toner);
    return true;
}

// PAPPL 1.3 takes one pair of margins for every size: the largest of the table.
pappl_media_col_t media_col(const MediaSize &size, const char *source, const pappl_pr_driver_data_t &data)
{
    pappl_media_col_t col{};
    col.left_margin = col.right_margin = data.left_right;
    col.top_margin = col.bottom_margin = data.bottom_top;
    col.size_width = size.width;
    col.size_length = size.length;
    papplCopyString(col.size_name, size.pwgName.c_str(), sizeof col.size_name);
    papplCopyString(col.source, source, sizeof col.source);
    papplCopyString(col.type, "stationery", sizeof col.type);
    return col;
}

void set_media(const AppDriver &driver, pappl_pr_driver_data_t *data)
{
    const MediaSize *defaultSize = &driver.media.front();
    data->num_media = 0;
    data->left_right = data->bottom_top = 0;
    for (const MediaSize &size : driver.media) {
        if (data->num_media == PAPPL_MAX_MEDIA)
            break;
        data->media[data->num_media++] = size.pwgName.c_str();
        data->left_right = std::max({data->left_right, size.left, size.right});
        data->bottom_top = std::max({data->bottom_top, size.bottom, size.top});
        if (std::strcmp(size.row->strPageSize, kDefaultPageSize) == 0)
            defaultSize = &size;
    }
    data->num_source = static_cast<int>(std::size(kSources));
    for (int i = 0; i < data->num_source; ++i) {
        data->source[i] = kSources[i];
        data->media_ready[i] = media_col(*defaultSize, kSources[i], *data);
    }
    data->media_default = data->media_ready[0];
    data->num_type = 1;
    data->type[0] = "stationery";
    // PAPPL reads the default output bin of every job.
    data->num_bin = 1;
    data->bin[0] = "face-down";
    data->bin_default = 0;
}

void set_printing(const AppDriver &driver, pappl_pr_driver_data_t *data)
{
    data->printfile_cb = print_raw_file;
    data->status_cb = printer_status;
    data->rstartjob_cb = raster_start_job;
    data->rstartpage_cb = raster_start_page;
    data->rwriteline_cb = raster_write_line;
    data->rendpage_cb = raster_end_page;
    data->rendjob_cb = raster_end_job;
    data->format = "application/vnd.varkon-host-based";
    papplCopyString(data->make_and_model, driver.caps.model->modelName, sizeof data->make_and_model);
    data->ppm = 20;
    data->kind = PAPPL_KIND_DOCUMENT;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    // Our own halftoning needs the gray page, 0 = black.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = 600;
    if (driver.caps.resolution1200) {
        data->num_resolution = 2;
        data->x_resolution[1] = data->y_resolution[1] = 1200;
    }
    data->x_default = data->y_default = 600;
    // The core turns the back sides itself.
    data->duplex = driver.caps.duplexer ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    if (driver.caps.duplexer)
        data->sides_supported |= PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
}

// IPP Everywhere's printer description attributes that PAPPL 1.3.1 leaves to
// the driver, with the values that hold for every model.
void add_everywhere_attributes(ipp_t *attrs)
{
    // PAPPL's Get-Printer-Attributes takes no preferred-attributes.
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    // Gray pages halftoned by the core: no colour rendering to choose.
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
    add_strings_languages(attrs);
}

} // namespace

bool setup_driver(pappl_system_t *system, const char *driver_name, const char *, const char *,
                  pappl_pr_driver_data_t *data, ipp_t **attrs, void *)
{
    const AppDriver *driver = find_driver(driver_name);
    if (driver == nullptr || driver->media.empty()) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No Varkon driver is called \"%s\".", driver_name);
        return false;
    }
    set_printing(*driver, data);
    set_media(*driver, data);
    data->num_vendor = 0;
    for (const VendorOption &option : driver->vendor)
        if (data->num_vendor < PAPPL_MAX_VENDOR)
            data->vendor[data->num_vendor++] = option.ipp;
    if (*attrs == nullptr)
        *attrs = ippNew();
    add_vendor_attributes(driver->vendor, *attrs);
    add_everywhere_attributes(*attrs);
    return true;
}

const char *autoadd_driver(const char *, const char *, const char *device_id, void *)
{
    return driver_for_device_id(device_id);
}

} // namespace varkon::app
