// setup_double.exe: stands in for the product's setup program in tests.
//
// Interface (everything through the inherited environment):
//   KAVO_SETUP_RECORD=<file>     appends the full command line (GetCommandLineW)
//                                to <file> as UTF-8 (no BOM) followed by one
//                                "\n"; one line per run, so a patch run and
//                                the install run that follows share one file.
//   KAVO_SETUP_EXIT_CODE=<n>     exit code (decimal, may be negative; default 0).
//   KAVO_SETUP_PATCH_EXIT_CODE=<n>  exit code in patch mode instead (default:
//                                KAVO_SETUP_EXIT_CODE).
//   KAVO_SETUP_HOLD_MS=<ms>      keeps a top-level window open for that long
//                                before exiting (default: no window).
//   KAVO_SETUP_HOLD_EVENT=<name> keeps the window open until the named event
//                                (created here if absent, manual reset) is
//                                set, at most KAVO_SETUP_HOLD_MS (default
//                                60000 with an event).
//   KAVO_SETUP_READY_EVENT=<name> set (created if absent) once the window
//                                exists, so a test knows it can look for it.
//   KAVO_SETUP_WINDOW_TITLE=<t>  the window's title; default
//                                "KavoOrvane Install " (trailing blank).
//   KAVO_SETUP_PATCH_WRITE=0     in patch mode, writes nothing at the new path.
// Patch mode: the command line holds --update-setup-exe=<patch> and
// --new-setup-exe=<new> (quotes removed by the usual splitting). The double
// then copies itself to <new>, so the new setup program is runnable and
// behaves as this one. A missing patch file gives exit code 97 and a failed
// copy 98, regardless of the variables above.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

bool GetVariable(const wchar_t* name, std::wstring* value) {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
  if (n == 0 || n >= 32768) return false;
  value->assign(buffer, n);
  return true;
}

int NumberVariable(const wchar_t* name, int fallback) {
  std::wstring text;
  if (!GetVariable(name, &text) || text.empty()) return fallback;
  return static_cast<int>(std::wcstol(text.c_str(), nullptr, 10));
}

void Record(const wchar_t* command_line) {
  std::wstring path;
  if (!GetVariable(L"KAVO_SETUP_RECORD", &path)) return;
  std::string line;
  const int n = WideCharToMultiByte(CP_UTF8, 0, command_line, -1, nullptr, 0, nullptr, nullptr);
  if (n > 0) {
    line.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, command_line, -1, &line[0], n, nullptr, nullptr);
    line.resize(static_cast<size_t>(n - 1));
  }
  line += '\n';
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// 0 when not in patch mode, else the exit code of the patch step.
int RunPatchMode(int argc, wchar_t** argv, bool* patch_mode) {
  const wchar_t kUpdate[] = L"--update-setup-exe=";
  const wchar_t kNew[] = L"--new-setup-exe=";
  std::wstring patch, target;
  bool has_patch = false, has_target = false;
  for (int i = 1; i < argc; ++i) {
    if (StartsWith(argv[i], kUpdate)) {
      patch = argv[i] + std::wcslen(kUpdate);
      has_patch = true;
    } else if (StartsWith(argv[i], kNew)) {
      target = argv[i] + std::wcslen(kNew);
      has_target = true;
    }
  }
  *patch_mode = has_patch && has_target;
  if (!*patch_mode) return 0;
  if (GetFileAttributesW(patch.c_str()) == INVALID_FILE_ATTRIBUTES) return 97;
  if (NumberVariable(L"KAVO_SETUP_PATCH_WRITE", 1) == 0) return 0;
  wchar_t self[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return 98;
  return CopyFileW(self, target.c_str(), FALSE) ? 0 : 98;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(window, message, w, l);
}

void HoldWindow() {
  std::wstring hold_event_name, ready_event_name, title = L"KavoOrvane Install ";
  const bool has_hold_event = GetVariable(L"KAVO_SETUP_HOLD_EVENT", &hold_event_name);
  const int hold_ms = NumberVariable(L"KAVO_SETUP_HOLD_MS", has_hold_event ? 60000 : 0);
  if (hold_ms <= 0 && !has_hold_event) return;
  GetVariable(L"KAVO_SETUP_WINDOW_TITLE", &title);

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KavoSetupDoubleWindow";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(),
                                WS_OVERLAPPEDWINDOW, 10, 10, 320, 200, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  HANDLE hold = has_hold_event
                    ? CreateEventW(nullptr, TRUE, FALSE, hold_event_name.c_str())
                    : nullptr;
  if (GetVariable(L"KAVO_SETUP_READY_EVENT", &ready_event_name)) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ready_event_name.c_str());
    if (ready != nullptr) {
      SetEvent(ready);
      CloseHandle(ready);
    }
  }
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(hold_ms);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) break;
    const DWORD left = static_cast<DWORD>(end - now);
    const DWORD waited = MsgWaitForMultipleObjects(hold != nullptr ? 1 : 0, &hold, FALSE,
                                                   left, QS_ALLINPUT);
    if (hold != nullptr && waited == WAIT_OBJECT_0) break;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (hold != nullptr) CloseHandle(hold);
  if (window != nullptr) DestroyWindow(window);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const wchar_t* command_line = GetCommandLineW();
  Record(command_line);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(command_line, &argc);
  bool patch_mode = false;
  int code = 0;
  if (argv != nullptr) {
    code = RunPatchMode(argc, argv, &patch_mode);
    LocalFree(argv);
  }
  HoldWindow();
  if (patch_mode) {
    if (code != 0) return code;
    return NumberVariable(L"KAVO_SETUP_PATCH_EXIT_CODE",
                          NumberVariable(L"KAVO_SETUP_EXIT_CODE", 0));
  }
  return NumberVariable(L"KAVO_SETUP_EXIT_CODE", 0);
}
