#include "control/driver.h"

#include "control/bounded_string.h"
#include "control/options.h"
#include "integrity/archive_digest.h"
#include "integrity/download_notice.h"
#include "payload/payload.h"
#include "registry/full_installer_flag.h"
#include "setup/setup_launch.h"
#include "workarea/cleanup.h"
#include "workarea/work_directory.h"

int RunInstaller(HMODULE module) {
  SweepStaleWorkDirectories();

  int result = kExitInitFailed;
  InstallerOptions options;
  if (!options.ParseOptions()) return result;
  if (options.operation == kOperationCleanup) return kExitOk;

  PathString work_directory;
  if (!CreateWorkDirectory(module, work_directory)) return result;

  // From here on the work directory exists, so every path ends in the
  // final clean-up below.
  SetFullInstallerFlag(options);

  PathString archive_path;
  PathString setup_path;
  if (!UnpackPayload(options, module, work_directory, archive_path, setup_path)) {
    result = kExitUnpackFailed;
  } else if (!CheckArchiveDigest(module, archive_path)) {
    result = kExitArchiveCorrupt;
    if (ShowCorruptDownloadNotice() == IDOK) OpenDownloadPage(kDownloadPageUrl);
  } else {
    // The payload and the digest are done with; give the memory back while
    // setup runs.
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1),
                             static_cast<SIZE_T>(-1));
    DWORD exit_code = 0;
    if (RunSetupForInstall(options, archive_path, setup_path, &exit_code)) {
      result = static_cast<int>(exit_code);
    } else {
      result = kExitSetupFailed;
    }
  }

  if (IsCleanupEnabled()) RemoveWorkFiles(work_directory, archive_path, setup_path);
  return result;
}

int RunAndExit() {
  wchar_t own_path[kPathCapacity];
  if (GetModuleFileNameW(nullptr, own_path, kPathCapacity) == 0) return kExitOk;
  ExitProcess(static_cast<UINT>(RunInstaller(GetModuleHandleW(nullptr))));
}
