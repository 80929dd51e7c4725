// Where the installed version's setup program is: its "UninstallString".
#pragma once

#include <cstdint>

#include "control/options.h"

// Tries, under the options' root only: the multi-install binaries (when
// multi_install), the frame plug-in (when frame), options.product_guid, the
// app host (when app_host). True at the first value read into buffer.
bool FindInstalledSetup(const InstallerOptions& options, wchar_t* buffer,
                        std::uint32_t capacity);

// Reads "UninstallString" of one product's state key.
bool ReadUninstallString(bool system_level, const wchar_t* product_guid, wchar_t* buffer,
                         std::uint32_t capacity);
