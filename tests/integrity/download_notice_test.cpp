#include "integrity/download_notice.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/bounded_string.h"
#include "tests/support/test_support.h"

namespace {

using kavo_test::BinaryPath;
using kavo_test::ChildProcess;
using kavo_test::FileExists;
using kavo_test::Narrow;
using kavo_test::Quote;
using kavo_test::ReadFileBytes;
using kavo_test::ScopedEnvironmentVariable;
using kavo_test::ScratchDirectory;
using kavo_test::SplitCommandLine;
using kavo_test::Widen;

const wchar_t kAppPathsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";

std::string WaitForFile(const std::wstring& path, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (!FileExists(path)) {
    if (GetTickCount64() >= deadline) return std::string();
    Sleep(20);
  }
  return ReadFileBytes(path);
}

TEST(ShowCorruptDownloadNotice, ShowsTheNoticeWithOneOkButtonAndReturnsTheAnswer) {
  // Written out here on its own, not taken from the product's constant.
  const std::wstring text =
      L"\u60A8\u6B63\u5728\u4F7F\u7528\u7684\u5B89\u88C5\u7A0B\u5E8F\u662F\u4E0D\u5B8C\u6574\u7684"
      L"\uFF0C\u8BF7\u66F4\u6362\u4E0B\u8F7D\u5DE5\u5177\u91CD\u65B0\u4E0B\u8F7D\u5E76\u5B89\u88C5";
  const std::wstring caption = L"KavoOrvane\u5B89\u88C5\u7A0B\u5E8F";
  ASSERT_EQ(text.size(), 30u);
  EXPECT_EQ(kCorruptDownloadText, text);
  EXPECT_EQ(kCorruptDownloadCaption, caption);

  ScratchDirectory folder(L"kavo_notice");
  const std::wstring report = folder / L"report.txt";
  ChildProcess answerer(Quote(BinaryPath(L"window_answerer.exe")) + L" " + Quote(caption) + L" " +
                        Quote(report) + L" --expect " + Quote(text) + L" --timeout 30000");
  ASSERT_TRUE(answerer.started());

  EXPECT_EQ(ShowCorruptDownloadNotice(), IDOK);
  EXPECT_EQ(answerer.Wait(30000), 0u);
  EXPECT_EQ(Widen(ReadFileBytes(report)), L"buttons=1\ntext=" + text);
}

// Saves the default value of root\key (and whether the key was there) and
// puts it back at destruction.
class SavedDefaultValue {
 public:
  SavedDefaultValue(HKEY root, const wchar_t* key) : root_(root), key_(key) {
    HKEY handle = nullptr;
    had_key_ = RegOpenKeyExW(root_, key_, 0, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS;
    if (!had_key_) return;
    DWORD bytes = sizeof value_;
    had_value_ = RegQueryValueExW(handle, L"", nullptr, &type_, value_, &bytes) == ERROR_SUCCESS;
    bytes_ = bytes;
    RegCloseKey(handle);
  }
  ~SavedDefaultValue() {
    if (!had_key_) {
      RegDeleteTreeW(root_, key_);
      RegDeleteKeyW(root_, key_);
      return;
    }
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root_, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
      return;
    if (had_value_) {
      RegSetValueExW(handle, L"", 0, type_, value_, bytes_);
    } else {
      RegDeleteValueW(handle, L"");
    }
    RegCloseKey(handle);
  }
  SavedDefaultValue(const SavedDefaultValue&) = delete;
  SavedDefaultValue& operator=(const SavedDefaultValue&) = delete;

  // Sets the default value; null removes it.
  void Set(const wchar_t* value) const {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root_, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    if (value == nullptr) {
      RegDeleteValueW(handle, L"");
    } else {
      RegSetValueExW(handle, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(handle);
  }

 private:
  HKEY root_;
  const wchar_t* key_;
  bool had_key_ = false;
  bool had_value_ = false;
  DWORD type_ = 0;
  BYTE value_[2048] = {};
  DWORD bytes_ = 0;
};

// Puts Wine's iexplore.exe aside (or a copy of the recorder in its place) and
// brings it back; saves and restores the App Paths default value.
class DownloadPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE));
    browser_ = std::wstring(folder) + L"\\Internet Explorer\\iexplore.exe";
    backup_ = browser_ + L".kavo_test_backup";
    RestoreBrowser();  // after an interrupted earlier run
    had_browser_ = FileExists(browser_);
    if (had_browser_) {
      ASSERT_TRUE(MoveFileExW(browser_.c_str(), backup_.c_str(), 0));
    }

