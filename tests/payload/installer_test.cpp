#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

TEST(PackagedInstaller, IsAGuiProgramWithItsExtraResources) {
  const std::string image = ReadFileBytes(BinaryPath(L"payload_installer.exe"));
  ASSERT_GT(image.size(), 0x200u);
  std::uint32_t pe = 0;
  std::memcpy(&pe, image.data() + 0x3C, 4);
  ASSERT_LT(pe + 0x60u, image.size());
  ASSERT_EQ(image.substr(pe, 4), std::string("PE\0\0", 4));
  std::uint16_t subsystem = 0;
  std::memcpy(&subsystem, image.data() + pe + 24 + 68, 2);  // optional header + 68
  EXPECT_EQ(subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  const kavo_test::LoadedModule loaded(BinaryPath(L"payload_installer.exe"),
                                       LOAD_LIBRARY_AS_DATAFILE);
  const HMODULE module = loaded.get();
  ASSERT_NE(module, nullptr);
  wchar_t text[64] = L"";
  EXPECT_GT(LoadStringW(module, 131, text, 64), 0);
  EXPECT_STREQ(text, L"extra resources present");
  HRSRC extra = FindResourceW(module, MAKEINTRESOURCEW(201), MAKEINTRESOURCEW(10));  // RT_RCDATA
  ASSERT_NE(extra, nullptr);
  // Found through the include path: the .rc names it relative to itself.
  const std::string bytes(static_cast<const char*>(LockResource(LoadResource(module, extra))),
                          SizeofResource(module, extra));
  EXPECT_EQ(bytes, ReadFileBytes(BinaryPath(L"payload_data\\second.bin")));
}

TEST(PackagedInstaller, UnpacksItselfAndRunsSetup) {
  ScratchDirectory work;
  const std::wstring dir = work.path() + L"\\";
  ScopedEnvironmentVariable probe(L"KAVO_PROBE_WORK", dir);
  ScopedEnvironmentVariable record(L"KAVO_SETUP_RECORD", work / L"record.txt");
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"7");
  bool started = false;
  EXPECT_EQ(RunProcess(Quote(BinaryPath(L"payload_installer.exe")) + L" --foo", 120000, &started),
            7u);
  ASSERT_TRUE(started);
  EXPECT_EQ(ReadFileBytes(work / L"record.txt"),
            Narrow(Quote(dir + L"setup.exe") + L" --install-archive=\"" + dir +
                   L"ORVANE.PACKED.7Z\" --foo\n"));
  EXPECT_EQ(ReadFileBytes(dir + L"ORVANE.PACKED.7Z"),
            ReadFileBytes(BinaryPath(L"payload_data\\archive.7z")));
}

}  // namespace
