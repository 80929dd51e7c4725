#include "payload/patch.h"

#include <gtest/gtest.h>

#include <string>

#include "payload/payload.h"
#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

const std::wstring kBrowserKey =
    std::wstring(L"Software\\KavoOrvane\\Update\\ClientState\\") + kBrowserAppGuid;

// Removes HKCU\Software\KavoOrvane at the end when it was absent at the
// start, so that the parents of the state key do not stay behind.
class RestoreProductRoot {
 public:
  RestoreProductRoot() {
    HKEY key = nullptr;
    existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key != nullptr) RegCloseKey(key);
  }
  ~RestoreProductRoot() {
    if (existed_) return;
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    RegDeleteKeyW(HKEY_CURRENT_USER, kRoot);
  }

 private:
  static constexpr const wchar_t* kRoot = L"Software\\KavoOrvane";
  bool existed_ = false;
};

// The installed version's setup program: the setup double, recording into
// the work directory.
class PatchFixture : public ::testing::Test {
 protected:
  PatchFixture()
      : root_(),
        key_(HKEY_CURRENT_USER, kBrowserKey),
        record_(L"KAVO_SETUP_RECORD", work_ / L"record.txt"),
        no_exit_code_(L"KAVO_SETUP_EXIT_CODE"),
        no_patch_exit_code_(L"KAVO_SETUP_PATCH_EXIT_CODE") {
    dir_ = work_.path() + L"\\";
    patch_ = dir_ + L"SETUP.PATCH";
    new_setup_ = dir_ + L"setup.exe";
    installed_ = Quote(BinaryPath(L"setup_double.exe"));
  }
  void Install(const std::wstring& command) {
    key_.Create();
    key_.SetString(L"UninstallString", command);
  }
  std::string Recorded() { return ReadFileBytes(work_ / L"record.txt"); }
  std::string Line(const std::wstring& command) { return Narrow(command) + "\n"; }
  std::wstring Expected(const std::wstring& installed) {
    return installed + L" --update-setup-exe=\"" + patch_ + L"\" --new-setup-exe=\"" +
           new_setup_ + L"\"";
  }

  ScratchDirectory work_;
  RestoreProductRoot root_;
  ScopedRegistryKey key_;
  ScopedEnvironmentVariable record_, no_exit_code_, no_patch_exit_code_;
  std::wstring dir_, patch_, new_setup_, installed_;
};

TEST_F(PatchFixture, RunsTheInstalledSetupWithTheExactCommand) {
  Install(installed_);
  ASSERT_TRUE(WriteFileBytes(patch_, "patch"));
  InstallerOptions options;
  ASSERT_TRUE(options.ParseCommandLine(L"inst.exe --foo \"two words\""));
  EXPECT_TRUE(PatchInstalledSetup(options, patch_.c_str(), new_setup_.c_str()));
  EXPECT_EQ(Recorded(), Line(Expected(installed_) + L" --foo \"two words\""));
  EXPECT_TRUE(FileExists(patch_)) << "the patch file stays";
  EXPECT_EQ(ReadFileBytes(new_setup_), ReadFileBytes(BinaryPath(L"setup_double.exe")));
}

TEST_F(PatchFixture, FailuresDeleteThePatchFile) {
  InstallerOptions options;
  // No installed version: nothing runs.
  ASSERT_TRUE(WriteFileBytes(patch_, "patch"));
  EXPECT_FALSE(PatchInstalledSetup(options, patch_.c_str(), new_setup_.c_str()));
  EXPECT_FALSE(FileExists(patch_));
  EXPECT_EQ(Recorded(), "");

  // The installed setup fails.
  Install(installed_);
  ScopedEnvironmentVariable fails(L"KAVO_SETUP_PATCH_EXIT_CODE", L"5");
  ASSERT_TRUE(WriteFileBytes(patch_, "patch"));
  EXPECT_FALSE(PatchInstalledSetup(options, patch_.c_str(), new_setup_.c_str()));
  EXPECT_FALSE(FileExists(patch_));
  EXPECT_EQ(Recorded(), Line(Expected(installed_)));

  // The installed setup program is gone.
  Install(Quote(work_ / L"missing.exe"));
  ASSERT_TRUE(WriteFileBytes(patch_, "patch"));
  EXPECT_FALSE(PatchInstalledSetup(options, patch_.c_str(), new_setup_.c_str()));
  EXPECT_FALSE(FileExists(patch_));
}

