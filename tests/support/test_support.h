// Small helpers for tests that run under Wine against the real Win32 API.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kavo_test {

// Folder of the running test program, with a trailing backslash. Test
// programs, doubles and test modules are all built into this folder.
std::wstring ModuleFolder();
// ModuleFolder() + name.
std::wstring BinaryPath(const std::wstring& name);
// GetTempPathW, with its trailing backslash.
std::wstring TempFolder();

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// Removes a tree, clearing read-only attributes; never follows reparse points.
void RemoveTree(const std::wstring& path);

// A fresh directory (in TempFolder() unless a parent is given) removed with
// everything in it at destruction. path() has no trailing backslash.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::wstring& name_hint = L"kavo_test",
                            const std::wstring& parent = std::wstring());
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Sets (or, with unset, removes) a variable of this process's environment
// and restores the earlier state at destruction. Children inherit it.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const std::wstring& name, const std::wstring& value);
  explicit ScopedEnvironmentVariable(const std::wstring& name);  // unset
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::wstring old_value_;
  bool had_value_ = false;
};

// Deletes root\sub_key with all it holds at construction and destruction, so
// that a test starts and leaves the key absent.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey(HKEY root, const std::wstring& sub_key);
  ~ScopedRegistryKey();
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
  // Creates the key (and its parents).
  void Create() const;
  // Raw value write with an explicit byte count.
  void SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD bytes) const;
  void SetString(const std::wstring& name, const std::wstring& text) const;
  void SetDword(const std::wstring& name, DWORD value) const;
  // The REG_SZ value, or nullopt-like: found=false.
  std::wstring GetString(const std::wstring& name, bool* found = nullptr) const;

 private:
  HKEY root_;
  std::wstring sub_key_;
};

// Runs a command line, waits at most timeout_ms and returns the exit code
// (0xFFFFFFFF with *started false when it could not start; the process is
// killed and WAIT_TIMEOUT returned on a time-out).
DWORD RunProcess(const std::wstring& command_line, DWORD timeout_ms = 120000,
                 bool* started = nullptr);

// CommandLineToArgvW of line, as strings (empty when it cannot be split).
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

// Names in a folder (files and directories, no "." or ".."), sorted.
std::vector<std::wstring> DirectoryEntries(const std::wstring& folder);
// The names in UTF-8, each followed by one blank ("" for none).
std::string JoinedNames(const std::vector<std::wstring>& names);

// A process started beside the test, without waiting. One still running at
// destruction is ended.
class ChildProcess {
 public:
  explicit ChildProcess(const std::wstring& command_line);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool started() const { return process_ != nullptr; }
  DWORD id() const { return id_; }
  bool Ended() const;
  // The exit code, or WAIT_TIMEOUT while it still runs.
  DWORD Wait(DWORD timeout_ms) const;
  // Ends it and waits until it is gone.
  void Kill() const;

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// Wraps in quotation marks.
std::wstring Quote(const std::wstring& text);

// A module loaded with LoadLibraryExW(path, flags) for the owner's lifetime
// (get() is null when it could not be loaded).
class LoadedModule {
 public:
  explicit LoadedModule(const std::wstring& path, DWORD flags = 0);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// A window of the setup double that stays until Release (or destruction).
// The two named events are this object's; tag keeps the names of several
// windows apart.
class HeldWindow {
 public:
  explicit HeldWindow(const std::wstring& tag);
  ~HeldWindow();
  HeldWindow(const HeldWindow&) = delete;
  HeldWindow& operator=(const HeldWindow&) = delete;
  // Once a double started under a Holding shows its window.
  bool WaitReady(DWORD timeout_ms = 30000) const;
  void Release() const;

  // Sets the variables for its lifetime: setup doubles started meanwhile
  // keep their window until the HeldWindow lets go.
  class Holding {
   public:
    explicit Holding(const HeldWindow& window);

   private:
    ScopedEnvironmentVariable hold_;
    ScopedEnvironmentVariable ready_;
    ScopedEnvironmentVariable hold_ms_;
  };

 private:
  std::wstring hold_name_;
  std::wstring ready_name_;
  HANDLE hold_;
  HANDLE ready_;
};

}  // namespace kavo_test
