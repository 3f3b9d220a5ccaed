// SPDX-License-Identifier: GPL-2.0-or-later
// Raster header fields that libcups declares as enumerations (Duplex, Tumble,
// cupsColorSpace, Orientation ...) hold whatever 32-bit value the stream
// carried: libcups copies the header unchecked. Reading such a field as its
// enumeration is undefined for values outside it, so the filter reads the number.
#pragma once

#include <cstring>
#include <type_traits>

namespace varkon {

template <typename Enum>
unsigned field_value(const Enum &field)
{
    static_assert(std::is_enum_v<Enum> && sizeof(Enum) == sizeof(unsigned), "a 32-bit enumeration field");
    unsigned value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

} // namespace varkon
