// SPDX-License-Identifier: GPL-2.0-or-later
// Run-time binding of libcups and libcupsimage, with the linked CUPS as fallback.
#include "cupsdll.h"

#include <dlfcn.h>

void *m_hCUPS = nullptr;
void *m_hCUPSImage = nullptr;

decltype(&ppdClose) pfppdClose = &ppdClose;
decltype(&ppdOpenFile) pfppdOpenFile = &ppdOpenFile;
decltype(&ppdLocalizeIPPReason) pfppdLocalizeIPPReason = &ppdLocalizeIPPReason;
decltype(&cupsGetOption) pfcupsGetOption = &cupsGetOption;
decltype(&cupsParseOptions) pfcupsParseOptions = &cupsParseOptions;
decltype(&cupsSideChannelDoRequest) pfcupsSideChannelDoRequest = &cupsSideChannelDoRequest;
decltype(&cupsTempFd) pfcupsTempFd = &cupsTempFd;

decltype(&cupsRasterReadPixels) pfcupsRasterReadPixels = &cupsRasterReadPixels;
decltype(&cupsRasterClose) pfcupsRasterClose = &cupsRasterClose;
decltype(&cupsRasterReadHeader2) pfcupsRasterReadHeader2 = &cupsRasterReadHeader2;
decltype(&cupsRasterOpen) pfcupsRasterOpen = &cupsRasterOpen;
decltype(&cupsRasterOpenIO) pfcupsRasterOpenIO = &cupsRasterOpenIO;

namespace {

constexpr const char kCupsPath[] = "/usr/lib/libcups.so";
constexpr const char kCupsImagePath[] = "/usr/lib/libcupsimage.so";

// Resolves `name` in `scope`. A library that lacks the name must not leave a
// null pointer behind for the job loop to call, so the linked function stands in.
template <typename Fn>
void resolve(void *scope, const char *name, Fn &slot, Fn linked)
{
    void *symbol = (scope != nullptr) ? dlsym(scope, name) : nullptr;
    slot = (symbol != nullptr) ? reinterpret_cast<Fn>(symbol) : linked;
}

void release(void *&handle)
{
    if (handle != nullptr) {
        dlclose(handle);
        handle = nullptr;
    }
}

void bind_cups_functions(void *scope)
{
    resolve(scope, "ppdClose", pfppdClose, &ppdClose);
    resolve(scope, "ppdOpenFile", pfppdOpenFile, &ppdOpenFile);
    resolve(scope, "ppdLocalizeIPPReason", pfppdLocalizeIPPReason, &ppdLocalizeIPPReason);
    resolve(scope, "cupsGetOption", pfcupsGetOption, &cupsGetOption);
    resolve(scope, "cupsParseOptions", pfcupsParseOptions, &cupsParseOptions);
    resolve(scope, "cupsSideChannelDoRequest", pfcupsSideChannelDoRequest, &cupsSideChannelDoRequest);
    resolve(scope, "cupsTempFd", pfcupsTempFd, &cupsTempFd);
}

void bind_cupsimage_functions(void *scope)
{
    resolve(scope, "cupsRasterReadPixels", pfcupsRasterReadPixels, &cupsRasterReadPixels);
    resolve(scope, "cupsRasterClose", pfcupsRasterClose, &cupsRasterClose);
    resolve(scope, "cupsRasterReadHeader2", pfcupsRasterReadHeader2, &cupsRasterReadHeader2);
    resolve(scope, "cupsRasterOpen", pfcupsRasterOpen, &cupsRasterOpen);
    resolve(scope, "cupsRasterOpenIO", pfcupsRasterOpenIO, &cupsRasterOpenIO);
}

} // namespace

namespace varkon {

int bind_cups_library(const char *path)
{
    release(m_hCUPS);
    m_hCUPS = dlopen(path, RTLD_LAZY);
    bind_cups_functions(m_hCUPS);
    return m_hCUPS != nullptr ? 1 : 0;
}

int bind_cupsimage_library(const char *path)
{
    release(m_hCUPSImage);
    m_hCUPSImage = dlopen(path, RTLD_LAZY);
    if (m_hCUPSImage != nullptr) {
        bind_cupsimage_functions(m_hCUPSImage);
        return 1;
    }
    // Without the library, cupsRasterClose is whatever the process already has.
    bind_cupsimage_functions(nullptr);
    resolve(RTLD_DEFAULT, "cupsRasterClose", pfcupsRasterClose, &cupsRasterClose);
    return 0;
}

void release_cups_libraries()
{
    bind_cups_functions(nullptr);
    bind_cupsimage_functions(nullptr);
    release(m_hCUPS);
    release(m_hCUPSImage);
}

} // namespace varkon

int InitCUPSDLL() { return varkon::bind_cups_library(kCupsPath); }

int InitCUPSIMAGEDLL() { return varkon::bind_cupsimage_library(kCupsImagePath); }
