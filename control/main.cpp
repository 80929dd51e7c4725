// The installer bootstrap's entry point.
#include <windows.h>

#include "control/driver.h"
#include "control/guard.h"

namespace {

// The installer is started from the Downloads folder, where a web page can
// drop a DLL next to it. Before anything can load a library, limit the
// default search to System32. Looked up at run time: Windows 7 without
// KB2533623 lacks the function, and a static import would stop the program
// from starting there. The static imports are resolved before this runs;
// marking the image itself (the load configuration's DependentLoadFlags) is
// beyond what the GNU linker used here can write.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return;
  FARPROC entry = GetProcAddress(kernel32, "SetDefaultDllDirectories");
  if (entry == nullptr) return;
  // Through void(*)(): the one function type GCC lets convert to any other.
  auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void (*)()>(entry));
  set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  RestrictDllSearchToSystem32();
  SingleInstanceGuard guard(kSingleInstanceMutexName);
  int result = kExitAlreadyRunning;
  if (!guard.already_running()) result = RunAndExit();
  guard.Release();
  return result;
}
