// The installer executable end to end: each packaged installer runs as a
// child process with its own temporary folder, and the test looks at what a
// user or the updater would see afterwards (exit code, setup's command line,
// the "ap" value, the files left behind, windows).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using kavo_test::BinaryPath;
using kavo_test::ChildProcess;
using kavo_test::DirectoryEntries;
using kavo_test::DirectoryExists;
using kavo_test::FileExists;
using kavo_test::HeldWindow;
using kavo_test::Narrow;
using kavo_test::Quote;
using kavo_test::ReadFileBytes;
using kavo_test::RunProcess;
using kavo_test::ScopedEnvironmentVariable;
using kavo_test::ScopedRegistryKey;
using kavo_test::ScratchDirectory;
using kavo_test::SplitCommandLine;
using kavo_test::Widen;
using kavo_test::WriteFileBytes;

const wchar_t kProductRoot[] = L"Software\\KavoOrvane";
const wchar_t kBrowserStateKey[] =
    L"Software\\KavoOrvane\\Update\\ClientState\\{5E0C1A27-3B8D-4f1a-9C6E-21D7A4B09E35}";
const wchar_t kSetupWindowTitle[] = L"KavoOrvane Install ";
const wchar_t kInstallerWindowTitle[] = L"\u5B89\u88C5KavoOrvane";  // 安装KavoOrvane
const wchar_t kNoticeCaption[] = L"KavoOrvane\u5B89\u88C5\u7A0B\u5E8F";
const wchar_t kNoticeText[] =
    L"\u60A8\u6B63\u5728\u4F7F\u7528\u7684\u5B89\u88C5\u7A0B\u5E8F\u662F\u4E0D\u5B8C\u6574\u7684"
    L"\uFF0C\u8BF7\u66F4\u6362\u4E0B\u8F7D\u5DE5\u5177\u91CD\u65B0\u4E0B\u8F7D\u5E76\u5B89\u88C5";
const wchar_t kDownloadPage[] = L"https://www.kavoorvane.com/download/";
constexpr DWORD kAlreadyRunning = 0xFFFFFFFF;  // exit code -1
constexpr DWORD kRunTimeoutMs = 60000;

bool IsWorkDirectoryName(const std::wstring& name) {
  static const std::wregex pattern(L"OV_[0-9A-F]{5}\\.tmp");
  return std::regex_match(name, pattern);
}

// The work directories (OV_xxxxx.tmp) that a folder holds.
std::vector<std::wstring> WorkDirectories(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (const std::wstring& name : DirectoryEntries(folder)) {
    if (IsWorkDirectoryName(name) && DirectoryExists(folder + L"\\" + name)) found.push_back(name);
  }
  return found;
}

template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
}

std::string WaitForFile(const std::wstring& path, DWORD timeout_ms) {
  if (!WaitUntil([&] { return FileExists(path); }, timeout_ms)) return std::string();
  return ReadFileBytes(path);
}

std::wstring Installer(const wchar_t* name) { return BinaryPath(name); }

