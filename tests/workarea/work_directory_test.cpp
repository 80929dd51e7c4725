#include "workarea/work_directory.h"

#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/workarea/workarea_test_support.h"

namespace {

using kavo_test::DirectoryExists;
using kavo_test::ScopedEnvironmentVariable;
using kavo_test::ScratchDirectory;

// The name from the digits' definition: seed bits 4-7, 0-3, 12-15, 8-11 and
// 20-23, in that order.
std::wstring NameOfSeed(std::uint32_t seed) {
  wchar_t name[16];
  swprintf(name, 16, L"OV_%X%X%X%X%X.tmp", (seed >> 4) & 15, seed & 15, (seed >> 12) & 15,
           (seed >> 8) & 15, (seed >> 20) & 15);
  return name;
}

// Points TMP and TEMP of this process at folder (GetTempPathW adds the
// backslash).
struct TempFolderOverride {
  explicit TempFolderOverride(const std::wstring& folder)
      : tmp(L"TMP", folder), temp(L"TEMP", folder) {}
  ScopedEnvironmentVariable tmp;
  ScopedEnvironmentVariable temp;
};

// A copy of the probe module in folder (made with its parents); the path.
std::wstring CopyProbeModuleTo(const std::wstring& folder) {
  const std::wstring path = folder + L"\\m.dll";
  workarea_test::CreateDirectories(folder);
  CopyFileW(kavo_test::BinaryPath(L"workarea_probe_module.dll").c_str(), path.c_str(), FALSE);
  return path;
}

// The probe module, loaded from a copy in folder: its folder stands in for
// the executable's.
class ModuleIn : public kavo_test::LoadedModule {
 public:
  explicit ModuleIn(const std::wstring& folder) : LoadedModule(CopyProbeModuleTo(folder)) {}
};

TEST(WorkDirectory, NamesFollowTheSeed) {
  struct Case {
    std::uint32_t tick;
    std::uint32_t seed;
    const wchar_t* first;
    const wchar_t* second;
  } cases[] = {
      {0x12345678u, 0x1235753Du, L"OV_3D753.tmp", L"OV_3E753.tmp"},
      {0x0000FFFFu, 0x0000FFF0u, L"OV_F0FF0.tmp", L"OV_F1FF0.tmp"},
      {0xFFFFFFFFu, 0xFFF00000u, L"OV_0000F.tmp", L"OV_0100F.tmp"},
      {0u, 0u, L"OV_00000.tmp", L"OV_01000.tmp"},
      {0x000FFFFFu, 0x000FFF00u, L"OV_00FF0.tmp", L"OV_01FF0.tmp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WorkDirectorySeed(c.tick), c.seed) << std::hex << c.tick;
    EXPECT_EQ(NameOfSeed(c.seed), c.first);
    ScratchDirectory scratch(L"wd_names");
    const std::wstring base = scratch.path() + L"\\";
    for (const wchar_t* expected : {c.first, c.second}) {
      PathString out;
      ASSERT_TRUE(CreateWorkDirectoryFromSeed(base.c_str(), c.seed, out));
      EXPECT_EQ(std::wstring(out.data()), base + expected + L"\\");
      EXPECT_TRUE(DirectoryExists(base + expected));
      EXPECT_EQ(out.guard(), L'\0');
    }
  }
}

TEST(WorkDirectory, TriesTenNamesThenGivesUp) {
  ScratchDirectory scratch(L"wd_ten");
  const std::wstring base = scratch.path() + L"\\";
  const std::uint32_t seed = 0xFFFFFFFBu;  // wraps to 0 on the sixth attempt
  for (std::uint32_t i = 0; i < 9; ++i) {
    ASSERT_TRUE(CreateDirectoryW((base + NameOfSeed(seed + i)).c_str(), nullptr));
  }
  PathString out;
  ASSERT_TRUE(CreateWorkDirectoryFromSeed(base.c_str(), seed, out));
  EXPECT_EQ(std::wstring(out.data()), base + NameOfSeed(seed + 9) + L"\\");
  EXPECT_EQ(NameOfSeed(seed + 9), L"OV_04000.tmp");

  // All ten taken: false, and the eleventh name is not tried.
  ASSERT_FALSE(CreateWorkDirectoryFromSeed(base.c_str(), seed, out));
  EXPECT_FALSE(DirectoryExists(base + NameOfSeed(seed + 10)));

  // A plain file with the name counts as taken, too.
  ASSERT_TRUE(kavo_test::WriteFileBytes(base + NameOfSeed(seed + 10), "x"));
  EXPECT_FALSE(CreateWorkDirectoryFromSeed(base.c_str(), seed + 1, out));
  ASSERT_TRUE(CreateWorkDirectoryFromSeed(base.c_str(), seed + 2, out));
  EXPECT_EQ(std::wstring(out.data()), base + NameOfSeed(seed + 11) + L"\\");
}

TEST(WorkDirectory, BaseFolderLengthLimit) {
  ScratchDirectory scratch(L"wd_len");
  for (std::uint32_t length : {245u, 246u, 247u, 248u, 256u}) {
    // The folder exists, so only the remaining room can refuse it.
    const std::wstring folder = workarea_test::PathOfLength(scratch.path(), length - 1);
    ASSERT_TRUE(workarea_test::CreateDirectories(folder)) << length;
    const std::wstring base = folder + L"\\";
    ASSERT_EQ(base.size(), length);
    PathString out;
    const bool created = CreateWorkDirectoryIn(base.c_str(), out);
    EXPECT_EQ(created, length <= 246) << length;
    if (created) {
      const std::wstring path = out.data();
      EXPECT_EQ(path.size(), length + 13u);
      EXPECT_EQ(path.compare(0, base.size(), base), 0);
      EXPECT_EQ(path.back(), L'\\');
      EXPECT_NE(path[path.size() - 2], L'\\');
      EXPECT_TRUE(DirectoryExists(path));
    }
  }
}

TEST(WorkDirectory, MissingFolderFails) {
  ScratchDirectory scratch(L"wd_missing");
  PathString out;
  EXPECT_FALSE(CreateWorkDirectoryIn((scratch.path() + L"\\absent\\").c_str(), out));
  EXPECT_FALSE(DirectoryExists(scratch.path() + L"\\absent"));
}

// Where CreateWorkDirectory puts the directory, for temporary folders that
// work and that do not.
TEST(WorkDirectory, FallsBackToTheExecutablesFolder) {
  ScratchDirectory scratch(L"wd_fallback");
  const std::wstring usable_temp = scratch.path() + L"\\temp";
  ASSERT_TRUE(workarea_test::CreateDirectories(usable_temp));
  const std::wstring temp_246 = workarea_test::PathOfLength(scratch.path(), 245);
  const std::wstring temp_247 = workarea_test::PathOfLength(scratch.path() + L"\\b", 246);
  ASSERT_TRUE(workarea_test::CreateDirectories(temp_246));
  ASSERT_TRUE(workarea_test::CreateDirectories(temp_247));
  ModuleIn module(scratch.path() + L"\\program");
  ASSERT_NE(module.get(), nullptr);
  const std::wstring program_folder = scratch.path() + L"\\program\\";

  struct Case {
    const wchar_t* label;
    std::wstring temp;
    bool in_temp;
  } cases[] = {
      {L"usable temporary folder", usable_temp, true},
      {L"temporary folder of 246 units", temp_246, true},
      {L"temporary folder of 247 units", temp_247, false},
      {L"temporary folder missing", scratch.path() + L"\\absent", false},
      {L"temporary folder longer than a path", L"C:\\" + std::wstring(300, L't'), false},
  };
  for (const Case& c : cases) {
    TempFolderOverride temp(c.temp);
    PathString out;
    ASSERT_TRUE(CreateWorkDirectory(module.get(), out)) << c.label;
    const std::wstring path = out.data();
    const std::wstring expected_base = c.in_temp ? c.temp + L"\\" : program_folder;
    EXPECT_EQ(path.compare(0, expected_base.size(), expected_base), 0)
        << c.label << ": " << kavo_test::Narrow(path);
    EXPECT_EQ(path.size(), expected_base.size() + 13u) << c.label;
    EXPECT_TRUE(DirectoryExists(path)) << c.label;
    RemoveDirectoryW(path.c_str());
  }
}

TEST(WorkDirectory, FallsBackWhenAllTenNamesAreTaken) {
  ScratchDirectory scratch(L"wd_taken");
  const std::wstring temp = scratch.path() + L"\\temp";
  ASSERT_TRUE(workarea_test::CreateDirectories(temp));
  ModuleIn module(scratch.path() + L"\\program");
  ASSERT_NE(module.get(), nullptr);
  struct RemoveTaken {  // by a Unix tool: through Wine, a thousand removals are slow
    std::wstring temp;
    ~RemoveTaken() {
      workarea_test::RunUnixShell("rm -rf " + workarea_test::UnixPathOf(temp), temp, false);
    }
  } remove_taken{temp};

  // Every name that a call can try during a window that starts a little in
  // the future; then the clock is awaited, so the call falls in the window.
  // A window that has begun before the names exist is given up for a
  // later one.
  constexpr std::uint32_t kWindowMs = 500;
  std::uint32_t lead_ms = 2000;
  std::uint32_t first = 0;
  bool ready = false;
  for (int attempt = 0; attempt < 4 && !ready; ++attempt, lead_ms *= 3) {
    first = GetTickCount() + lead_ms;
    std::set<std::wstring> taken;
    for (std::uint32_t t = first; t != first + kWindowMs; ++t) {
      for (std::uint32_t k = 0; k < 10; ++k) taken.insert(NameOfSeed(WorkDirectorySeed(t) + k));
    }
    std::string list;
    for (const std::wstring& name : taken) list += kavo_test::Narrow(name) + "\n";
    const std::wstring list_path = scratch.path() + L"\\names.txt";
    ASSERT_TRUE(kavo_test::WriteFileBytes(list_path, list));
    ASSERT_TRUE(workarea_test::RunUnixShell("cd " + workarea_test::UnixPathOf(temp) +
                                                " && xargs -a " +
                                                workarea_test::UnixPathOf(list_path) + " mkdir -p",
                                            temp + L"\\" + *taken.rbegin(), true));
    ready = static_cast<std::int32_t>(GetTickCount() - first) < 0;
  }
  ASSERT_TRUE(ready) << "the names could not be made ahead of the clock";
  while (static_cast<std::int32_t>(GetTickCount() - first) < 0) Sleep(1);

  TempFolderOverride override_temp(temp);
  PathString out;
  const bool created = CreateWorkDirectory(module.get(), out);
  ASSERT_LT(GetTickCount() - first, kWindowMs) << "the call left the window of taken names";
  ASSERT_TRUE(created);
  const std::wstring program_folder = scratch.path() + L"\\program\\";
  EXPECT_EQ(std::wstring(out.data()).compare(0, program_folder.size(), program_folder), 0)
      << kavo_test::Narrow(out.data());
}

TEST(WorkDirectory, FailsWhenNeitherPlaceWorks) {
  ScratchDirectory scratch(L"wd_neither");
  TempFolderOverride temp(scratch.path() + L"\\absent");
  PathString out;
  // No module name at all.
  EXPECT_FALSE(CreateWorkDirectory(reinterpret_cast<HMODULE>(static_cast<INT_PTR>(0x10)), out));

  // The module's folder leaves no room for a name (247 units with the
  // backslash), or the module's own path does not fit in 260 units.
  for (std::uint32_t folder_length : {246u, 256u}) {
    const std::wstring folder = workarea_test::PathOfLength(
        scratch.path() + L"\\f" + std::to_wstring(folder_length), folder_length);
    ModuleIn module(folder);
    ASSERT_NE(module.get(), nullptr) << folder_length;
    EXPECT_FALSE(CreateWorkDirectory(module.get(), out)) << folder_length;
  }
  // And it works once the module lies in a short folder.
  ModuleIn module(scratch.path() + L"\\short");
  ASSERT_TRUE(CreateWorkDirectory(module.get(), out));
}

// A SID in a buffer of its own.
struct Sid {
  unsigned char bytes[SECURITY_MAX_SID_SIZE] = {};
  PSID get() { return bytes; }
};

Sid WellKnown(WELL_KNOWN_SID_TYPE type) {
  Sid sid;
  DWORD size = sizeof sid.bytes;
  EXPECT_TRUE(CreateWellKnownSid(type, nullptr, sid.get(), &size)) << type;
  return sid;
}

Sid CurrentUser() {
  Sid sid;
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof buffer;
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, size, &size));
  CloseHandle(token);
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  CopySid(sizeof sid.bytes, sid.get(), user);
  return sid;
}

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  const std::string result = kavo_test::Narrow(text);
  LocalFree(text);
  return result;
}

