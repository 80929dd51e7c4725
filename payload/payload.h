// The payload carried as resources, written into the work directory.
//
// Layout (string types and names): "B7" holds the archive (name begins with
// "orvane") and optionally a setup patch (name begins with "setup"); "BL" the
// setup program as a cabinet; "BN" the setup program uncompressed.
#pragma once

#include <windows.h>

#include <cstdint>

#include "control/bounded_string.h"
#include "control/options.h"

extern const wchar_t kSetupExeName[];  // "setup.exe"
constexpr DWORD kMaxPayloadResourceSize = 0x40000000;

// A payload resource may be written only when this holds (1 byte to 1 GiB).
bool IsAcceptedPayloadSize(DWORD size);

// Shared by the callbacks of all three enumerations of one unpacking.
struct PayloadPaths {
  const wchar_t* base_directory;  // the work directory, ending in a backslash
  PathString* archive_path;
  PathString* setup_path;
};

class PayloadResource {
 public:
  PayloadResource(const wchar_t* name, const wchar_t* type, HMODULE module);
  bool IsFound() const { return resource_ != nullptr; }
  DWORD Size() const;
  // Creates (or replaces) path and writes all the bytes with one WriteFile.
  // Fails when fewer bytes than Size() were written.
  bool WriteToFile(const wchar_t* path) const;

 private:
  HMODULE module_;
  HRSRC resource_;
};

// EnumResourceNamesW callback; context points to a PayloadPaths.
BOOL CALLBACK ExtractPayloadResource(HMODULE module, LPCWSTR type, LPWSTR name,
                                     LONG_PTR context);

// Writes the archive and obtains work_directory + "setup.exe" by the patch,
// cabinet or plain road, in that order of precedence. archive_path and
// setup_path must be empty on entry; they name what was written, also after
// a failure (for the final clean-up).
bool UnpackPayload(const InstallerOptions& options, HMODULE module,
                   const wchar_t* work_directory, PathString& archive_path,
                   PathString& setup_path);
