#include "payload/patch.h"

#include "control/bounded_string.h"
#include "registry/installed_setup.h"
#include "setup/setup_launch.h"

bool PatchInstalledSetup(const InstallerOptions& options, const wchar_t* patch_path,
                         const wchar_t* new_setup_path) {
  CommandString command;
  if (FindInstalledSetup(options, command, kCommandCapacity)) {
    const wchar_t* const pieces[] = {L" --update-setup-exe", L"=\"", patch_path, L"\"",
                                     L" --new-setup-exe",    L"=\"", new_setup_path, L"\""};
    bool built = true;
    for (const wchar_t* piece : pieces) {
      if (!SafeAppend(command, kCommandCapacity, piece)) {
        built = false;
        break;
      }
    }
    if (built) {
      // The user's arguments are optional: without room for them the
      // command still runs.
      AppendPassThroughArguments(options, command);
      DWORD exit_code = 0;
      if (RunProcessAndWait(nullptr, command, &exit_code) && exit_code == 0) return true;
    }
  }
  DeleteFileW(patch_path);
  return false;
}
