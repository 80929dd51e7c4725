// The installer bootstrap's entry point.
#include <windows.h>

#include "control/driver.h"
#include "control/guard.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  SingleInstanceGuard guard(kSingleInstanceMutexName);
  int result = kExitAlreadyRunning;
  if (!guard.already_running()) result = RunAndExit();
  guard.Release();
  return result;
}