// One installer run's surroundings: a temporary folder of its own (TMP and
// TEMP of the children), the product's registry tree absent before and
// after, the browser's state key with an "ap" tag, and setup's record.
class InstallerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.SetString(L"ap", L"stable");
  }

  // Runs the installer with the arguments (each after a blank) and returns
  // its exit code.
  DWORD Run(const std::wstring& installer, const std::wstring& arguments = std::wstring()) {
    bool started = false;
    const DWORD code = RunProcess(Quote(installer) + arguments, kRunTimeoutMs, &started);
    EXPECT_TRUE(started) << Narrow(installer);
    EXPECT_NE(code, static_cast<DWORD>(WAIT_TIMEOUT)) << "the installer did not end in time";
    return code;
  }

  std::wstring Ap() const {
    bool found = false;
    const std::wstring value = state_.GetString(L"ap", &found);
    return found ? value : L"<absent>";
  }

  // Setup's command lines, one per run of it.
  std::vector<std::wstring> SetupRuns() const {
    std::vector<std::wstring> lines;
    const std::wstring text = Widen(ReadFileBytes(record_));
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  // Leftovers of earlier runs that the sweep removes, and entries it leaves.
  void PlantSweepTargets(const std::wstring& folder) const {
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\OV_1A2B3.tmp").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\OV_1A2B3.tmp\\nested").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\OV_1A2B3.tmp\\nested\\setup.exe", "old"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\orvane_data").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\orvane_data\\ORVANE.PACKED.7Z", "old"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\OV_notes.txt", "not a directory"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\xOV_1").c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::vector<std::wstring> kAfterSweep{L"OV_notes.txt", L"xOV_1"};

  void KeepWorkFiles() const {
    product_root_.Create();
    product_root_.SetString(L"OrvaneInstallerCleanup", L"0");
  }

  // Bookkeeping outside the installer's temporary folder.
  ScratchDirectory notes_{L"kavo_e2e_notes"};
  const std::wstring record_ = notes_ / L"setup_record.txt";
  ScopedEnvironmentVariable record_variable_{L"KAVO_SETUP_RECORD", record_};
  ScopedEnvironmentVariable setup_exit_{L"KAVO_SETUP_EXIT_CODE"};

  ScratchDirectory temp_{L"kavo_e2e_temp"};
  ScopedEnvironmentVariable tmp_{L"TMP", temp_.path()};
  ScopedEnvironmentVariable temp_variable_{L"TEMP", temp_.path()};

  ScopedRegistryKey product_root_{HKEY_CURRENT_USER, kProductRoot};
  ScopedRegistryKey state_{HKEY_CURRENT_USER, kBrowserStateKey};
};

// A typical run: sweep, work directory, "ap" mark, setup with the archive
// and the user's arguments as typed, setup's exit code, nothing left.
TEST_F(InstallerRun, TypicalRunHandsTheArchiveToSetupAndExitsWithItsCode) {
  struct Case {
    const wchar_t* arguments;
    const wchar_t* setup_exit;
    DWORD expected;
  };
  const Case cases[] = {
      {L"", L"0", 0},
      {L" --foo \"a b\"  --make-default", L"7", 7},
      {L" --verbose", L"102", 102},
  };
  const std::wstring temp = temp_.path() + L"\\";
  const std::wregex setup_line(L"\"(.*)(OV_[0-9A-F]{5}\\.tmp)\\\\setup\\.exe\" "
                               L"--install-archive=\"(.*)(OV_[0-9A-F]{5}\\.tmp)\\\\"
                               L"ORVANE\\.PACKED\\.7Z\"(.*)");
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.arguments));
    DeleteFileW(record_.c_str());
    state_.SetString(L"ap", L"stable");
    PlantSweepTargets(temp_.path());
    ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", c.setup_exit);

    EXPECT_EQ(Run(Installer(L"installer_typical.exe"), c.arguments), c.expected);

    const std::vector<std::wstring> runs = SetupRuns();
    ASSERT_EQ(runs.size(), 1u);
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(runs[0], parts, setup_line)) << Narrow(runs[0]);
    EXPECT_EQ(lstrcmpiW(parts[1].str().c_str(), temp.c_str()), 0) << Narrow(parts[1].str());
    EXPECT_EQ(Narrow(parts[2].str()), Narrow(parts[4].str()));  // one work directory
    EXPECT_EQ(Narrow(parts[1].str()), Narrow(parts[3].str()));
    EXPECT_EQ(Narrow(parts[5].str()), Narrow(c.arguments));  // exactly as typed

    EXPECT_EQ(DirectoryEntries(temp_.path()), kAfterSweep);
    EXPECT_EQ(Ap(), L"stable-full");
  }
}

