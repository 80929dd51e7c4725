// plain_loader.exe <dll name>...: loads each named DLL with a plain
// LoadLibraryW, the default search and nothing restricted, and exits with
// the number that loaded. The control for the planting tests: it shows
// that a DLL planted next to a program is found where nothing prevents it.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return -1;
  int loaded = 0;
  for (int i = 1; i < count; ++i) {
    if (LoadLibraryW(argv[i]) != nullptr) ++loaded;
  }
  LocalFree(argv);
  return loaded;
}
