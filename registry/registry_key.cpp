#include "registry/registry_key.h"

#include "control/bounded_string.h"

const wchar_t kClientStateKeyPrefix[] = L"Software\\KavoOrvane\\Update\\ClientState\\";

LONG RegistryKey::Open(HKEY root, const wchar_t* sub_key, REGSAM access) {
  Close();
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExW(root, sub_key, 0, access, &opened);
  // Only a successful open hands over a handle worth keeping.
  key_ = (status == ERROR_SUCCESS) ? opened : nullptr;
  return status;
}

LONG RegistryKey::ReadString(const wchar_t* value_name, wchar_t* buffer,
                             std::uint32_t capacity) {
  // Without one unit for the NUL nothing can be returned as text.
  if (buffer == nullptr || capacity == 0) return ERROR_MORE_DATA;
  // The byte count is a DWORD; a larger buffer is simply offered in part.
  const std::uint32_t usable = capacity > 0x7FFFFFFFu ? 0x7FFFFFFFu : capacity;
  DWORD type = REG_NONE;
  DWORD bytes = static_cast<DWORD>(usable) * 2;
  const LONG status = RegQueryValueExW(key_, value_name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer), &bytes);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ) return ERROR_NOT_SUPPORTED;
  // An odd last byte is no unit of text; a single byte leaves an empty text.
  const DWORD units = bytes / 2;
  if (units > 0 && buffer[units - 1] == L'\0') return ERROR_SUCCESS;
  if (units < usable) {
    buffer[units] = L'\0';
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

LONG RegistryKey::WriteString(const wchar_t* value_name, const wchar_t* text) {
  if (text == nullptr) return ERROR_INVALID_PARAMETER;
  const DWORD bytes = static_cast<DWORD>(lstrlenW(text) + 1) * 2;
  return RegSetValueExW(key_, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

LONG RegistryKey::Close() {
  if (key_ == nullptr) return ERROR_SUCCESS;
  const LONG status = RegCloseKey(key_);
  key_ = nullptr;
  return status;
}

bool ReadRegistryString(HKEY root, const wchar_t* sub_key, const wchar_t* value_name,
                        wchar_t* buffer, std::uint32_t capacity) {
  RegistryKey key;
  if (key.Open(root, sub_key, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  const LONG status = key.ReadString(value_name, buffer, capacity);
  key.Close();
  return status == ERROR_SUCCESS;
}

bool OpenClientStateKey(HKEY root, const wchar_t* product_guid, REGSAM access,
                        RegistryKey& key) {
  PathString path;
  if (!SafeCopy(path, path.capacity(), kClientStateKeyPrefix)) return false;
  if (!SafeAppend(path, path.capacity(), product_guid)) return false;
  return key.Open(root, path, access) == ERROR_SUCCESS;
}
