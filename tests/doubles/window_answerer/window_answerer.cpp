// window_answerer: finds a message box (or any dialog) by its caption, reports
// what it shows and answers it, for tests of the user interface under Xvfb.
//
//   window_answerer.exe <caption> <report-file> [--expect <text>]
//                       [--answer ok|cancel|close|none] [--timeout <ms>]
//
// Polls FindWindowW(NULL, caption) every 20 ms for up to --timeout ms
// (default 30000), waits until the window is visible (its text is set by
// then), and writes <report-file> in UTF-8, one "key=value" line each:
//   buttons=<ids of the push buttons IDOK..IDCONTINUE it has, comma-separated>
//   text=<text of the static control 0xFFFF (a message box's message), to the end of the file>
// Then it answers: ok posts WM_COMMAND IDOK (the default), cancel posts
// WM_COMMAND IDCANCEL, close posts WM_CLOSE, none leaves the window alone.
// Exit code: 0 found and answered, 1 not found in time, 2 bad command line,
// 3 the text differs from --expect (answered all the same), 4 the report
// could not be written.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 5000, &copied)) {
    return std::wstring();
  }
  return std::wstring(buffer, copied);
}

int Run(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const wchar_t* caption = argv[1];
  const wchar_t* report = argv[2];
  const wchar_t* expect = nullptr;
  const wchar_t* answer = L"ok";
  DWORD timeout = 30000;
  for (int i = 3; i < argc; i += 2) {
    if (i + 1 >= argc) return 2;
    const wchar_t* value = argv[i + 1];
    if (lstrcmpW(argv[i], L"--expect") == 0) {
      expect = value;
    } else if (lstrcmpW(argv[i], L"--answer") == 0) {
      answer = value;
    } else if (lstrcmpW(argv[i], L"--timeout") == 0) {
      timeout = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
    } else {
      return 2;
    }
  }

  HWND box = nullptr;
  const ULONGLONG deadline = GetTickCount64() + timeout;
  for (;;) {
    box = FindWindowW(nullptr, caption);
    if (box != nullptr && IsWindowVisible(box)) break;
    if (GetTickCount64() >= deadline) return 1;
    Sleep(20);
  }

  std::string buttons;
  for (int id = IDOK; id <= IDCONTINUE; ++id) {
    if (GetDlgItem(box, id) == nullptr) continue;
    if (!buttons.empty()) buttons += ',';
    buttons += std::to_string(id);
  }
  HWND label = GetDlgItem(box, 0xFFFF);
  const std::wstring text = label != nullptr ? WindowText(label) : std::wstring();
  const std::string content = "buttons=" + buttons + "\ntext=" + Utf8(text);

  bool written = false;
  HANDLE file = CreateFileW(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD done = 0;
    written = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done,
                        nullptr) &&
              done == content.size();
    CloseHandle(file);
  }

  if (lstrcmpW(answer, L"ok") == 0) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  } else if (lstrcmpW(answer, L"cancel") == 0) {
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
  } else if (lstrcmpW(answer, L"close") == 0) {
    PostMessageW(box, WM_CLOSE, 0, 0);
  }

  if (!written) return 4;
  if (expect != nullptr && text != expect) return 3;
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  const int result = Run(argc, argv);
  LocalFree(argv);
  return result;
}
