#include "tests/workarea/workarea_test_support.h"

#include "tests/support/test_support.h"

namespace workarea_test {

namespace {

bool PathPresent(const std::wstring& path) {
  // FindFirstFileW sees the link itself, dangling or not.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

// A Unix program started through Wine gives no usable wait or exit code,
// so the effect is awaited instead.
bool RunUnixUntil(const std::string& command, const std::wstring& path, bool present) {
  kavo_test::RunProcess(kavo_test::Widen(command), 10000);
  for (int i = 0; i < 500; ++i) {
    if (PathPresent(path) == present) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

bool RunUnixShell(const std::string& script, const std::wstring& path, bool present) {
  return RunUnixUntil("/bin/sh -c \"" + script + "\"", path, present);
}

bool CreateDirectories(const std::wstring& path) {
  for (size_t i = path.find(L'\\', 3); i != std::wstring::npos; i = path.find(L'\\', i + 1)) {
    CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring PathOfLength(const std::wstring& base, std::uint32_t length) {
  std::wstring path = base;
  while (length - path.size() > 13) path += L"\\dddddddd";
  const size_t last = length - path.size() - 1;  // 4 .. 12 units
  if (last <= 8) {
    path += L"\\" + std::wstring(last, L'e');
  } else {
    path += L"\\" + std::wstring(last - 4, L'e') + L".ext";
  }
  return path;
}

std::string UnixPathOf(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return std::string();
  char* unix_path = to_unix(path.c_str());
  if (unix_path == nullptr) return std::string();
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

UnixSymbolicLink::UnixSymbolicLink(const std::wstring& target, const std::wstring& link)
    : link_(link) {
  const std::string unix_target = UnixPathOf(target);
  // The link does not exist yet: map its folder, then add its name.
  const size_t slash = link.find_last_of(L'\\');
  const std::string unix_folder = UnixPathOf(link.substr(0, slash));
  if (!unix_folder.empty())
    unix_link_ = unix_folder + "/" + kavo_test::Narrow(link.substr(slash + 1));
  if (unix_target.empty() || unix_link_.empty()) return;
  if (unix_target.find(' ') != std::string::npos || unix_link_.find(' ') != std::string::npos)
    return;
  made_ = RunUnixUntil("/bin/ln -s " + unix_target + " " + unix_link_, link_, true);
}

UnixSymbolicLink::~UnixSymbolicLink() {
  if (unix_link_.empty()) return;
  // A dangling link is invisible to Windows calls, so a marker made after
  // the removal tells when it is done.
  const std::wstring marker = link_ + L".removed";
  if (RunUnixShell("rm -f " + unix_link_ + " && touch " + unix_link_ + ".removed", marker, true))
    DeleteFileW(marker.c_str());
}

}  // namespace workarea_test
