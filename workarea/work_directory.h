// The run's own work directory: "OV_" + five hex digits + ".tmp" + "\", under
// the temporary folder, or in the executable's folder when that fails.
#pragma once

#include <windows.h>

#include <cstdint>

#include "control/bounded_string.h"

// The security every work directory is created with: a protected DACL that
// grants full access to the current user, SYSTEM and Administrators only,
// passed on to everything created inside. A run as SYSTEM has C:\Windows\Temp
// as its temporary folder, where ordinary users may add and replace files in
// any new subdirectory under the inherited rights; setup.exe could then be
// swapped between its writing and its start.
class WorkDirectorySecurity {
 public:
  WorkDirectorySecurity() = default;
  WorkDirectorySecurity(const WorkDirectorySecurity&) = delete;
  WorkDirectorySecurity& operator=(const WorkDirectorySecurity&) = delete;

  // False when the descriptor cannot be built; then no directory is made.
  bool Build();
  // Valid after a successful Build, for as long as this object lives.
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  bool AddAce(PSID sid);

  // The TOKEN_USER record with room for a SID of the maximum size behind it.
  alignas(TOKEN_USER) unsigned char user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD system_[SECURITY_MAX_SID_SIZE / sizeof(DWORD)] = {};
  DWORD administrators_[SECURITY_MAX_SID_SIZE / sizeof(DWORD)] = {};
  DWORD acl_[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) /
             sizeof(DWORD)] = {};
  PSID added_[3] = {};
  int added_count_ = 0;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

// The name seed for a tick count: t XOR (t >> 12).
std::uint32_t WorkDirectorySeed(std::uint32_t tick_count);

// Tries the temporary folder first, then the executable's folder. On success
// out holds the new directory's path with one trailing backslash.
bool CreateWorkDirectory(HMODULE module, PathString& out);

// Creates a new work directory in base (a folder path ending in a backslash),
// with a seed taken from the tick count.
bool CreateWorkDirectoryIn(const wchar_t* base, PathString& out);

// CreateWorkDirectoryIn with a given first seed: at most ten names, seed,
// seed + 1, ..., each tried with CreateDirectoryW.
bool CreateWorkDirectoryFromSeed(const wchar_t* base, std::uint32_t seed, PathString& out);
