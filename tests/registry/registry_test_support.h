// Seeding and reading of the updater's state keys for the registry tests.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace registry_test {

inline std::wstring StateKeyPath(const wchar_t* guid) {
  return std::wstring(L"Software\\KavoOrvane\\Update\\ClientState\\") + guid;
}

struct RawValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

inline RawValue ReadRaw(HKEY root, const std::wstring& sub_key, const wchar_t* name) {
  RawValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, sub_key.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return value;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes) == ERROR_SUCCESS) {
    value.bytes.resize(bytes);
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &bytes) ==
        ERROR_SUCCESS) {
      value.found = true;
      value.bytes.resize(bytes);
    }
  }
  RegCloseKey(key);
  return value;
}

inline bool KeyExists(HKEY root, const std::wstring& sub_key) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, sub_key.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// The whole "Software\KavoOrvane" tree of both roots is absent before and
// after every test that uses this fixture.
class StateKeys {
 public:
  StateKeys()
      : user_(HKEY_CURRENT_USER, L"Software\\KavoOrvane"),
        machine_(HKEY_LOCAL_MACHINE, L"Software\\KavoOrvane") {}
  kavo_test::ScopedRegistryKey& Of(HKEY root) {
    return root == HKEY_LOCAL_MACHINE ? machine_ : user_;
  }

 private:
  kavo_test::ScopedRegistryKey user_;
  kavo_test::ScopedRegistryKey machine_;
};

// Creates the (empty) state key of guid; StateKeys removes it afterwards.
inline void SeedKey(HKEY root, const wchar_t* guid) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, StateKeyPath(guid).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

// Stores exactly bytes bytes. The registry adds a terminator to string data
// whose next unit in memory is NUL (Windows and Wine alike), so the data is
// copied between non-NUL units first.
inline void SeedRaw(HKEY root, const std::wstring& sub_key, const wchar_t* name, DWORD type,
                    const void* data, DWORD bytes) {
  std::vector<BYTE> padded(bytes + 6, 0x5A);
  if (bytes > 0) memcpy(padded.data() + 2, data, bytes);
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, sub_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, name, 0, type, padded.data() + 2, bytes);
  RegCloseKey(key);
}

inline void SeedString(HKEY root, const std::wstring& sub_key, const wchar_t* name,
                       const std::wstring& text, DWORD type = REG_SZ) {
  SeedRaw(root, sub_key, name, type, text.c_str(),
          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline std::wstring TextOf(const RawValue& value) {
  std::wstring text(reinterpret_cast<const wchar_t*>(value.bytes.data()), value.bytes.size() / 2);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

}  // namespace registry_test