// A path's DACL as read back through the API.
class DaclOf {
 public:
  explicit DaclOf(const std::wstring& path) {
    status_ = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl_, nullptr, &descriptor_);
    DWORD revision = 0;
    if (status_ == ERROR_SUCCESS) GetSecurityDescriptorControl(descriptor_, &control_, &revision);
  }
  ~DaclOf() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  DaclOf(const DaclOf&) = delete;
  DaclOf& operator=(const DaclOf&) = delete;
  DWORD status() const { return status_; }
  PACL dacl() const { return dacl_; }
  SECURITY_DESCRIPTOR_CONTROL control() const { return control_; }
  std::vector<ACE_HEADER*> Aces() const {
    std::vector<ACE_HEADER*> aces;
    for (DWORD i = 0; dacl_ != nullptr && i < dacl_->AceCount; ++i) {
      void* ace = nullptr;
      if (GetAce(dacl_, i, &ace)) aces.push_back(static_cast<ACE_HEADER*>(ace));
    }
    return aces;
  }

 private:
  DWORD status_ = ERROR_INVALID_FUNCTION;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  PACL dacl_ = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control_ = 0;
};

PSID AceSid(ACE_HEADER* ace) {
  return &reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
}

// Gives Everyone and Users full, inherited access to folder, the way the
// temporary folder of a run as SYSTEM lets ordinary users in.
void OpenToEveryone(const std::wstring& folder) {
  Sid everyone = WellKnown(WinWorldSid);
  Sid users = WellKnown(WinBuiltinUsersSid);
  unsigned char buffer[512];
  PACL acl = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(acl, sizeof buffer, ACL_REVISION));
  for (Sid* sid : {&everyone, &users}) {
    ASSERT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION,
                                      OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                      FILE_ALL_ACCESS, sid->get()));
  }
  std::wstring path = folder;
  ASSERT_EQ(SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, acl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  // Read back, so that a pass below does not come from a folder that never
  // offered anything to inherit.
  DaclOf parent(folder);
  ASSERT_EQ(parent.status(), static_cast<DWORD>(ERROR_SUCCESS));
  bool everyone_granted = false;
  for (ACE_HEADER* ace : parent.Aces()) everyone_granted |= EqualSid(AceSid(ace), everyone.get()) != 0;
  ASSERT_TRUE(everyone_granted);
}

