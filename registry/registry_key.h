// The one registry wrapper of the bootstrap, and the updater's per-product
// state keys "Software\KavoOrvane\Update\ClientState\<GUID>".
//
// Statuses are Win32 codes: 0 success, 2 missing, 50 not a REG_SZ, 234 too
// long for the buffer; any other code as the system gave it.
#pragma once

#include <windows.h>

#include <cstdint>

extern const wchar_t kClientStateKeyPrefix[];  // ends with a backslash

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Releases any key held, then RegOpenKeyExW with exactly this access.
  LONG Open(HKEY root, const wchar_t* sub_key, REGSAM access);
  // Reads a REG_SZ value into capacity units, always NUL-terminated on 0.
  LONG ReadString(const wchar_t* value_name, wchar_t* buffer, std::uint32_t capacity);
  // Stores text as REG_SZ with its terminating NUL.
  LONG WriteString(const wchar_t* value_name, const wchar_t* text);
  // 0 when nothing was open.
  LONG Close();
  bool IsOpen() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

// Opens root\sub_key with KEY_QUERY_VALUE, reads value_name, closes. True
// only when both the open and the read succeeded.
bool ReadRegistryString(HKEY root, const wchar_t* sub_key, const wchar_t* value_name,
                        wchar_t* buffer, std::uint32_t capacity);

// Opens the state key of product_guid under root into key.
bool OpenClientStateKey(HKEY root, const wchar_t* product_guid, REGSAM access,
                        RegistryKey& key);
