// SPDX-License-Identifier: GPL-2.0-or-later
// The drivers of every model, and the driver a device ID asks for.
#include "driver_list.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace varkon::app {

namespace {

// "Oskel 302mdw" -> "varkon_oskel_302mdw"
std::string driver_name(const VarkonModel &model)
{
    std::string name = "varkon_";
    for (const char *c = model.designation; *c != '\0'; ++c)
        name += (*c == ' ') ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return name;
}

std::vector<AppDriver> make_drivers()
{
    std::vector<AppDriver> drivers;
    for (const VarkonModel &model : kVarkonModels) {
        AppDriver driver;
        // The tables' static checks and the PPD generator make sure every model has one.
        if (!model_capabilities(model, &driver.caps))
            continue;
        driver.name = driver_name(model);
        driver.deviceId = model_device_id(model, driver.caps.platform);
        driver.media = media_sizes(driver.caps.paper->rows);
        driver.vendor = vendor_options(driver.caps);
        drivers.push_back(std::move(driver));
    }
    return drivers;
}

// A device ID value by its long or short key.
const char *id_value(int count, cups_option_t *pairs, const char *longKey, const char *shortKey)
{
    const char *value = cupsGetOption(longKey, count, pairs);
    return value != nullptr ? value : cupsGetOption(shortKey, count, pairs);
}

} // namespace

const std::vector<AppDriver> &app_drivers()
{
    static const std::vector<AppDriver> drivers = make_drivers();
    return drivers;
}

const AppDriver *find_driver(const char *name)
{
    if (name == nullptr)
        return nullptr;
    for (const AppDriver &driver : app_drivers())
        if (driver.name == name)
            return &driver;
    return nullptr;
}

std::vector<pappl_pr_driver_t> pappl_driver_list()
{
    std::vector<pappl_pr_driver_t> list;
    for (const AppDriver &driver : app_drivers())
        list.push_back({driver.name.c_str(), driver.caps.model->modelName, driver.deviceId.c_str(), nullptr});
    return list;
}

const MediaSize *find_media(const AppDriver &driver, const char *pwgName)
{
    for (const MediaSize &size : driver.media)
        if (size.pwgName == pwgName)
            return &size;
    return nullptr;
}

const char *driver_for_device_id(const char *deviceId)
{
    if (deviceId == nullptr || *deviceId == '\0')
        return nullptr;
    cups_option_t *pairs = nullptr;
    const int count = papplDeviceParseID(deviceId, &pairs);
    const char *maker = id_value(count, pairs, "MANUFACTURER", "MFG");
    const char *model = id_value(count, pairs, "MODEL", "MDL");
    const char *found = nullptr;
    if (maker != nullptr && model != nullptr && strcasecmp(maker, "Varkon") == 0)
        for (const AppDriver &driver : app_drivers())
            if (std::strcmp(driver.caps.model->designation, model) == 0)
                found = driver.name.c_str();
    cupsFreeOptions(count, pairs);
    return found;
}

} // namespace varkon::app
