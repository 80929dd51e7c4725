// instant_setup: the benchmark's setup program, which exits at once with 0.
//
// It appends its command line (UTF-8, one line) to the file named by
// KAVO_SETUP_RECORD, so the benchmark can check that every run started it,
// and otherwise does nothing. Unlike the test's setup double it links no
// user32 and no shell32: under Wine those alone add about 25 ms to a
// process start, which would be charged to the installer here.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t record[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"KAVO_SETUP_RECORD", record, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 0;
  HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  static char line[32768 * 3 + 1];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line - 1,
                                  nullptr, nullptr);
  bytes = bytes > 0 ? bytes - 1 : 0;  // without the NUL
  line[bytes++] = '\n';
  DWORD done = 0;
  WriteFile(file, line, static_cast<DWORD>(bytes), &done, nullptr);
  CloseHandle(file);
  return 0;
}
