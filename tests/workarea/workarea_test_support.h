// File-system fixtures of the work-area tests: exact-length paths, trees,
// and Unix symbolic links inside the Wine prefix.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace workarea_test {

// Creates every missing directory of path (a full Windows path).
bool CreateDirectories(const std::wstring& path);

// base + components that are valid 8.3 names (so that no short name differs
// from them), making a path of exactly length units. length must exceed
// base.size() + 4.
std::wstring PathOfLength(const std::wstring& base, std::uint32_t length);

// The Unix path of a Windows path, through Wine's own mapping.
std::string UnixPathOf(const std::wstring& path);

// Runs script with /bin/sh -c, then waits until path is present (or, with
// present false, absent). False when that does not happen in 10 seconds.
bool RunUnixShell(const std::string& script, const std::wstring& path, bool present);

// A Unix symbolic link made with ln -s (a Windows program cannot call
// symlink(2); Wine runs Unix programs for CreateProcess), removed again
// with rm at destruction.
class UnixSymbolicLink {
 public:
  UnixSymbolicLink(const std::wstring& target, const std::wstring& link);
  ~UnixSymbolicLink();
  UnixSymbolicLink(const UnixSymbolicLink&) = delete;
  UnixSymbolicLink& operator=(const UnixSymbolicLink&) = delete;
  bool made() const { return made_; }

 private:
  std::wstring link_;
  std::string unix_link_;
  bool made_ = false;
};

}  // namespace workarea_test
