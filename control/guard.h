// Only one copy runs: a named mutex, and a second copy brings the installer
// window forward instead.
#pragma once

#include <windows.h>

extern const wchar_t kSingleInstanceMutexName[];  // "KavoOrvane_stubsetup"
extern const wchar_t kInstallerWindowTitle[];     // "安装KavoOrvane"
extern const wchar_t kInstallerWindowTitleAlt[];  // "KavoOrvane Install "

class SingleInstanceGuard {
 public:
  // Creates the mutex with initial ownership. When it already existed, the
  // installer window (if any) is brought forward.
  explicit SingleInstanceGuard(const wchar_t* name);
  ~SingleInstanceGuard() { Release(); }
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  void Release();
  bool already_running() const { return already_running_; }

 private:
  bool already_running_ = false;
  HANDLE mutex_ = nullptr;
};

// Restores a minimised window, then makes it the foreground window.
void ActivateWindow(HWND window);
