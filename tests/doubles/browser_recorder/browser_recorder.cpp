// browser_recorder: stands in for Internet Explorer's iexplore.exe.
//
// Writes its full command line (GetCommandLineW, as UTF-8, no terminator)
// to the file named by the environment variable KAVO_RECORD_FILE and exits
// with 0. The file appears complete or not at all (written beside it, then
// renamed), so a test may poll for it. Without the variable it exits with 2,
// when the file cannot be written with 1.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t record[MAX_PATH * 2];
  DWORD n = GetEnvironmentVariableW(L"KAVO_RECORD_FILE", record, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2 - 8) return 2;
  wchar_t partial[MAX_PATH * 2];
  lstrcpyW(partial, record);
  lstrcatW(partial, L".part");

  const wchar_t* line = GetCommandLineW();
  const int units = lstrlenW(line);
  static char utf8[32768 * 3];
  const int bytes = units == 0 ? 0
                               : WideCharToMultiByte(CP_UTF8, 0, line, units, utf8,
                                                     sizeof utf8, nullptr, nullptr);

  HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = bytes == 0 || WriteFile(file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileExW(partial, record, MOVEFILE_REPLACE_EXISTING)) return 1;
  return 0;
}
