// Marks the updater's "ap" tag of the installed product with "-full".
#pragma once

#include "control/options.h"

// Appends "-full" to the chosen product's "ap" value unless it already ends
// with it. Keys are never created; every failure leaves the registry alone.
void SetFullInstallerFlag(const InstallerOptions& options);
