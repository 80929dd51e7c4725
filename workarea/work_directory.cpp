#include "workarea/work_directory.h"

#include "control/scoped_handle.h"

namespace {

const wchar_t kWorkDirectoryPrefix[] = L"OV_";
const wchar_t kWorkDirectorySuffix[] = L".tmp";
constexpr std::uint32_t kNameDigits = 5;
constexpr int kAttempts = 10;
// Five digits, ".tmp", the backslash and the NUL.
constexpr std::uint32_t kRoomNeeded = kNameDigits + 4 + 1 + 1;

// The one place where the directory is made.
bool MakeDirectory(const wchar_t* path, WorkDirectorySecurity& security) {
  return CreateDirectoryW(path, security.attributes()) != FALSE;
}

}  // namespace

bool WorkDirectorySecurity::AddAce(PSID sid) {
  // The user may be SYSTEM itself: one entry per account is enough.
  for (int i = 0; i < added_count_; ++i) {
    if (EqualSid(added_[i], sid)) return true;
  }
  if (!AddAccessAllowedAceEx(reinterpret_cast<PACL>(acl_), ACL_REVISION,
                             OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid)) {
    return false;
  }
  added_[added_count_++] = sid;
  return true;
}

bool WorkDirectorySecurity::Build() {
  added_count_ = 0;
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;
  DWORD size = sizeof user_;
  if (!GetTokenInformation(token.get(), TokenUser, user_, size, &size)) return false;
  size = sizeof system_;
  if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size)) return false;
  size = sizeof administrators_;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &size))
    return false;

  PACL acl = reinterpret_cast<PACL>(acl_);
  if (!InitializeAcl(acl, sizeof acl_, ACL_REVISION)) return false;
  if (!AddAce(reinterpret_cast<TOKEN_USER*>(user_)->User.Sid) || !AddAce(system_) ||
      !AddAce(administrators_)) {
    return false;
  }
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
      // Protected: nothing of the temporary folder's rights is inherited.
      !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return false;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  return true;
}

std::uint32_t WorkDirectorySeed(std::uint32_t tick_count) {
  return tick_count ^ (tick_count >> 12);
}

bool CreateWorkDirectoryFromSeed(const wchar_t* base, std::uint32_t seed, PathString& out) {
  if (!SafeCopy(out, out.capacity(), base)) return false;
  if (!SafeAppend(out, out.capacity(), kWorkDirectoryPrefix)) return false;
  const std::uint32_t length = out.length();
  const std::uint32_t room = out.capacity() - length;
  if (room < kRoomNeeded) return false;
  // Without its own security no directory is made: falling back to the
  // inherited rights would quietly bring back the exposure that the
  // descriptor closes.
  WorkDirectorySecurity security;
  if (!security.Build()) return false;

  for (int attempt = 0; attempt < kAttempts; ++attempt, ++seed) {
    // Least significant byte first, whatever the machine's byte order.
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(seed), static_cast<unsigned char>(seed >> 8),
        static_cast<unsigned char>(seed >> 16), static_cast<unsigned char>(seed >> 24)};
    if (!HexEncode(bytes, 4, out.data() + length, room)) return false;
    out.Truncate(length + kNameDigits);
    SafeAppend(out, out.capacity(), kWorkDirectorySuffix);
    // Any failure (name taken, access denied, folder missing) moves on.
    if (MakeDirectory(out, security)) return SafeAppend(out, out.capacity(), L"\\");
  }
  return false;
}

bool CreateWorkDirectoryIn(const wchar_t* base, PathString& out) {
  return CreateWorkDirectoryFromSeed(base, WorkDirectorySeed(GetTickCount()), out);
}

bool CreateWorkDirectory(HMODULE module, PathString& out) {
  PathString folder;
  const DWORD temp_length = GetTempPathW(folder.capacity(), folder);
  if (temp_length > 0 && temp_length < folder.capacity() && CreateWorkDirectoryIn(folder, out))
    return true;

  folder.Truncate(0);
  const DWORD module_length = GetModuleFileNameW(module, folder, folder.capacity());
  if (module_length == 0 || module_length >= folder.capacity()) return false;
  wchar_t* name = FileNameOf(folder, module_length);
  if (name == nullptr) return false;
  *name = L'\0';
  return CreateWorkDirectoryIn(folder, out);
}
