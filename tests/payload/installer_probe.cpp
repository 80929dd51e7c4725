// A minimal installer assembled by kavo_add_installer: unpacks its own payload
// into KAVO_PROBE_WORK (ending with a backslash) and hands it to setup. Exits
// with setup's code, 102 when unpacking fails, 103 when setup cannot run.
#include <windows.h>

#include "payload/payload.h"
#include "setup/setup_launch.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  PathString work;
  const DWORD n = GetEnvironmentVariableW(L"KAVO_PROBE_WORK", work, kPathCapacity);
  if (n == 0 || n >= kPathCapacity) return 101;
  InstallerOptions options;
  if (!options.ParseOptions()) return 101;
  PathString archive, setup;
  if (!UnpackPayload(options, GetModuleHandleW(nullptr), work, archive, setup)) return 102;
  DWORD code = 0;
  if (!RunSetupForInstall(options, archive, setup, &code)) return 103;
  return static_cast<int>(code);
}
