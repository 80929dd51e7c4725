// trivial_user32: the trivial program with user32 among its imports, as the
// installer and the setup program have it. Under Wine, loading user32 also
// starts the graphics and font machinery; the difference from
// trivial_program is that share of a process start.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  // Never true (no show command is that large); keeps the import.
  if (show == 0x7FFF) return FindWindowW(nullptr, nullptr) != nullptr;
  return 0;
}
