#include "registry/installed_setup.h"

#include "registry/registry_key.h"

namespace {

const wchar_t kUninstallStringValue[] = L"UninstallString";

}  // namespace

bool ReadUninstallString(bool system_level, const wchar_t* product_guid, wchar_t* buffer,
                         std::uint32_t capacity) {
  const HKEY root = system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  RegistryKey key;
  if (!OpenClientStateKey(root, product_guid, KEY_QUERY_VALUE, key)) return false;
  const LONG status = key.ReadString(kUninstallStringValue, buffer, capacity);
  key.Close();
  return status == ERROR_SUCCESS;
}

bool FindInstalledSetup(const InstallerOptions& options, wchar_t* buffer,
                        std::uint32_t capacity) {
  const bool level = options.system_level;
  if (options.multi_install && ReadUninstallString(level, kMultiInstallAppGuid, buffer, capacity))
    return true;
  if (options.frame && ReadUninstallString(level, kFrameAppGuid, buffer, capacity)) return true;
  if (ReadUninstallString(level, options.product_guid, buffer, capacity)) return true;
  return options.app_host && ReadUninstallString(level, kAppHostAppGuid, buffer, capacity);
}
