// SPDX-License-Identifier: GPL-2.0-or-later
// Vendor attributes of each model, from the same capabilities the PPDs come
// from, and the options text they become.
#include "vendor_options.h"

#include "platform.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace varkon::app {

namespace {

VendorOption boolean_option(const char *ipp, const char *ppd, const char *label)
{
    return {ipp, ppd, label, VendorKind::Boolean, {}, "false"};
}

VendorOption density_option()
{
    return {"density",
            "Density",
            "Print Density",
            VendorKind::Integer,
            {{"0", "0", "Lightest"}, {"1", "1", "Light"}, {"2", "2", "Normal"}, {"3", "3", "Dark"}, {"4", "4", "Darkest"}},
            "2"};
}

// Platform Z prints a Duplex request by hand on models without a duplexer.
VendorOption duplex_by_hand_option()
{
    return {"manual-duplex",
            "Duplex",
            "2-Sided Printing by Hand",
            VendorKind::Keyword,
            {{"off", "None", "Off (1-Sided)"},
             {"long-edge", "DuplexNoTumble", "Long-Edge (Portrait)"},
             {"short-edge", "DuplexTumble", "Short-Edge (Landscape)"}},
            "off"};
}

const VendorChoice *find_choice(const VendorOption &option, const char *ipp)
{
    for (const VendorChoice &choice : option.choices)
        if (std::strcmp(choice.ipp, ipp) == 0)
            return &choice;
    return nullptr;
}

// The PPD choice for an IPP value; nullptr when the value is none of the option's.
const char *ppd_choice(const VendorOption &option, const char *value)
{
    if (option.kind == VendorKind::Boolean) {
        if (std::strcmp(value, "true") == 0)
            return "True";
        return std::strcmp(value, "false") == 0 ? "False" : nullptr;
    }
    const VendorChoice *choice = find_choice(option, value);
    return choice != nullptr ? choice->ppd : nullptr;
}

// The printer's NAME-default as IPP text; empty when it has none.
std::string default_value(const VendorOption &option, ipp_t *defaults)
{
    const std::string name = std::string(option.ipp) + "-default";
    ipp_attribute_t *attr = defaults != nullptr ? ippFindAttribute(defaults, name.c_str(), IPP_TAG_ZERO) : nullptr;
    if (attr == nullptr)
        return {};
    switch (ippGetValueTag(attr)) {
    case IPP_TAG_BOOLEAN:
        return ippGetBoolean(attr, 0) ? "true" : "false";
    case IPP_TAG_INTEGER:
        return std::to_string(ippGetInteger(attr, 0));
    case IPP_TAG_KEYWORD: {
        const char *keyword = ippGetString(attr, 0, nullptr);
        return keyword != nullptr ? keyword : "";
    }
    default:
        return {};
    }
}

// A strings-file line: "key" = "text"; (neither holds a quote or a backslash),
// once per key.
void add_string(std::string &out, std::set<std::string> &seen, const std::string &key, const char *text)
{
    if (seen.insert(key).second)
        out += '"' + key + "\" = \"" + text + "\";\n";
}

} // namespace

std::vector<VendorOption> vendor_options(const ModelCapabilities &caps)
{
    std::vector<VendorOption> options{density_option(), boolean_option("toner-mode", "TonerMode", "Toner Save"),
                                      boolean_option("negative-print", "NegativePrint", "Negative Print")};
    if (caps.platform == PLATFORM_Z || caps.platform == PLATFORM_M)
        options.push_back(boolean_option("dpi1200", "DPI1200", "1200 dpi"));
    if (caps.fineMode)
        options.push_back(boolean_option("fine-mode", "FineMode", "Fine Mode"));
    if (caps.manualDuplex == ManualDuplex::Option)
        options.push_back(boolean_option("manual-duplex", "ManualDuplex", "2-Sided Printing by Hand"));
    else if (caps.manualDuplex == ManualDuplex::DuplexRequest)
        options.push_back(duplex_by_hand_option());
    options.push_back(boolean_option("feed-long-edge", "FeedLongEdge", "Feed A5 Long Edge First"));
    options.push_back(boolean_option("image-rotation", "ImageRotation", "Rotate Pages by 180 Degrees"));
    return options;
}

void add_vendor_attributes(const std::vector<VendorOption> &options, ipp_t *attrs)
{
    for (const VendorOption &option : options) {
        const std::string supported = std::string(option.ipp) + "-supported";
        const std::string def = std::string(option.ipp) + "-default";
        if (option.kind == VendorKind::Boolean) {
            ippAddBoolean(attrs, IPP_TAG_PRINTER, supported.c_str(), 1);
            ippAddBoolean(attrs, IPP_TAG_PRINTER, def.c_str(), std::strcmp(option.defaultValue, "true") == 0);
        } else if (option.kind == VendorKind::Integer) {
            std::vector<int> values;
            for (const VendorChoice &choice : option.choices)
                values.push_back(std::atoi(choice.ipp));
            ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(), static_cast<int>(values.size()),
                           values.data());
            ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(), std::atoi(option.defaultValue));
        } else {
            std::vector<const char *> values;
            for (const VendorChoice &choice : option.choices)
                values.push_back(choice.ipp);
            ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(values.size()),
                          nullptr, values.data());
            ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, option.defaultValue);
        }
    }
}

std::string vendor_options_text(const std::vector<VendorOption> &options, int num_values, cups_option_t *values,
                                ipp_t *defaults)
{
    std::string text;
    for (const VendorOption &option : options) {
        const char *value = cupsGetOption(option.ipp, num_values, values);
        const char *choice = value != nullptr ? ppd_choice(option, value) : nullptr;
        if (choice == nullptr) {
            const std::string printerDefault = default_value(option, defaults);
            choice = ppd_choice(option, printerDefault.c_str());
        }
        if (choice == nullptr)
            choice = ppd_choice(option, option.defaultValue);
        if (!text.empty())
            text += ' ';
        text += std::string(option.ppd) + '=' + choice;
    }
    return text;
}

std::string vendor_strings(const std::vector<std::vector<VendorOption>> &all)
{
    std::string out;
    std::set<std::string> seen;
    for (const std::vector<VendorOption> &options : all) {
        for (const VendorOption &option : options) {
            add_string(out, seen, option.ipp, option.label);
            for (const VendorChoice &choice : option.choices)
                add_string(out, seen, std::string(option.ipp) + '.' + choice.ipp, choice.label);
        }
    }
    return out;
}

} // namespace varkon::app
