#include "control/guard.h"

const wchar_t kSingleInstanceMutexName[] = L"KavoOrvane_stubsetup";
const wchar_t kInstallerWindowTitle[] = L"\u5B89\u88C5KavoOrvane";  // 安装KavoOrvane
const wchar_t kInstallerWindowTitleAlt[] = L"KavoOrvane Install ";

SingleInstanceGuard::SingleInstanceGuard(const wchar_t* name) {
  mutex_ = CreateMutexW(nullptr, TRUE, name);
  // Only an existing mutex means another copy; any failure lets this run go
  // ahead unguarded.
  if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  already_running_ = true;
  HWND window = FindWindowW(nullptr, kInstallerWindowTitle);
  if (window == nullptr) window = FindWindowW(nullptr, kInstallerWindowTitleAlt);
  ActivateWindow(window);
}

void SingleInstanceGuard::Release() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
  mutex_ = nullptr;
  already_running_ = false;
}

void ActivateWindow(HWND window) {
  if (window == nullptr) return;
  // SW_SHOW would leave a minimised window minimised (it shows a window in
  // its current state); the user is to see the installer again.
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
  BringWindowToTop(window);
}
