// A setup program built by the installed version's setup from a patch.
#pragma once

#include "control/options.h"

// Runs the installed setup command with --update-setup-exe="patch"
// --new-setup-exe="new setup" and the user's arguments; true when it exits
// with 0. On failure the patch file has been deleted.
bool PatchInstalledSetup(const InstallerOptions& options, const wchar_t* patch_path,
                         const wchar_t* new_setup_path);
