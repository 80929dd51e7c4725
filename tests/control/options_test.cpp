#include "control/options.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Flags {
  const wchar_t* product;
  std::uint32_t operation;
  bool frame, app_host, multi_install, system_level;
};

void ExpectFlags(const InstallerOptions& o, const Flags& f, const std::wstring& label) {
  EXPECT_EQ(std::wstring(o.product_guid), std::wstring(f.product)) << label;
  EXPECT_EQ(o.product_guid, f.product) << label << ": must point at the constant itself";
  EXPECT_EQ(o.operation, f.operation) << label;
  EXPECT_EQ(o.frame, f.frame) << label;
  EXPECT_EQ(o.app_host, f.app_host) << label;
  EXPECT_EQ(o.multi_install, f.multi_install) << label;
  EXPECT_EQ(o.system_level, f.system_level) << label;
}

TEST(ProductGuids, AreExactlyAsWritten) {
  EXPECT_STREQ(kBrowserAppGuid, L"{5E0C1A27-3B8D-4f1a-9C6E-21D7A4B09E35}");
  EXPECT_STREQ(kSideBySideAppGuid, L"{0b7d3e91-6a2c-4f58-a1e4-7c93d05b2f16}");
  EXPECT_STREQ(kFrameAppGuid, L"{A4C72F09-81D6-4B3E-9F05-3E6B18C7D42A}");
  EXPECT_STREQ(kMultiInstallAppGuid, L"{62E9B4D1-0F7A-4c2b-8D36-B5A0E1F94C87}");
  EXPECT_STREQ(kAppHostAppGuid, L"{D83F5A12-C6E0-4e7d-A9B4-07F2C3D615E8}");
  for (const wchar_t* g : {kBrowserAppGuid, kSideBySideAppGuid, kFrameAppGuid,
                           kMultiInstallAppGuid, kAppHostAppGuid}) {
    EXPECT_EQ(std::wstring(g).size(), 38u);
  }
}

TEST(InstallerOptions, DefaultsAndProgramNameBeforeAParse) {
  InstallerOptions o;
  EXPECT_EQ(o.argv, nullptr);
  EXPECT_EQ(o.argc, 0);
  EXPECT_EQ(o.command_line, nullptr);
  EXPECT_EQ(o.ProgramName(), nullptr);
  ExpectFlags(o, {kBrowserAppGuid, kOperationInstall, false, false, false, false}, L"new");
}

TEST(InstallerOptions, ParsesThroughCommandLineToArgvW) {
  const Flags none = {kBrowserAppGuid, kOperationInstall, false, false, false, false};
  struct Case { const wchar_t* line; Flags flags; } cases[] = {
      {L"inst.exe", none},
      {L"inst.exe --SYSTEM-LEVEL", {kBrowserAppGuid, kOperationInstall, false, false, false, true}},
      {L"inst.exe --System-Level", {kBrowserAppGuid, kOperationInstall, false, false, false, true}},
      // Values, single hyphens and slashes are not the option.
      {L"inst.exe --system-level=1 -system-level /system-level --system-levelx", none},
      // Quotes are removed before the comparison.
      {L"inst.exe \"--system-level\"", {kBrowserAppGuid, kOperationInstall, false, false, false, true}},
      // The program name is never compared.
      {L"--system-level", none},
      {L"\"--cleanup\" foo", none},
      {L"inst.exe --orvane-sxs --orvane-sxs", {kSideBySideAppGuid, kOperationInstall, false, false, false, false}},
      {L"inst.exe --orvane-frame --orvane-sxs", {kSideBySideAppGuid, kOperationInstall, true, false, false, false}},
      {L"inst.exe --orvane-frame", {kBrowserAppGuid, kOperationInstall, true, false, false, false}},
      {L"inst.exe --app-host", {kBrowserAppGuid, kOperationInstall, false, true, false, false}},
      {L"inst.exe --APP-LAUNCHER --app-host", {kBrowserAppGuid, kOperationInstall, false, true, false, false}},
      {L"inst.exe --multi-install", {kBrowserAppGuid, kOperationInstall, false, false, true, false}},
      {L"inst.exe --CleanUp", {kBrowserAppGuid, kOperationCleanup, false, false, false, false}},
      {L"inst.exe --system-level --cleanup --multi-install",
       {kBrowserAppGuid, kOperationCleanup, false, false, true, true}},
      {L"\"C:\\Program Files\\inst.exe\" --unknown \"two words\" --orvane-frame",
       {kBrowserAppGuid, kOperationInstall, true, false, false, false}},
  };
  for (const Case& c : cases) {
    InstallerOptions o;
    ASSERT_TRUE(o.ParseCommandLine(c.line)) << c.line;
    EXPECT_EQ(o.command_line, c.line);
    ExpectFlags(o, c.flags, c.line);
  }
}

TEST(InstallerOptions, ProgramNameAndArgumentsComeFromTheSplit) {
  InstallerOptions o;
  const wchar_t* line = L"\"C:\\Program Files\\inst.exe\" --foo \"a b\"";
  ASSERT_TRUE(o.ParseCommandLine(line));
  EXPECT_EQ(o.argc, 3);
  EXPECT_STREQ(o.ProgramName(), L"C:\\Program Files\\inst.exe");
  EXPECT_STREQ(o.argv[2], L"a b");
}

TEST(InstallerOptions, FlagsAreNeverClearedWithinAParse) {
  InstallerOptions o;
  ASSERT_TRUE(o.ParseCommandLine(
      L"inst.exe --system-level --orvane-frame --app-host --multi-install --other --x"));
  ExpectFlags(o, {kBrowserAppGuid, kOperationInstall, true, true, true, true}, L"all");
}

TEST(InstallerOptions, ASecondParseStartsFromTheDefaults) {
  InstallerOptions o;
  ASSERT_TRUE(o.ParseCommandLine(L"inst.exe --system-level --orvane-sxs --cleanup"));
  ASSERT_TRUE(o.ParseCommandLine(L"inst.exe --app-host"));
  ExpectFlags(o, {kBrowserAppGuid, kOperationInstall, false, true, false, false}, L"second");
  EXPECT_EQ(o.argc, 2);

  o.Reset();
  EXPECT_EQ(o.argv, nullptr);
  EXPECT_EQ(o.ProgramName(), nullptr);
  EXPECT_EQ(o.command_line, nullptr);
}

TEST(InstallerOptions, ParseOptionsReadsTheProcessCommandLine) {
  InstallerOptions o;
  ASSERT_TRUE(o.ParseOptions());
  EXPECT_EQ(o.command_line, GetCommandLineW());
  EXPECT_GE(o.argc, 1);
  EXPECT_NE(o.ProgramName(), nullptr);
}

}  // namespace
