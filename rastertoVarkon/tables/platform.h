// SPDX-License-Identifier: GPL-2.0-or-later
// Platform codes: which dialect of the printer language a model speaks.
#pragma once

constexpr int PLATFORM_NONE = 0; // nothing determined: the command layer writes nothing
constexpr int PLATFORM_C = 1;    // PPD PlatForm text "PLATFORM_C"
constexpr int PLATFORM_Z = 2;    // "PLATFORM_Z"
constexpr int PLATFORM_M = 3;    // "PLATFORM_M"
