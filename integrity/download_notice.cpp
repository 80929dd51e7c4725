#include "integrity/download_notice.h"

#include <windows.h>
#include <exdisp.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "control/bounded_string.h"

const wchar_t kDownloadPageUrl[] = L"https://www.kavoorvane.com/download/";
const wchar_t kCorruptDownloadText[] =
    L"您正在使用的安装程序是不完整的，请更换下载工具重新下载并安装";
const wchar_t kCorruptDownloadCaption[] = L"KavoOrvane安装程序";

namespace {

const wchar_t kBrowserPathTail[] = L"\\Internet Explorer\\iexplore.exe";
const wchar_t kAppPathsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";

// Defined here rather than taken from uuid.lib.
const CLSID kInternetExplorerClass = {
    0x0002DF01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kWebBrowser2Interface = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

// The browser's executable: iexplore.exe in the Program Files folder, else
// the App Paths value as it stands. Empty when neither names a file.
void FindBrowser(PathString& browser) {
  PathString folder;
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
  // A path that does not fit is no path (a partial one might name the folder).
  if (!SafeCopy(browser, kPathCapacity, folder) ||
      !SafeAppend(browser, kPathCapacity, kBrowserPathTail)) {
    browser.Truncate(0);
  }
  if (!browser.empty() && PathFileExistsW(browser)) return;

  DWORD type = REG_SZ;
  DWORD size = kPathCapacity * sizeof(wchar_t);
  browser.Truncate(0);
  const DWORD status = SHGetValueW(HKEY_LOCAL_MACHINE, kAppPathsKey, L"", &type, browser.data(), &size);
  // What a failed or non-text read left in the buffer is not a path.
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) browser.Truncate(0);
  if (!browser.empty() && !PathFileExistsW(browser)) browser.Truncate(0);
}

// Drives Internet Explorer's automation object to address. COM is set up
// for this call only.
bool NavigateAutomationObject(const wchar_t* address) {
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  bool started = false;
  IWebBrowser2* browser = nullptr;
  const HRESULT created = CoCreateInstance(kInternetExplorerClass, nullptr, CLSCTX_SERVER,
                                           kWebBrowser2Interface,
                                           reinterpret_cast<void**>(&browser));
  if (SUCCEEDED(created)) {
    started = true;
    if (browser != nullptr) {
      SHANDLE_PTR handle = 0;
      browser->get_HWND(&handle);
      HWND window = reinterpret_cast<HWND>(handle);
      if (window != nullptr) {
        SetForegroundWindow(window);
        ShowWindow(window, SW_SHOWNORMAL);
      }
      BSTR url = SysAllocString(address);
      if (url != nullptr) {
        VARIANT target = {};
        target.vt = VT_BSTR;
        target.bstrVal = url;
        VARIANT empty = {};  // VT_EMPTY, for flags, frame, post data and headers
        browser->Navigate2(&target, &empty, &empty, &empty, &empty);
      }
      browser->Release();
      SysFreeString(url);
    }
  }

  if (SUCCEEDED(initialised)) CoUninitialize();
  return started;
}

}  // namespace

int ShowCorruptDownloadNotice() {
  return MessageBoxW(nullptr, kCorruptDownloadText, kCorruptDownloadCaption,
                     MB_OK | MB_ICONWARNING);
}

bool OpenDownloadPage(const wchar_t* address) {
  if (address == nullptr || address[0] == L'\0') return false;

  PathString browser;
  FindBrowser(browser);
  if (!browser.empty()) {
    ShellExecuteW(GetDesktopWindow(), L"open", browser, address, nullptr, SW_SHOWDEFAULT);
    return true;
  }
  return NavigateAutomationObject(address);
}