// 102, 103 and setup's own code: every path after the work directory ends
// in the final clean-up, and the switch "0" keeps the files instead.
TEST_F(InstallerRun, EveryOutcomeCleansUpUnlessTheSwitchKeepsTheFiles) {
  struct Case {
    const wchar_t* installer;
    DWORD expected;
    std::vector<std::wstring> kept;  // the work directory's files with "0"
    bool setup_runs;
  };
  const Case cases[] = {
      {L"installer_typical.exe", 7, {L"ORVANE.PACKED.7Z", L"setup.exe"}, true},
      {L"installer_no_archive.exe", 102, {}, false},
      {L"installer_bad_cabinet.exe", 102, {L"ORVANE.PACKED.7Z"}, false},
      {L"installer_bad_setup.exe", 103, {L"ORVANE.PACKED.7Z", L"SETUP.EXE"}, false},
  };
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"7");
  for (const Case& c : cases) {
    for (const bool keep : {false, true}) {
      SCOPED_TRACE(Narrow(c.installer) + (keep ? " keeping the files" : ""));
      DeleteFileW(record_.c_str());
      state_.SetString(L"ap", L"stable");
      if (keep) KeepWorkFiles();

      EXPECT_EQ(Run(Installer(c.installer)), c.expected);

      EXPECT_EQ(SetupRuns().size(), c.setup_runs ? 1u : 0u);
      // The mark comes before unpacking, so it is there whatever followed.
      EXPECT_EQ(Ap(), L"stable-full");
      const std::vector<std::wstring> left = WorkDirectories(temp_.path());
      if (!keep) {
        EXPECT_TRUE(left.empty()) << Narrow(left.empty() ? L"" : left[0]);
        EXPECT_TRUE(DirectoryEntries(temp_.path()).empty());
        continue;
      }
      ASSERT_EQ(left.size(), 1u);
      const std::wstring work = temp_ / left[0];
      EXPECT_EQ(DirectoryEntries(work), c.kept);
      if (c.setup_runs) {
        EXPECT_EQ(ReadFileBytes(work + L"\\ORVANE.PACKED.7Z"),
                  ReadFileBytes(BinaryPath(L"installer_data\\ORVANE.PACKED.7Z")));
        // Expanded from the cabinet byte for byte.
        EXPECT_EQ(ReadFileBytes(work + L"\\setup.exe"),
                  ReadFileBytes(BinaryPath(L"setup_double.exe")));
      }
      kavo_test::RemoveTree(work);
      // Anything but "0" removes the files again.
      product_root_.SetString(L"OrvaneInstallerCleanup", L"1");
    }
  }
}

// "--cleanup" anywhere, in any letter case: the sweep and nothing else.
TEST_F(InstallerRun, CleanupOptionOnlySweeps) {
  for (const wchar_t* arguments :
       {L" --cleanup", L" --CleanUp", L" --foo --CLEANUP --orvane-sxs"}) {
    SCOPED_TRACE(Narrow(arguments));
    PlantSweepTargets(temp_.path());

    EXPECT_EQ(Run(Installer(L"installer_typical.exe"), arguments), 0u);

    EXPECT_EQ(DirectoryEntries(temp_.path()), kAfterSweep);
    EXPECT_TRUE(SetupRuns().empty());
    EXPECT_EQ(Ap(), L"stable");
  }
}

// A folder of exactly length units (no trailing backslash) under parent.
std::wstring MakeFolderOfLength(const std::wstring& parent, size_t length) {
  std::wstring path = parent;
  while (path.size() < length) {
    const size_t left = length - path.size() - 1;  // after the backslash
    if (left == 0) {  // one unit short of a new level: lengthen the last one
      const std::wstring longer = path + L"x";
      if (!MoveFileW(path.c_str(), longer.c_str())) return std::wstring();
      path = longer;
      continue;
    }
    path += L"\\" + std::wstring(std::min<size_t>(left, 40), L'd');
    if (!CreateDirectoryW(path.c_str(), nullptr)) return std::wstring();
  }
  return path;
}

