#include "registry/installed_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/bounded_string.h"
#include "control/options.h"
#include "tests/registry/registry_test_support.h"

namespace {

using registry_test::SeedKey;
using registry_test::SeedString;
using registry_test::StateKeys;
using registry_test::StateKeyPath;

struct Seed {
  HKEY root;
  const wchar_t* guid;
  std::wstring text;  // the UninstallString; empty with no_value: key only
  DWORD type = REG_SZ;
  bool no_value = false;
};

struct Flags {
  bool multi_install, frame, app_host, system_level;
};

const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

TEST(FindInstalledSetup, TriesTheCandidatesInOrder) {
  const std::wstring fits(1039, L'c');
  const std::wstring too_long(1040, L'c');
  struct Case {
    const wchar_t* label;
    Flags flags;
    std::vector<Seed> seeds;
    bool found;
    std::wstring command;
  } cases[] = {
      {L"product only", {false, false, false, false},
       {{kUser, kBrowserAppGuid, L"browser.exe --uninstall"}}, true, L"browser.exe --uninstall"},
      {L"every candidate set: multi-install first", {true, true, true, false},
       {{kUser, kMultiInstallAppGuid, L"multi"}, {kUser, kFrameAppGuid, L"frame"},
        {kUser, kBrowserAppGuid, L"browser"}, {kUser, kAppHostAppGuid, L"host"}},
       true, L"multi"},
      {L"multi-install key without the value: frame next", {true, true, false, false},
       {{kUser, kMultiInstallAppGuid, L"", REG_SZ, true}, {kUser, kFrameAppGuid, L"frame"},
        {kUser, kBrowserAppGuid, L"browser"}},
       true, L"frame"},
      {L"frame set, its key missing: product next", {false, true, false, false},
       {{kUser, kBrowserAppGuid, L"browser"}, {kUser, kMultiInstallAppGuid, L"multi"}},
       true, L"browser"},
      {L"multi-install clear: its value is not looked at", {false, false, false, false},
       {{kUser, kMultiInstallAppGuid, L"multi"}, {kUser, kFrameAppGuid, L"frame"},
        {kUser, kBrowserAppGuid, L"browser"}},
       true, L"browser"},
      {L"app host after a product without the value", {false, false, true, false},
       {{kUser, kBrowserAppGuid, L"", REG_SZ, true}, {kUser, kAppHostAppGuid, L"host"}},
       true, L"host"},
      {L"app host comes after the product", {false, false, true, false},
       {{kUser, kBrowserAppGuid, L"browser"}, {kUser, kAppHostAppGuid, L"host"}},
       true, L"browser"},
      {L"app host clear: not consulted", {false, false, false, false},
       {{kUser, kBrowserAppGuid, L"", REG_SZ, true}, {kUser, kAppHostAppGuid, L"host"}},
       false, L""},
      {L"system-level sees only HKLM", {false, false, false, true},
       {{kUser, kBrowserAppGuid, L"user"}}, false, L""},
      {L"system-level reads HKLM", {false, false, false, true},
       {{kUser, kBrowserAppGuid, L"user"}, {kMachine, kBrowserAppGuid, L"machine"}},
       true, L"machine"},
      {L"per-user never reads HKLM", {true, false, false, false},
       {{kMachine, kMultiInstallAppGuid, L"machine"}, {kUser, kBrowserAppGuid, L"user"}},
       true, L"user"},
      {L"REG_EXPAND_SZ moves to the next candidate", {true, false, false, false},
       {{kUser, kMultiInstallAppGuid, L"%ProgramFiles%\\multi", REG_EXPAND_SZ},
        {kUser, kBrowserAppGuid, L"browser"}},
       true, L"browser"},
      {L"a REG_DWORD moves to the next candidate", {false, false, true, false},
       {{kUser, kBrowserAppGuid, L"", REG_DWORD}, {kUser, kAppHostAppGuid, L"host"}},
       true, L"host"},
      {L"1040 characters do not fit", {false, false, true, false},
       {{kUser, kBrowserAppGuid, too_long}, {kUser, kAppHostAppGuid, L"host"}}, true, L"host"},
      {L"1039 characters fit", {false, false, true, false},
       {{kUser, kBrowserAppGuid, fits}, {kUser, kAppHostAppGuid, L"host"}}, true, fits},
      {L"an empty value counts as found", {false, false, true, false},
       {{kUser, kBrowserAppGuid, L""}, {kUser, kAppHostAppGuid, L"host"}}, true, L""},
      {L"nothing anywhere", {true, true, true, false}, {}, false, L""},
  };
  for (const Case& c : cases) {
    StateKeys keys;
    for (const Seed& s : c.seeds) {
      if (s.no_value) {
        SeedKey(s.root, s.guid);
      } else if (s.type == REG_DWORD) {
        DWORD value = 1;
        registry_test::SeedRaw(s.root, StateKeyPath(s.guid), L"UninstallString", REG_DWORD,
                               &value, sizeof value);
      } else {
        SeedString(s.root, StateKeyPath(s.guid), L"UninstallString", s.text, s.type);
      }
    }
    InstallerOptions options;
    options.multi_install = c.flags.multi_install;
    options.frame = c.flags.frame;
    options.app_host = c.flags.app_host;
    options.system_level = c.flags.system_level;

    CommandString command;
    for (std::uint32_t i = 0; i < command.capacity(); ++i) command[i] = L'#';
    const bool found = FindInstalledSetup(options, command, command.capacity());
    EXPECT_EQ(found, c.found) << c.label;
    EXPECT_EQ(command.guard(), L'\0') << c.label;
    if (found && c.found) {
      EXPECT_EQ(std::wstring(command.data()), c.command) << c.label;
    }
  }
}

TEST(FindInstalledSetup, UsesTheOptionsProduct) {
  StateKeys keys;
  SeedString(kUser, StateKeyPath(kBrowserAppGuid), L"UninstallString", L"browser");
  SeedString(kUser, StateKeyPath(kSideBySideAppGuid), L"UninstallString", L"sxs");
  InstallerOptions options;
  options.product_guid = kSideBySideAppGuid;
  CommandString command;
  ASSERT_TRUE(FindInstalledSetup(options, command, command.capacity()));
  EXPECT_STREQ(command.data(), L"sxs");
}

TEST(ReadUninstallString, ReadsOneProductUnderOneRoot) {
  StateKeys keys;
  SeedString(kMachine, StateKeyPath(kFrameAppGuid), L"UninstallString", L"frame --x");
  wchar_t buffer[16];
  EXPECT_TRUE(ReadUninstallString(true, kFrameAppGuid, buffer, 16));
  EXPECT_STREQ(buffer, L"frame --x");
  EXPECT_FALSE(ReadUninstallString(false, kFrameAppGuid, buffer, 16));
  EXPECT_FALSE(ReadUninstallString(true, kBrowserAppGuid, buffer, 16));
  EXPECT_FALSE(ReadUninstallString(true, kFrameAppGuid, buffer, 9));  // 9 units, no room
}

}  // namespace
