// The demo's setup program: what the product's setup does, in miniature.
//
// It shows a window titled "KavoOrvane Install " while it works, checks that
// --install-archive="..." names an existing 7z archive (by its signature
// bytes), and exits 0 when it does, 1 when the option is missing and 2 when
// the file is missing or not a 7z archive. When KAVO_DEMO_RECORD names a
// file, its command line and verdict are written there (UTF-8), so the demo
// can show what setup received.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

namespace {

const wchar_t kWindowTitle[] = L"KavoOrvane Install ";
const unsigned char k7zSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

bool IsSevenZipArchive(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char head[6] = {};
  DWORD done = 0;
  BOOL ok = ReadFile(file, head, sizeof head, &done, nullptr);
  CloseHandle(file);
  return ok && done == sizeof head && std::memcmp(head, k7zSignature, sizeof head) == 0;
}

void AppendUtf8(HANDLE file, const wchar_t* text) {
  char buffer[8192];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  DWORD done = 0;
  if (n > 1) WriteFile(file, buffer, static_cast<DWORD>(n - 1), &done, nullptr);
}

void Record(const wchar_t* verdict) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"KAVO_DEMO_RECORD", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  AppendUtf8(file, GetCommandLineW());
  AppendUtf8(file, L"\n");
  AppendUtf8(file, verdict);
  AppendUtf8(file, L"\n");
  CloseHandle(file);
}

// Keeps the installer window up for a moment, as a real setup would while
// it copies files.
void ShowProgressWindow(HINSTANCE instance) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"KavoOrvaneDemoSetup";
  RegisterClassW(&window_class);
  HWND window = CreateWindowW(window_class.lpszClassName, kWindowTitle, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 400, 200, nullptr, nullptr,
                              instance, nullptr);
  if (window == nullptr) return;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  const DWORD end = GetTickCount() + 1500;
  MSG message;
  while (GetTickCount() < end) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(20);
  }
  DestroyWindow(window);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const wchar_t* archive = nullptr;
  const wchar_t kOption[] = L"--install-archive=";
  const size_t option_length = sizeof kOption / sizeof kOption[0] - 1;
  for (int i = 1; argv != nullptr && i < argc; ++i) {
    if (wcsncmp(argv[i], kOption, option_length) == 0) archive = argv[i] + option_length;
  }
  ShowProgressWindow(instance);
  int result = 0;
  if (archive == nullptr) {
    Record(L"no --install-archive given");
    result = 1;
  } else if (!IsSevenZipArchive(archive)) {
    Record(L"--install-archive does not name a 7z archive");
    result = 2;
  } else {
    Record(L"--install-archive names a 7z archive: installed");
  }
  if (argv != nullptr) LocalFree(argv);
  return result;
}