// 101 needs both the temporary folder and the executable's folder to be
// unusable; one usable folder is enough for a run.
TEST_F(InstallerRun, WorkDirectoryFallsBackToTheProgramFolderAndFailsWithoutBoth) {
  ScratchDirectory places(L"kavo_e2e_places", notes_.path());
  for (const wchar_t* folder : {L"t", L"e", L"s"})
    ASSERT_TRUE(CreateDirectoryW((places / folder).c_str(), nullptr));
  // 250 units, 251 with the backslash: no room for a work directory name.
  const std::wstring long_temp = MakeFolderOfLength(places / L"t", 250);
  ASSERT_EQ(long_temp.size(), 250u);
  // 248 units: the program's path (+ "\i.exe") fits in 260, a work
  // directory name beside it does not.
  const std::wstring long_folder = MakeFolderOfLength(places / L"e", 248);
  ASSERT_EQ(long_folder.size(), 248u);
  const std::wstring long_program = long_folder + L"\\i.exe";
  ASSERT_TRUE(CopyFileW(Installer(L"installer_typical.exe").c_str(), long_program.c_str(), FALSE));
  const std::wstring short_program = places / L"s\\inst.exe";
  ASSERT_TRUE(CopyFileW(Installer(L"installer_typical.exe").c_str(), short_program.c_str(), FALSE));

  struct Case {
    const char* what;
    std::wstring temp;
    std::wstring program;
    DWORD expected;
    std::wstring work_parent;  // where setup found its work directory
  };
  const Case cases[] = {
      {"temporary folder too long, program folder too long", long_temp, long_program, 101, L""},
      {"temporary folder missing, program folder too long", places / L"missing", long_program, 101,
       L""},
      {"temporary folder too long, program folder usable", long_temp, short_program, 7,
       places / L"s"},
      {"temporary folder usable, program folder too long", temp_.path(), long_program, 7,
       temp_.path()},
  };
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"7");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(record_.c_str());
    ScopedEnvironmentVariable tmp(L"TMP", c.temp);
    ScopedEnvironmentVariable temp(L"TEMP", c.temp);

    EXPECT_EQ(Run(c.program, L" --foo"), c.expected);

    const std::vector<std::wstring> runs = SetupRuns();
    if (c.work_parent.empty()) {
      EXPECT_TRUE(runs.empty());
      EXPECT_EQ(Ap(), L"stable");  // the mark needs a work directory first
    } else {
      ASSERT_EQ(runs.size(), 1u);
      const std::vector<std::wstring> args = SplitCommandLine(runs[0]);
      ASSERT_EQ(args.size(), 3u) << Narrow(runs[0]);
      const std::wstring work = args[0].substr(0, args[0].rfind(L'\\'));
      EXPECT_EQ(lstrcmpiW(work.substr(0, work.rfind(L'\\')).c_str(), c.work_parent.c_str()), 0)
          << Narrow(args[0]);
      EXPECT_TRUE(IsWorkDirectoryName(work.substr(work.rfind(L'\\') + 1))) << Narrow(args[0]);
      EXPECT_EQ(args[2], L"--foo");
      EXPECT_EQ(Ap(), L"stable-full");
    }
    EXPECT_TRUE(WorkDirectories(long_folder).empty());
    EXPECT_TRUE(WorkDirectories(places / L"s").empty());
    EXPECT_TRUE(WorkDirectories(temp_.path()).empty());
    state_.SetString(L"ap", L"stable");
  }
}

// Internet Explorer's executable in the prefix replaced by the recorder for
// the test; Wine's own is put back afterwards.
class BrowserStandIn {
 public:
  explicit BrowserStandIn(const std::wstring& record) : record_(L"KAVO_RECORD_FILE", record) {
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    browser_ = std::wstring(folder) + L"\\Internet Explorer\\iexplore.exe";
    backup_ = browser_ + L".kavo_e2e_backup";
    Restore();  // after an interrupted earlier run
    if (FileExists(browser_)) MoveFileExW(browser_.c_str(), backup_.c_str(), 0);
    browser_folder_ = std::wstring(folder) + L"\\Internet Explorer";
    created_folder_ = CreateDirectoryW(browser_folder_.c_str(), nullptr);
    installed_ = CopyFileW(BinaryPath(L"browser_recorder.exe").c_str(), browser_.c_str(), FALSE);
  }
  ~BrowserStandIn() {
    DeleteFileW(browser_.c_str());
    Restore();
    if (created_folder_) RemoveDirectoryW(browser_folder_.c_str());
  }
  BrowserStandIn(const BrowserStandIn&) = delete;
  BrowserStandIn& operator=(const BrowserStandIn&) = delete;
  bool installed() const { return installed_ != FALSE; }
  const std::wstring& path() const { return browser_; }

