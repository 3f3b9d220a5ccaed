// SPDX-License-Identifier: GPL-2.0-or-later
// What the readers of the two frame families hand to the job checks: one item of
// the stream with the symbol that stands for it in the order of a job.
#pragma once

#include "varkon_decode.h"

#include <cstdio>
#include <string>

namespace varkon::decode::detail {

// Every kind of item a job is made of, across the three platforms.
enum class Sym {
    ZeroPairs,
    Uel, UelC, Pjl, PjlEoj, PjlEnterLanguage, PjlLanguageVersion, PjlJobTime, PjlJobOwner, PjlOther,
    Version, Marker,
    Abort, JobSpec, TonerSave, Density, SystemDate, FineMode, TonerParams,
    PageSpec, CustomPaper, HostUse, Coverage, RasterHeader, Band, ImageChecksum, FormFeed,
    MachineDuplex, ManualDuplex, QueryStatus, Reset,
    StartDoc, EndDoc, StartPage, EndPage, JbigParam, JbigData, JbigEnd,
};

// Plain words for a symbol, as messages use them ("page specification").
const char *sym_name(Sym sym);

struct Token {
    Sym sym = Sym::ZeroPairs;
    Item item;
    const unsigned char *bytes = nullptr;  // item.length bytes
    size_t payload_at = 0;                 // where the announced data starts, from bytes
    size_t payload_size = 0;
};

// Reads the item at pos of a platform C or Z stream. On false, violation says why.
bool read_short_item(Platform platform, const unsigned char *data, size_t size, size_t pos,
                     Token &token, Violation &violation);
// Reads the item at pos of a platform M stream. On false, violation says why.
bool read_long_item(const unsigned char *data, size_t size, size_t pos, Token &token,
                    Violation &violation);

// Field helpers shared by the readers.
inline void add_number(Item &item, const char *name, long long value)
{
    item.fields.push_back({name, std::to_string(value), value});
}

inline void add_hex(Item &item, const char *name, long long value, int digits = 2)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, value);
    item.fields.push_back({name, text, value});
}

inline void add_text(Item &item, const char *name, std::string text)
{
    item.fields.push_back({name, std::move(text), 0});
}

// printf-style message text for violations.
std::string message(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace varkon::decode::detail
