// DLLs planted next to the installer (the Downloads folder) and in its
// current directory must not be loaded. Wine prefers its built-in DLLs, so
// the test and its children are told to prefer native ones of the planted
// names (WINEDLLOVERRIDES "=n,b", set in dll_planting.cmake: kPlantedNames
// must match it); a control program shows that the planted copies are then
// found wherever nothing restricts the search.
//
// The names are ones this program loads after its start: uxtheme.dll (user32
// loads it for the corrupt-download notice), cabinet.dll (the setup
// expansion, by full path) and a few that system DLLs load on demand. Not
// planted: DLLs that Wine itself loads while resolving the static imports
// or in user32's start-up (version, win32u, zlib1, shcore, imm32) - they are
// loaded before the program's first instruction runs, out of its reach.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

const wchar_t* const kPlantedNames[] = {L"uxtheme.dll", L"cabinet.dll", L"dwmapi.dll",
                                        L"cryptbase.dll", L"comctl32.dll", L"winmm.dll"};

class DllPlanting : public ::testing::Test {
 protected:
  DllPlanting()
      : downloads_(root_ / L"Downloads"),
        current_(root_ / L"current"),
        markers_(root_ / L"markers"),
        temp_(root_ / L"temp"),
        marker_dir_(L"KAVO_PLANTED_MARKER_DIR", markers_),
        tmp_(L"TMP", temp_),
        temp_variable_(L"TEMP", temp_),
        record_(L"KAVO_SETUP_RECORD", root_ / L"record.txt"),
        exit_code_(L"KAVO_SETUP_EXIT_CODE", L"7"),
        no_hold_(L"KAVO_SETUP_HOLD_MS") {
    for (const std::wstring& folder : {downloads_, current_, markers_, temp_}) {
      CreateDirectoryW(folder.c_str(), nullptr);
    }
    for (const std::wstring& folder : {downloads_, current_}) {
      for (const wchar_t* name : kPlantedNames) {
        CopyFileW(BinaryPath(L"planted.dll").c_str(), (folder + L"\\" + name).c_str(), FALSE);
      }
    }
    GetCurrentDirectoryW(MAX_PATH, old_directory_);
    // Children inherit it: the planted copies there are in their current
    // directory too.
    SetCurrentDirectoryW(current_.c_str());
  }
  ~DllPlanting() override { SetCurrentDirectoryW(old_directory_); }

  // Copies a built program into the Downloads folder.
  std::wstring Download(const wchar_t* built, const wchar_t* name) {
    const std::wstring path = downloads_ + L"\\" + name;
    EXPECT_TRUE(CopyFileW(BinaryPath(built).c_str(), path.c_str(), FALSE));
    return path;
  }

  std::string Markers() { return JoinedNames(DirectoryEntries(markers_)); }

  // No product state before or after the runs.
  ScopedRegistryKey product_root_{HKEY_CURRENT_USER, L"Software\\KavoOrvane"};
  ScratchDirectory root_;
  std::wstring downloads_, current_, markers_, temp_;
  ScopedEnvironmentVariable marker_dir_, tmp_, temp_variable_, record_, exit_code_,
      no_hold_;
  wchar_t old_directory_[MAX_PATH] = L"";
};

TEST_F(DllPlanting, WithoutRestrictionAPlantedDllIsLoaded) {
  // The control: if this does not load the planted copy, the other tests
  // here would pass without proving anything.
  const std::wstring loader = Download(L"plain_loader.exe", L"plain_loader.exe");
  EXPECT_EQ(RunProcess(Quote(loader) + L" uxtheme.dll dwmapi.dll"), 2u);
  EXPECT_EQ(Markers(), "Downloads_dwmapi.dll.loaded Downloads_uxtheme.dll.loaded ");
}

TEST_F(DllPlanting, AnInstallingRunLoadsNoPlantedDll) {
  const std::wstring installer = Download(L"planting_installer.exe", L"KavoOrvaneSetup.exe");
  bool started = false;
  EXPECT_EQ(RunProcess(Quote(installer), 120000, &started), 7u);
  ASSERT_TRUE(started);
  // Setup ran, so the cabinet was expanded through cabinet.dll.
  EXPECT_NE(ReadFileBytes(root_ / L"record.txt").find("--install-archive="), std::string::npos);
  EXPECT_EQ(Markers(), "");
}

TEST_F(DllPlanting, TheCorruptDownloadNoticeLoadsNoPlantedDll) {
  const std::wstring installer =
      Download(L"planting_installer_corrupt.exe", L"KavoOrvaneSetup.exe");
  // The notice is closed, not confirmed: no download page is opened.
  ChildProcess answerer(Quote(BinaryPath(L"window_answerer.exe")) +
                          L" \"KavoOrvane\u5b89\u88c5\u7a0b\u5e8f\" " +
                          Quote(root_ / L"notice.txt") + L" --answer close --timeout 60000");
  ASSERT_TRUE(answerer.started());
  bool started = false;
  const DWORD code = RunProcess(Quote(installer), 120000, &started);
  EXPECT_EQ(answerer.Wait(60000), 0u) << "the notice was shown and answered";
  ASSERT_TRUE(started);
  EXPECT_EQ(code, 104u);
  EXPECT_EQ(ReadFileBytes(root_ / L"record.txt"), "") << "setup is not started";
  EXPECT_EQ(Markers(), "");
}

}  // namespace