 private:
  void Restore() const {
    if (!FileExists(backup_)) return;
    DeleteFileW(browser_.c_str());
    MoveFileExW(backup_.c_str(), browser_.c_str(), 0);
  }
  ScopedEnvironmentVariable record_;
  std::wstring browser_;
  std::wstring backup_;
  std::wstring browser_folder_;
  BOOL created_folder_ = FALSE;
  BOOL installed_ = FALSE;
};

// 104: setup is not started, the notice is shown and answered, the
// download page is opened in the browser, and the files go (or stay).
// Answered with OK only: Wine's MessageBoxW gives IDCANCEL for a closed
// MB_OK box, where Windows gives IDOK, so no page follows there.
TEST_F(InstallerRun, WrongDigestShowsTheNoticeOpensTheDownloadPageAndNeverStartsSetup) {
  const std::wstring browser_record = notes_ / L"browser_record.txt";
  BrowserStandIn browser(browser_record);
  ASSERT_TRUE(browser.installed());
  struct Case {
    const wchar_t* answer;
    bool keep;
  };
  for (const Case& c : {Case{L"ok", false}, Case{L"ok", true}}) {
    SCOPED_TRACE(Narrow(c.answer) + (c.keep ? " keeping the files" : ""));
    DeleteFileW(browser_record.c_str());
    if (c.keep) KeepWorkFiles();
    const std::wstring report = notes_ / L"notice.txt";
    DeleteFileW(report.c_str());
    ChildProcess answerer(Quote(BinaryPath(L"window_answerer.exe")) + L" " + Quote(kNoticeCaption) +
                   L" " + Quote(report) + L" --expect " + Quote(kNoticeText) + L" --answer " +
                   c.answer + L" --timeout 30000");
    ASSERT_TRUE(answerer.started());

    EXPECT_EQ(Run(Installer(L"installer_wrong_digest.exe"), L" --foo"), 104u);

    EXPECT_EQ(answerer.Wait(10000), 0u);
    EXPECT_EQ(Widen(ReadFileBytes(report)), std::wstring(L"buttons=1\ntext=") + kNoticeText);
    const std::vector<std::wstring> args =
        SplitCommandLine(Widen(WaitForFile(browser_record, 20000)));
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(lstrcmpiW(args[0].c_str(), browser.path().c_str()), 0) << Narrow(args[0]);
    EXPECT_EQ(args[1], kDownloadPage);
    EXPECT_TRUE(SetupRuns().empty());
    EXPECT_EQ(Ap(), L"stable-full");

    const std::vector<std::wstring> left = WorkDirectories(temp_.path());
    if (c.keep) {
      ASSERT_EQ(left.size(), 1u);
      EXPECT_EQ(DirectoryEntries(temp_ / left[0]),
                (std::vector<std::wstring>{L"ORVANE.PACKED.7Z", L"setup.exe"}));
      kavo_test::RemoveTree(temp_ / left[0]);
    } else {
      EXPECT_TRUE(DirectoryEntries(temp_.path()).empty());
    }
  }
}

