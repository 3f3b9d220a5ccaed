// SPDX-License-Identifier: GPL-2.0-or-later
// printer-strings-languages-supported from the driver attributes, and the
// libcups call through which PAPPL would add it again on every request.
#include "strings_languages.h"

#include "pappl_caller.h"

#include <dlfcn.h>

#include <cstring>

namespace {

constexpr const char kName[] = "printer-strings-languages-supported";

using AddStrings = ipp_attribute_t *(*)(ipp_t *, ipp_tag_t, ipp_tag_t, const char *, int, const char *,
                                        const char *const *);

} // namespace

namespace varkon::app {

void add_strings_languages(ipp_t *attrs)
{
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, kName, nullptr, kStringsLanguage);
}

} // namespace varkon::app

// libcups' ippAddStrings, for the whole program. PAPPL 1.3.1 calls it with
// printer-strings-languages-supported from one place only,
// _papplPrinterCopyAttributesNoLock, to add the attribute to the printer's
// stored attributes, and ignores the result. The driver attributes carry it
// already, so that call is dropped and the stored attributes stay as the
// printer was made. Every other call, libcups' own copies of the driver
// attribute into the printer and into each answer among them, goes to libcups.
extern "C" __attribute__((visibility("default"))) ipp_attribute_t *
ippAddStrings(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name, int num_values,
              const char *language, const char *const *values)
{
    static const AddStrings libcups = reinterpret_cast<AddStrings>(dlsym(RTLD_NEXT, "ippAddStrings"));
    if (name != nullptr && std::strcmp(name, kName) == 0 && varkon::app::called_from_pappl(__builtin_return_address(0)))
        return nullptr;
    return libcups(ipp, group, value_tag, name, num_values, language, values);
}
