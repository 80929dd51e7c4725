#include "registry/full_installer_flag.h"

#include "control/bounded_string.h"
#include "registry/registry_key.h"

namespace {

constexpr REGSAM kReadWriteAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;
const wchar_t kTagValue[] = L"ap";
const wchar_t kFullSuffix[] = L"-full";
const wchar_t kMultiToken[] = L"-multi";

// In multi-install mode the product's own key is kept (true) unless it is
// missing, its tag cannot be read as text, or the tag names multi-install.
bool KeepProductKey(HKEY root, const wchar_t* guid, RegistryKey& key, TagString& tag,
                    LONG& status) {
  if (!OpenClientStateKey(root, guid, kReadWriteAccess, key)) return false;
  status = key.ReadString(kTagValue, tag, tag.capacity());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  return !FindToken(tag, kMultiToken, nullptr);
}

}  // namespace

void SetFullInstallerFlag(const InstallerOptions& options) {
  const HKEY root = options.system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const wchar_t* guid = options.frame ? kFrameAppGuid : options.product_guid;
  RegistryKey key;
  TagString tag;
  LONG status = ERROR_FILE_NOT_FOUND;

  bool opened = false;
  if (options.multi_install) {
    opened = KeepProductKey(root, guid, key, tag, status);
    if (!opened) {
      key.Close();
      guid = kMultiInstallAppGuid;
    }
  }
  if (!opened) {
    if (!OpenClientStateKey(root, guid, kReadWriteAccess, key)) return;
    tag.Truncate(0);
    status = key.ReadString(kTagValue, tag, tag.capacity());
  }

  // A tag of another type, too long or refused is not ours to rewrite.
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return;
  if (status == ERROR_FILE_NOT_FOUND) tag.Truncate(0);
  if (EndsWithIgnoreCase(tag, kFullSuffix)) return;
  if (!SafeAppend(tag, tag.capacity(), kFullSuffix)) return;
  key.WriteString(kTagValue, tag);
  key.Close();
}