// A second copy while the first waits on setup: -1 at once, the installer
// window shown and brought forward, and no sweep, work directory or "ap"
// change of its own.
TEST_F(InstallerRun, SecondCopyBringsTheInstallerWindowForwardAndTouchesNothing) {
  for (const bool both_titles : {false, true}) {
    SCOPED_TRACE(both_titles ? "both titles open" : "setup's window only");
    DeleteFileW(record_.c_str());
    state_.SetString(L"ap", L"stable");

    HeldWindow setup_window(L"setup");
    HeldWindow other_window(L"other");
    std::unique_ptr<ChildProcess> first;
    {
      HeldWindow::Holding holding(setup_window);
      first = std::make_unique<ChildProcess>(Quote(Installer(L"installer_typical.exe")));
    }
    ASSERT_TRUE(first->started());
    ASSERT_TRUE(setup_window.WaitReady());
    std::unique_ptr<ChildProcess> other;
    if (both_titles) {
      // A window with the first title the guard looks for, from a stand-in
      // that records nothing.
      HeldWindow::Holding holding(other_window);
      ScopedEnvironmentVariable title(L"KAVO_SETUP_WINDOW_TITLE", kInstallerWindowTitle);
      ScopedEnvironmentVariable no_record(L"KAVO_SETUP_RECORD");
      other = std::make_unique<ChildProcess>(Quote(BinaryPath(L"setup_double.exe")));
      ASSERT_TRUE(other->started());
      ASSERT_TRUE(other_window.WaitReady());
    }

    const HWND setup = FindWindowW(nullptr, kSetupWindowTitle);
    ASSERT_NE(setup, nullptr);
    const HWND target = both_titles ? FindWindowW(nullptr, kInstallerWindowTitle) : setup;
    ASSERT_NE(target, nullptr);
    for (const HWND window : {setup, target}) {
      ShowWindow(window, SW_MINIMIZE);
      EXPECT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }, 5000));
    }
    // The first copy is in the middle of its run.
    ASSERT_EQ(WorkDirectories(temp_.path()).size(), 1u);
    ASSERT_EQ(Ap(), L"stable-full");
    state_.SetString(L"ap", L"second");

    // The second copy gets a temporary folder of its own, with leftovers
    // that a sweep would remove.
    ScratchDirectory second_temp(L"kavo_e2e_second", notes_.path());
    PlantSweepTargets(second_temp.path());
    const std::vector<std::wstring> planted = DirectoryEntries(second_temp.path());
    DWORD code = 0;
    ULONGLONG elapsed = 0;
    {
      ScopedEnvironmentVariable tmp(L"TMP", second_temp.path());
      ScopedEnvironmentVariable temp(L"TEMP", second_temp.path());
      const ULONGLONG start = GetTickCount64();
      code = Run(Installer(L"installer_typical.exe"), L" --foo");
      elapsed = GetTickCount64() - start;
    }
    EXPECT_EQ(code, kAlreadyRunning);
    EXPECT_EQ(first->Wait(0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first copy ended";

    EXPECT_TRUE(WaitUntil([&] { return IsIconic(target) == FALSE; }, 3000))
        << "the installer window is still minimised";
    EXPECT_TRUE(IsWindowVisible(target));
    EXPECT_EQ(GetForegroundWindow(), target);
    if (both_titles) {
      EXPECT_TRUE(IsIconic(setup)) << "the second title was not to be touched";
    }
    std::printf("[ second copy ] %s: exit after %llu ms; target iconic=%d visible=%d "
                "foreground=%s\n",
                both_titles ? "both titles" : "setup window", elapsed, IsIconic(target) ? 1 : 0,
                IsWindowVisible(target) ? 1 : 0,
                GetForegroundWindow() == target ? "target" : "other");

    EXPECT_EQ(DirectoryEntries(second_temp.path()), planted);
    EXPECT_EQ(Ap(), L"second");
    EXPECT_EQ(SetupRuns().size(), 1u);  // the first copy's setup only

    setup_window.Release();
    other_window.Release();
    EXPECT_EQ(first->Wait(30000), 0u);
    if (other) {
      EXPECT_EQ(other->Wait(30000), 0u);
    }
    EXPECT_TRUE(WorkDirectories(temp_.path()).empty());
  }
}

}  // namespace
