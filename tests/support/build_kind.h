// SPDX-License-Identifier: GPL-2.0-or-later
// What kind of build the tests run in: the sanitizer build runs every program
// several times slower and reserves terabytes of address space for its shadow
// memory, which limits on time and address space must allow for.
#pragma once

namespace varkon::test {

#ifdef VARKON_SANITIZED
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif

// How many times longer a program may take in this build.
inline constexpr double kSlowdown = kSanitizedBuild ? 3.0 : 1.0;

} // namespace varkon::test