// The accounts a work directory may grant anything to.
struct OwnAccounts {
  Sid sids[3] = {CurrentUser(), WellKnown(WinLocalSystemSid),
                 WellKnown(WinBuiltinAdministratorsSid)};
};

// Every entry allows, and only to the three accounts. With own_entries, the
// entries are the object's own (none inherited), each account has exactly
// one, with full access, passed on to files and folders made inside.
void ExpectOnlyOwnAccounts(const std::vector<ACE_HEADER*>& aces, bool own_entries) {
  OwnAccounts own;
  int seen[3] = {0, 0, 0};
  for (ACE_HEADER* ace : aces) {
    const std::string sid_text = SidText(AceSid(ace));
    ASSERT_EQ(ace->AceType, ACCESS_ALLOWED_ACE_TYPE) << sid_text;
    bool known = false;
    for (int i = 0; i < 3; ++i) {
      if (EqualSid(AceSid(ace), own.sids[i].get())) {
        ++seen[i];
        known = true;
      }
    }
    EXPECT_TRUE(known) << "granted to " << sid_text;
    EXPECT_FALSE(ace->AceFlags & INHERITED_ACE) << sid_text;
    if (own_entries) {
      EXPECT_EQ(ace->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
          << sid_text;
      EXPECT_EQ(reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask,
                static_cast<ACCESS_MASK>(FILE_ALL_ACCESS))
          << sid_text;
    }
  }
  if (own_entries) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(seen[i], 1) << SidText(own.sids[i].get());
  }
}