    SetAppPath(nullptr);
  }

  void TearDown() override { RestoreBrowser(); }

  void RestoreBrowser() {
    if (!FileExists(backup_)) return;
    DeleteFileW(browser_.c_str());
    MoveFileExW(backup_.c_str(), browser_.c_str(), 0);
  }

  void SetAppPath(const wchar_t* value) const { app_paths_.Set(value); }

  void InstallRecorderAsBrowser() {
    ASSERT_TRUE(CopyFileW(BinaryPath(L"browser_recorder.exe").c_str(), browser_.c_str(), FALSE));
  }
  std::wstring RecorderCopy(const std::wstring& name) {
    const std::wstring path = folder_ / name;
    EXPECT_TRUE(CopyFileW(BinaryPath(L"browser_recorder.exe").c_str(), path.c_str(), FALSE));
    return path;
  }

  ScratchDirectory folder_{L"kavo_browser"};
  const std::wstring record_ = folder_ / L"record.txt";
  ScopedEnvironmentVariable record_variable_{L"KAVO_RECORD_FILE", record_};
  std::wstring browser_;
  std::wstring backup_;
  bool had_browser_ = false;
  SavedDefaultValue app_paths_{HKEY_LOCAL_MACHINE, kAppPathsKey};
};

const wchar_t kAddress[] = L"https://www.kavoorvane.com/download/?from=stub&v=1";

TEST_F(DownloadPageTest, StartsIexploreFromProgramFilesWithTheAddress) {
  InstallRecorderAsBrowser();
  // Not consulted while Program Files has the browser.
  const std::wstring other = RecorderCopy(L"other_browser.exe");
  SetAppPath(other.c_str());

  EXPECT_TRUE(OpenDownloadPage(kAddress));
  const std::vector<std::wstring> args = SplitCommandLine(Widen(WaitForFile(record_, 20000)));
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(lstrcmpiW(args[0].c_str(), browser_.c_str()), 0) << Narrow(args[0]);
  EXPECT_EQ(args[1], kAddress);
}

TEST_F(DownloadPageTest, StartsTheAppPathsBrowserWhenProgramFilesHasNone) {
  const std::wstring other = RecorderCopy(L"app_paths_browser.exe");
  SetAppPath(other.c_str());

  EXPECT_TRUE(OpenDownloadPage(kDownloadPageUrl));
  const std::vector<std::wstring> args = SplitCommandLine(Widen(WaitForFile(record_, 20000)));
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(lstrcmpiW(args[0].c_str(), other.c_str()), 0) << Narrow(args[0]);
  EXPECT_EQ(args[1], L"https://www.kavoorvane.com/download/");
}

// Neither a Program Files browser nor a usable App Paths value: the
// automation object is tried. Wine registers Internet Explorer's class as a
// local server (iexplore.exe), which is gone here, so creating it fails:
// false, and nothing is started.
TEST_F(DownloadPageTest, FallsBackToTheAutomationObject) {
  const std::wstring other = RecorderCopy(L"quoted_browser.exe");
  for (const std::wstring& value : {std::wstring(), Quote(other), other + L" -nohome"}) {
    if (value.empty()) {
      SetAppPath(nullptr);
    } else {
      SetAppPath(value.c_str());
    }
    EXPECT_FALSE(OpenDownloadPage(kAddress)) << Narrow(value);
    EXPECT_TRUE(WaitForFile(record_, 1500).empty()) << Narrow(value);
  }
}

TEST_F(DownloadPageTest, AnEmptyAddressStartsNothing) {
  InstallRecorderAsBrowser();
  EXPECT_FALSE(OpenDownloadPage(L""));
  EXPECT_FALSE(OpenDownloadPage(nullptr));
  EXPECT_TRUE(WaitForFile(record_, 1500).empty());
}

}  // namespace