TEST_F(PatchFixture, ACommandOf1039UnitsRunsAnd1040DoesNot) {
  InstallerOptions options;
  const std::size_t fixed = 41 + patch_.size() + new_setup_.size();
  for (std::size_t total : {1039u, 1040u}) {
    std::wstring installed = installed_ + L" --pad=";
    installed += std::wstring(total - fixed - installed.size(), L'p');
    ASSERT_EQ(installed.size() + fixed, total);
    Install(installed);
    DeleteFileW((work_ / L"record.txt").c_str());
    ASSERT_TRUE(WriteFileBytes(patch_, "patch"));
    const bool ran = PatchInstalledSetup(options, patch_.c_str(), new_setup_.c_str());
    if (total == 1039) {
      EXPECT_TRUE(ran);
      EXPECT_EQ(Recorded(), Line(Expected(installed)));
      EXPECT_TRUE(FileExists(patch_));
    } else {
      EXPECT_FALSE(ran);
      EXPECT_EQ(Recorded(), "");
      EXPECT_FALSE(FileExists(patch_));
    }
  }
  // A full command leaves no room for the user's arguments: it runs without.
  std::wstring installed = installed_ + L" --pad=";
  installed += std::wstring(1039 - fixed - installed.size(), L'p');
  Install(installed);
  DeleteFileW((work_ / L"record.txt").c_str());
  ASSERT_TRUE(WriteFileBytes(patch_, "patch"));
  ASSERT_TRUE(options.ParseCommandLine(L"inst.exe --foo"));
  EXPECT_TRUE(PatchInstalledSetup(options, patch_.c_str(), new_setup_.c_str()));
  EXPECT_EQ(Recorded(), Line(Expected(installed)));
}

TEST_F(PatchFixture, ThePatchRoadWinsOverTheOthersAndFailsAlone) {
  const kavo_test::LoadedModule loaded(BinaryPath(L"payload_patch.dll"));
  const HMODULE module = loaded.get();
  ASSERT_NE(module, nullptr);
  InstallerOptions options;
  {
    PathString archive, setup;
    // No installed version: the cabinet and plain setup are not tried.
    EXPECT_FALSE(UnpackPayload(options, module, dir_.c_str(), archive, setup));
    EXPECT_EQ(std::wstring(setup), patch_);
    EXPECT_FALSE(FileExists(patch_));
    EXPECT_FALSE(FileExists(new_setup_));
    EXPECT_FALSE(FileExists(dir_ + L"SETUP.EX_"));
    EXPECT_FALSE(FileExists(dir_ + L"SETUP_FULL.EXE"));
  }
  Install(installed_);
  {
    PathString archive, setup;
    EXPECT_TRUE(UnpackPayload(options, module, dir_.c_str(), archive, setup));
    EXPECT_EQ(std::wstring(archive), dir_ + L"ORVANE.PACKED.7Z");
    EXPECT_EQ(std::wstring(setup), new_setup_);
    EXPECT_EQ(Recorded(), Line(Expected(installed_)));
    EXPECT_TRUE(FileExists(patch_));
    EXPECT_EQ(ReadFileBytes(new_setup_), ReadFileBytes(BinaryPath(L"setup_double.exe")));
    EXPECT_FALSE(FileExists(dir_ + L"SETUP.EX_"));
    EXPECT_FALSE(FileExists(dir_ + L"SETUP_FULL.EXE"));
  }
}

}  // namespace