std::vector<ACE_HEADER*> AcesOf(PACL acl) {
  std::vector<ACE_HEADER*> aces;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(acl, i, &ace)) aces.push_back(static_cast<ACE_HEADER*>(ace));
  }
  return aces;
}

TEST(WorkDirectorySecurity, IsAProtectedDaclForTheOwnAccounts) {
  WorkDirectorySecurity security;
  ASSERT_TRUE(security.Build());
  ASSERT_TRUE(security.Build());  // a second build starts afresh
  SECURITY_ATTRIBUTES* attributes = security.attributes();
  ASSERT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(attributes->bInheritHandle);
  PSECURITY_DESCRIPTOR descriptor = attributes->lpSecurityDescriptor;
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = TRUE;
  PACL acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  // A null DACL would grant everybody everything.
  ASSERT_NE(acl, nullptr);
  ASSERT_TRUE(IsValidAcl(acl));
  // One entry per account; a run as SYSTEM has one account fewer.
  OwnAccounts own;
  EXPECT_EQ(acl->AceCount, EqualSid(own.sids[0].get(), own.sids[1].get()) ? 2u : 3u);
  ExpectOnlyOwnAccounts(AcesOf(acl), true);
}

// Whether the file system keeps a descriptor as given. Wine does not: it
// turns a DACL into Unix permission bits and builds the DACL back from them
// (owner, SYSTEM, Everyone), without groups, protection or inheritance.
bool PlatformKeepsDescriptors(const std::wstring& folder) {
  OwnAccounts own;
  unsigned char buffer[512];
  PACL acl = reinterpret_cast<PACL>(buffer);
  if (!InitializeAcl(acl, sizeof buffer, ACL_REVISION)) return false;
  for (Sid& sid : own.sids) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, 0, FILE_ALL_ACCESS, sid.get())) return false;
  }
  std::wstring path = folder;
  if (SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, acl, nullptr) != ERROR_SUCCESS)
    return false;
  DaclOf back(folder);
  if (back.status() != ERROR_SUCCESS || !(back.control() & SE_DACL_PROTECTED)) return false;
  for (ACE_HEADER* ace : back.Aces()) {
    if (EqualSid(AceSid(ace), own.sids[2].get())) return true;
  }
  return false;
}

