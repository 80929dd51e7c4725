#include "tests/support/test_support.h"

#include <algorithm>
#include <vector>

#include <shellapi.h>

namespace kavo_test {

std::wstring ModuleFolder() {
  wchar_t buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
  std::wstring path(buffer, n);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring BinaryPath(const std::wstring& name) { return ModuleFolder() + name; }

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, n);
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

bool FileExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  BOOL ok = bytes.empty() ||
            WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(f);
  return ok && done == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::string();
  std::string out;
  char chunk[65536];
  DWORD done = 0;
  while (ReadFile(f, chunk, sizeof chunk, &done, nullptr) && done > 0) out.append(chunk, done);
  CloseHandle(f);
  return out;
}

void RemoveTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());  // a link: only the link goes
  } else {
    DeleteFileW(path.c_str());
  }
}

ScratchDirectory::ScratchDirectory(const std::wstring& name_hint, const std::wstring& parent) {
  std::wstring base = parent.empty() ? TempFolder() : parent + L"\\";
  for (unsigned i = 0;; ++i) {
    std::wstring candidate = base + name_hint + L"_" + std::to_wstring(GetCurrentProcessId()) +
                             L"_" + std::to_wstring(GetTickCount() + i);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS || i > 1000) {
      path_ = candidate;  // tests then fail on their first use of it
      return;
    }
  }
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path_); }

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::wstring& name,
                                                     const std::wstring& value)
    : name_(name) {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 32768);
  had_value_ = n > 0 && n < 32768;
  if (had_value_) old_value_.assign(buffer, n);
  SetEnvironmentVariableW(name.c_str(), value.c_str());
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::wstring& name) : name_(name) {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 32768);
  had_value_ = n > 0 && n < 32768;
  if (had_value_) old_value_.assign(buffer, n);
  SetEnvironmentVariableW(name.c_str(), nullptr);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}

ScopedRegistryKey::ScopedRegistryKey(HKEY root, const std::wstring& sub_key)
    : root_(root), sub_key_(sub_key) {
  RegDeleteTreeW(root_, sub_key_.c_str());
  RegDeleteKeyW(root_, sub_key_.c_str());
}

ScopedRegistryKey::~ScopedRegistryKey() {
  RegDeleteTreeW(root_, sub_key_.c_str());
  RegDeleteKeyW(root_, sub_key_.c_str());
}

void ScopedRegistryKey::Create() const {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, sub_key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

void ScopedRegistryKey::SetRaw(const std::wstring& name, DWORD type, const void* data,
                               DWORD bytes) const {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, sub_key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
}

void ScopedRegistryKey::SetString(const std::wstring& name, const std::wstring& text) const {
  SetRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void ScopedRegistryKey::SetDword(const std::wstring& name, DWORD value) const {
  SetRaw(name, REG_DWORD, &value, sizeof value);
}

std::wstring ScopedRegistryKey::GetString(const std::wstring& name, bool* found) const {
  if (found) *found = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_, sub_key_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::wstring();
  std::vector<wchar_t> buffer(8192, L'\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return std::wstring();
  if (found) *found = true;
  return std::wstring(buffer.data());
}

DWORD RunProcess(const std::wstring& command_line, DWORD timeout_ms, bool* started) {
  std::vector<wchar_t> command(command_line.begin(), command_line.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    if (started) *started = false;
    return 0xFFFFFFFF;
  }
  if (started) *started = true;
  CloseHandle(process.hThread);
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, WAIT_TIMEOUT);
    WaitForSingleObject(process.hProcess, 5000);
    code = WAIT_TIMEOUT;
  }
  CloseHandle(process.hProcess);
  return code;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  std::vector<std::wstring> args;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
  if (argv == nullptr) return args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return args;
}

std::vector<std::wstring> DirectoryEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry = {};
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string JoinedNames(const std::vector<std::wstring>& names) {
  std::string out;
  for (const std::wstring& name : names) out += Narrow(name) + " ";
  return out;
}

ChildProcess::ChildProcess(const std::wstring& command_line) {
  std::vector<wchar_t> command(command_line.begin(), command_line.end());
  command.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (process_ == nullptr) return;
  if (!Ended()) Kill();
  CloseHandle(process_);
}

bool ChildProcess::Ended() const {
  return process_ == nullptr || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
}

DWORD ChildProcess::Wait(DWORD timeout_ms) const {
  DWORD code = WAIT_TIMEOUT;
  if (process_ != nullptr && WaitForSingleObject(process_, timeout_ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process_, &code);
  }
  return code;
}

void ChildProcess::Kill() const {
  if (process_ == nullptr) return;
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, 60000);
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

LoadedModule::LoadedModule(const std::wstring& path, DWORD flags)
    : module_(LoadLibraryExW(path.c_str(), nullptr, flags)) {}

LoadedModule::~LoadedModule() {
  if (module_ != nullptr) FreeLibrary(module_);
}

HeldWindow::HeldWindow(const std::wstring& tag)
    : hold_name_(L"kavo_test_hold_" + tag + std::to_wstring(GetCurrentProcessId())),
      ready_name_(L"kavo_test_ready_" + tag + std::to_wstring(GetCurrentProcessId())),
      hold_(CreateEventW(nullptr, TRUE, FALSE, hold_name_.c_str())),
      ready_(CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str())) {}

HeldWindow::~HeldWindow() {
  Release();
  if (hold_ != nullptr) CloseHandle(hold_);
  if (ready_ != nullptr) CloseHandle(ready_);
}

bool HeldWindow::WaitReady(DWORD timeout_ms) const {
  return ready_ != nullptr && WaitForSingleObject(ready_, timeout_ms) == WAIT_OBJECT_0;
}

void HeldWindow::Release() const {
  if (hold_ != nullptr) SetEvent(hold_);
}

HeldWindow::Holding::Holding(const HeldWindow& window)
    : hold_(L"KAVO_SETUP_HOLD_EVENT", window.hold_name_),
      ready_(L"KAVO_SETUP_READY_EVENT", window.ready_name_),
      hold_ms_(L"KAVO_SETUP_HOLD_MS", L"60000") {}

}  // namespace kavo_test