// Both places where a work directory is made, each open to everybody: what
// the directory grants, read back from the file system.
TEST(WorkDirectory, HasItsOwnProtectedDacl) {
  ScratchDirectory scratch(L"wd_dacl");
  const std::wstring probe = scratch.path() + L"\\probe";
  ASSERT_TRUE(workarea_test::CreateDirectories(probe));
  const bool keeps_descriptors = PlatformKeepsDescriptors(probe);
  if (!keeps_descriptors) {
    std::printf("note: this file system does not keep security descriptors as given; only "
                "the rights it does keep are checked here\n");
  }
  const std::wstring temp = scratch.path() + L"\\temp";
  ASSERT_TRUE(workarea_test::CreateDirectories(temp));
  ModuleIn module(scratch.path() + L"\\program");
  ASSERT_NE(module.get(), nullptr);
  OpenToEveryone(temp);
  OpenToEveryone(scratch.path() + L"\\program");

  struct Case {
    const wchar_t* label;
    std::wstring temp;
    std::wstring expected_base;
  } cases[] = {
      {L"temporary folder", temp, temp + L"\\"},
      {L"executable's folder", scratch.path() + L"\\absent", scratch.path() + L"\\program\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kavo_test::Narrow(c.label));
    TempFolderOverride override_temp(c.temp);
    PathString out;
    ASSERT_TRUE(CreateWorkDirectory(module.get(), out));
    const std::wstring dir = out.data();
    ASSERT_EQ(dir.compare(0, c.expected_base.size(), c.expected_base), 0)
        << kavo_test::Narrow(dir);
    {
      DaclOf dacl(dir.substr(0, dir.size() - 1));
      ASSERT_EQ(dacl.status(), static_cast<DWORD>(ERROR_SUCCESS));
      ASSERT_NE(dacl.dacl(), nullptr);
      // Never anything for Everyone or Users, whatever the platform keeps.
      ExpectOnlyOwnAccounts(dacl.Aces(), keeps_descriptors);
      if (keeps_descriptors) {
        EXPECT_TRUE(dacl.control() & SE_DACL_PROTECTED);
      }
    }
    if (keeps_descriptors) {
      // What the run puts inside inherits the same three entries only.
      ASSERT_TRUE(kavo_test::WriteFileBytes(dir + L"setup.exe", "MZ"));
      ASSERT_TRUE(CreateDirectoryW((dir + L"sub").c_str(), nullptr));
      for (const wchar_t* inside : {L"setup.exe", L"sub"}) {
        DaclOf dacl(dir + inside);
        ASSERT_EQ(dacl.status(), static_cast<DWORD>(ERROR_SUCCESS));
        OwnAccounts own;
        for (ACE_HEADER* ace : dacl.Aces()) {
          bool known = false;
          for (Sid& sid : own.sids) known |= EqualSid(AceSid(ace), sid.get()) != 0;
          EXPECT_TRUE(known) << kavo_test::Narrow(inside) << " grants "
                             << SidText(AceSid(ace));
        }
      }
      DeleteFileW((dir + L"setup.exe").c_str());
      RemoveDirectoryW((dir + L"sub").c_str());
    }
    RemoveDirectoryW(dir.c_str());
  }
}

}  // namespace
