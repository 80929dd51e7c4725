// The installer executable when its surroundings break: every case runs the
// real program as a child, with TMP and TEMP set in this process, and looks
// at the exit code and at what is left on disk afterwards.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/workarea/workarea_test_support.h"

using namespace kavo_test;

namespace {

constexpr DWORD kSetupExitCode = 7;  // what the setup double is told to return
constexpr DWORD kExitUnpackFailed = 102;
constexpr DWORD kExitSetupFailed = 103;
constexpr DWORD kRunTimeoutMs = 120000;

const wchar_t kArchiveName[] = L"ORVANE.PACKED.7Z";

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

std::string Listing(const std::vector<std::wstring>& names) {
  std::string text;
  for (const std::wstring& name : names) text += " " + Narrow(name);
  return text.empty() ? " (nothing)" : text;
}

// The first work directory (OV_*) in folder, without a trailing backslash,
// or empty.
std::wstring WorkDirectoryIn(const std::wstring& folder) {
  for (const std::wstring& name : DirectoryEntries(folder)) {
    if (name.compare(0, 3, L"OV_") == 0) return folder + L"\\" + name;
  }
  return std::wstring();
}

// TMP and TEMP of this process, which the installer inherits.
struct TempFolderOverride {
  explicit TempFolderOverride(const std::wstring& folder)
      : tmp(L"TMP", folder), temp(L"TEMP", folder) {}
  ScopedEnvironmentVariable tmp;
  ScopedEnvironmentVariable temp;
};

// This program's own temporary folder, read before any test changes TMP.
std::wstring OwnTempFolder() {
  static const std::wstring folder = [] {
    std::wstring path = TempFolder();
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
  }();
  return folder;
}
// Read at start-up, before any test sets TMP.
const std::wstring kOwnTempFolder = OwnTempFolder();

// The setup double's settings: its exit code, and a record of every start
// in a folder of its own (never the temporary folder under test).
class SetupDoubleRecord {
 public:
  SetupDoubleRecord()
      : folder_(L"faults_record", OwnTempFolder()),
        record_(L"KAVO_SETUP_RECORD", folder_ / L"record.txt"),
        exit_code_(L"KAVO_SETUP_EXIT_CODE", std::to_wstring(kSetupExitCode)) {}
  std::string Text() const { return ReadFileBytes(folder_ / L"record.txt"); }
  bool SetupRan() const { return FileExists(folder_ / L"record.txt"); }
  void Clear() const { DeleteFileW((folder_ / L"record.txt").c_str()); }

 private:
  ScratchDirectory folder_;
  ScopedEnvironmentVariable record_;
  ScopedEnvironmentVariable exit_code_;
};

// One started installer. A run still going at destruction is killed.
class InstallerRun : public ChildProcess {
 public:
  explicit InstallerRun(const std::wstring& program, const std::wstring& arguments = L"")
      : ChildProcess(Quote(program) + arguments) {}
  DWORD Wait(DWORD timeout_ms = kRunTimeoutMs) const { return ChildProcess::Wait(timeout_ms); }
};

DWORD RunToEnd(const std::wstring& program, const std::wstring& arguments = L"") {
  InstallerRun run(program, arguments);
  EXPECT_TRUE(run.started()) << Narrow(program);
  return run.started() ? run.Wait() : 0xFFFFFFFFu;
}

// A folder whose entries even root cannot change: the immutable attribute,
// set and cleared through chattr. The fixture of these tests clears it as
// well, should a test die in between.
class ImmutableFolder {
 public:
  explicit ImmutableFolder(const std::wstring& path)
      : path_(path), unix_path_(workarea_test::UnixPathOf(path)) {
    if (unix_path_.empty() || unix_path_.find(' ') != std::string::npos) return;
    locked_ = Chattr("+i", L".locked");
    // Only a folder that refuses a new entry counts as locked.
    const std::wstring probe = path_ + L"\\probe";
    if (locked_ && CreateDirectoryW(probe.c_str(), nullptr)) {
      RemoveDirectoryW(probe.c_str());
      locked_ = false;
    }
  }
  ~ImmutableFolder() { Unlock(); }
  ImmutableFolder(const ImmutableFolder&) = delete;
  ImmutableFolder& operator=(const ImmutableFolder&) = delete;
  bool locked() const { return locked_; }
  void Unlock() {
    if (locked_) Chattr("-i", L".unlocked");
    locked_ = false;
  }

 private:
  // A Unix program started through Wine gives no usable exit code, so a
  // marker made after it shows that it is done.
  bool Chattr(const char* change, const wchar_t* marker_suffix) {
    const std::wstring marker = path_ + marker_suffix;
    const bool done = workarea_test::RunUnixShell(
        std::string("chattr ") + change + " " + unix_path_ + " && touch " + unix_path_ +
            Narrow(marker_suffix),
        marker, true);
    DeleteFileW(marker.c_str());
    return done;
  }

  std::wstring path_;
  std::string unix_path_;
  bool locked_ = false;
};

// Where the fixture lets a test lock folders, or empty when not run through
// CTest.
std::wstring LockableFolder() { return Variable(L"KAVO_FAULTS_LOCKABLE"); }

DWORD ResourceSize(const std::wstring& program, const wchar_t* name, const wchar_t* type) {
  const LoadedModule module(program, LOAD_LIBRARY_AS_DATAFILE);
  if (module.get() == nullptr) return 0;
  HRSRC resource = FindResourceW(module.get(), name, type);
  return resource != nullptr ? SizeofResource(module.get(), resource) : 0;
}

DWORD FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return data.nFileSizeLow;
}

ULONGLONG FreeBytes(const std::wstring& folder) {
  ULARGE_INTEGER available = {}, total = {}, free = {};
  if (!GetDiskFreeSpaceExW((folder + L"\\").c_str(), &available, &total, &free)) return 0;
  return available.QuadPart;
}

ULONGLONG RoundUpToPages(ULONGLONG bytes) { return (bytes + 4095) / 4096 * 4096; }

// A temporary folder on a small disk: whatever of the payload does not fit
// (the archive, the compressed setup program or setup.exe), the run ends
// with 102 and leaves nothing there.
TEST(Faults, FullDiskEndsWith102AndLeavesNothing) {
  const std::wstring disk = Variable(L"KAVO_FAULTS_TMPFS");
  if (disk.empty()) GTEST_SKIP() << "KAVO_FAULTS_TMPFS is not set: run the test through ctest";
  if (!FileExists(disk + L".mounted"))
    GTEST_SKIP() << "no small tmpfs could be mounted on this machine (mounting forbidden), "
                    "so the full disk cannot be made";

  const std::wstring small = BinaryPath(L"faults_installer.exe");
  const std::wstring large = BinaryPath(L"faults_installer_large.exe");
  const ULONGLONG archive = RoundUpToPages(ResourceSize(small, kArchiveName, L"B7"));
  const ULONGLONG cabinet = RoundUpToPages(ResourceSize(small, L"SETUP.EX_", L"BL"));
  const ULONGLONG setup = FileSize(BinaryPath(L"setup_double.exe"));
  ASSERT_GT(archive, 0u);
  ASSERT_GT(cabinet, 0u);
  ASSERT_GT(setup, 0u);
  ASSERT_TRUE(DirectoryEntries(disk).empty()) << Listing(DirectoryEntries(disk));
  const ULONGLONG capacity = FreeBytes(disk);
  // The large archive alone is more than the whole disk.
  ASSERT_GT(ResourceSize(large, kArchiveName, L"B7"), capacity);
  ASSERT_GT(capacity, archive + cabinet + setup) << "the small payload must fit the empty disk";

  struct Case {
    const char* label;
    std::wstring program;
    ULONGLONG room;  // bytes left free for the run; 0: the whole disk
  } cases[] = {
      {"the archive does not fit", large, 0},
      {"the compressed setup program does not fit", small, archive + cabinet / 2},
      {"setup.exe does not fit", small, archive + cabinet + RoundUpToPages(setup / 2)},
  };
  TempFolderOverride temp(disk);
  SetupDoubleRecord record;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring filler = disk + L"\\filler.bin";
    if (c.room != 0) {
      ASSERT_TRUE(WriteFileBytes(filler, std::string(capacity - c.room, 'f')));
      ASSERT_LE(FreeBytes(disk), c.room + 4096);
    }
    EXPECT_EQ(RunToEnd(c.program), kExitUnpackFailed);
    EXPECT_FALSE(record.SetupRan());
    const std::vector<std::wstring> left = DirectoryEntries(disk);
    const std::vector<std::wstring> expected =
        c.room != 0 ? std::vector<std::wstring>{L"filler.bin"} : std::vector<std::wstring>{};
    EXPECT_EQ(left, expected) << "left on the disk:" << Listing(left);
    const std::wstring work = WorkDirectoryIn(disk);
    if (!work.empty()) {
      ADD_FAILURE() << "left in " << Narrow(work) << ":" << Listing(DirectoryEntries(work));
      RemoveTree(work);
    }
    DeleteFileW(filler.c_str());
    record.Clear();
  }
}

// TMP and TEMP name a missing folder, a file, or a folder nobody may write
// to: the work directory is made in the executable's folder, setup runs
// from there, and the end of the run removes it again.
TEST(Faults, UnusableTemporaryFolderFallsBackToTheExecutablesFolder) {
  ScratchDirectory scratch(L"faults_tmp");
  const std::wstring program_folder = scratch / L"program";
  ASSERT_TRUE(CreateDirectoryW(program_folder.c_str(), nullptr));
  const std::wstring program = program_folder + L"\\faults_installer.exe";
  ASSERT_TRUE(CopyFileW(BinaryPath(L"faults_installer.exe").c_str(), program.c_str(), FALSE));
  const std::wstring file = scratch / L"a_file";
  ASSERT_TRUE(WriteFileBytes(file, "not a folder"));

  // Root passes every Unix permission check and Wine does not enforce
  // DACLs on files, so the folder without write access is an immutable one.
  std::wstring locked_path;
  std::unique_ptr<ImmutableFolder> locked;
  if (!LockableFolder().empty()) {
    locked_path = LockableFolder() + L"\\temp_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(locked_path.c_str(), nullptr));
    locked.reset(new ImmutableFolder(locked_path));
  }
  if (!locked || !locked->locked()) {
    std::printf("note: no folder could be made unwritable here; that case is not run\n");
  }

  struct Case {
    const char* label;
    std::wstring temp;
    bool run;
  } cases[] = {
      {"missing folder", scratch / L"missing", true},
      {"a file", file, true},
      {"a folder without write access", locked_path, locked && locked->locked()},
  };
  SetupDoubleRecord record;
  for (const Case& c : cases) {
    if (!c.run) continue;
    SCOPED_TRACE(c.label);
    TempFolderOverride temp(c.temp);
    EXPECT_EQ(RunToEnd(program), kSetupExitCode);
    // Setup was started from a work directory in the program's folder.
    const std::string expected_start = "\"" + Narrow(program_folder) + "\\OV_";
    EXPECT_EQ(record.Text().compare(0, expected_start.size(), expected_start), 0)
        << record.Text();
    EXPECT_EQ(DirectoryEntries(program_folder), std::vector<std::wstring>{L"faults_installer.exe"})
        << Listing(DirectoryEntries(program_folder));
    record.Clear();
  }
  // The temporary folders are as they were.
  EXPECT_FALSE(FileExists(scratch / L"missing"));
  EXPECT_EQ(ReadFileBytes(file), "not a folder");
  if (locked && locked->locked()) {
    EXPECT_TRUE(DirectoryEntries(locked_path).empty());
    locked->Unlock();
    RemoveDirectoryW(locked_path.c_str());
  }
}

// A stale work directory holding a file that another process has open
// without sharing: the sweep removes everything else, the run goes on, and
// once the file is closed a later sweep takes the rest.
TEST(Faults, SweepSkipsAFileInUseAndTheRunGoesOn) {
  ScratchDirectory temp_folder(L"faults_stale");
  const std::wstring stale = temp_folder / L"OV_1A2B3.tmp";
  ASSERT_TRUE(workarea_test::CreateDirectories(stale + L"\\sub"));
  ASSERT_TRUE(WriteFileBytes(stale + L"\\busy.bin", "busy"));
  ASSERT_TRUE(WriteFileBytes(stale + L"\\loose.bin", "loose"));
  ASSERT_TRUE(WriteFileBytes(stale + L"\\sub\\deep.bin", "deep"));
  ASSERT_TRUE(workarea_test::CreateDirectories(temp_folder / L"orvane_old"));
  ASSERT_TRUE(WriteFileBytes(temp_folder / L"orvane_old\\old.bin", "old"));
  HANDLE busy = CreateFileW((stale + L"\\busy.bin").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);

  TempFolderOverride temp(temp_folder.path());
  SetupDoubleRecord record;
  EXPECT_EQ(RunToEnd(BinaryPath(L"faults_installer.exe")), kSetupExitCode);
  EXPECT_TRUE(record.SetupRan());
  // Only the file in use and the folder holding it are left; the run's own
  // work directory is gone as well.
  EXPECT_EQ(DirectoryEntries(temp_folder.path()), std::vector<std::wstring>{L"OV_1A2B3.tmp"})
      << Listing(DirectoryEntries(temp_folder.path()));
  EXPECT_EQ(DirectoryEntries(stale), std::vector<std::wstring>{L"busy.bin"}) << Listing(DirectoryEntries(stale));

  CloseHandle(busy);
  EXPECT_EQ(RunToEnd(BinaryPath(L"faults_installer.exe"), L" --cleanup"), 0u);
  EXPECT_TRUE(DirectoryEntries(temp_folder.path()).empty()) << Listing(DirectoryEntries(temp_folder.path()));
}

// A stale work directory with a folder inside that nobody may change (as
// root under Wine, neither permissions nor DACLs can keep the sweep out of a
// folder; an immutable one cannot be emptied or removed even by root).
TEST(Faults, SweepSkipsAFolderItCannotChangeAndTheRunGoesOn) {
  if (LockableFolder().empty()) GTEST_SKIP() << "KAVO_FAULTS_LOCKABLE is not set: run through ctest";
  const std::wstring temp_folder =
      LockableFolder() + L"\\stale_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring stale = temp_folder + L"\\OV_4C5D6.tmp";
  const std::wstring frozen = stale + L"\\frozen";
  ASSERT_TRUE(workarea_test::CreateDirectories(frozen));
  ASSERT_TRUE(WriteFileBytes(frozen + L"\\kept.bin", "kept"));
  ASSERT_TRUE(WriteFileBytes(stale + L"\\loose.bin", "loose"));
  struct RemoveAtEnd {
    std::wstring path;
    ~RemoveAtEnd() { RemoveTree(path); }
  } remove_at_end{temp_folder};
  ImmutableFolder lock(frozen);
  if (!lock.locked()) GTEST_SKIP() << "the immutable attribute cannot be set here (chattr)";

  TempFolderOverride temp(temp_folder);
  SetupDoubleRecord record;
  EXPECT_EQ(RunToEnd(BinaryPath(L"faults_installer.exe")), kSetupExitCode);
  EXPECT_TRUE(record.SetupRan());
  EXPECT_EQ(DirectoryEntries(temp_folder), std::vector<std::wstring>{L"OV_4C5D6.tmp"})
      << Listing(DirectoryEntries(temp_folder));
  EXPECT_EQ(DirectoryEntries(stale), std::vector<std::wstring>{L"frozen"}) << Listing(DirectoryEntries(stale));
  EXPECT_EQ(DirectoryEntries(frozen), std::vector<std::wstring>{L"kept.bin"});

  lock.Unlock();
  EXPECT_EQ(RunToEnd(BinaryPath(L"faults_installer.exe"), L" --cleanup"), 0u);
  EXPECT_TRUE(DirectoryEntries(temp_folder).empty()) << Listing(DirectoryEntries(temp_folder));
}

// Another process (a virus scanner, say) holds setup.exe open without
// sharing when it is to be started: 103, and the end of the run still
// deletes what it can. The work directory's name is not known in advance,
// so setup.exe is caught as soon as the expansion has closed it; the digest
// of the large archive, computed after that, keeps the window open.
TEST(Faults, SetupHeldOpenEndsWith103AndTheCleanUpStillRuns) {
  ScratchDirectory temp_folder(L"faults_held");
  TempFolderOverride temp(temp_folder.path());
  SetupDoubleRecord record;
  const std::wstring program = BinaryPath(L"faults_installer_large.exe");

  constexpr int kTries = 3;
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    InstallerRun run(program);
    ASSERT_TRUE(run.started());
    HANDLE held = INVALID_HANDLE_VALUE;
    std::wstring work;
    const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
    while (held == INVALID_HANDLE_VALUE && !run.Ended() && GetTickCount64() < deadline) {
      if (work.empty()) work = WorkDirectoryIn(temp_folder.path());
      if (!work.empty()) {
        // Fails while the expansion still has the file open for writing.
        held = CreateFileW((work + L"\\setup.exe").c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      }
      if (held == INVALID_HANDLE_VALUE) Sleep(1);
    }
    if (held == INVALID_HANDLE_VALUE) {
      // Too late: setup was already started. Sweep and try again.
      std::printf("note: attempt %d did not catch setup.exe before its start\n", attempt);
      run.Wait();
      record.Clear();
      RunToEnd(program, L" --cleanup");
      continue;
    }
    const DWORD code = run.Wait();
    const bool archive_left = FileExists(work + L"\\" + kArchiveName);
    const bool setup_left = FileExists(work + L"\\setup.exe");
    CloseHandle(held);

    EXPECT_EQ(code, kExitSetupFailed);
    EXPECT_FALSE(record.SetupRan()) << record.Text();
    // The clean-up ran: the archive is gone; setup.exe stays while held,
    // and with it the directory.
    EXPECT_FALSE(archive_left);
    EXPECT_TRUE(setup_left);
    // Once the file is free, the next run's sweep takes the rest.
    EXPECT_EQ(RunToEnd(program, L" --cleanup"), 0u);
    EXPECT_TRUE(DirectoryEntries(temp_folder.path()).empty()) << Listing(DirectoryEntries(temp_folder.path()));
    return;
  }
  FAIL() << "setup.exe was never caught between its writing and its start in " << kTries
         << " runs";
}

// The process id of a child of parent, or 0.
DWORD ChildProcessOf(DWORD parent) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  DWORD child = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && child == 0;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent)
      child = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return child;
}

// The installer is killed while setup runs, so its clean-up never happens:
// the next run's sweep removes what it left, and that run installs as usual.
TEST(Faults, RunKilledWhileSetupRunsIsSweptByTheNextRun) {
  ScratchDirectory temp_folder(L"faults_killed");
  TempFolderOverride temp(temp_folder.path());
  SetupDoubleRecord record;
  const std::wstring program = BinaryPath(L"faults_installer.exe");
  {
    HeldWindow setup_window(L"faults");
    HeldWindow::Holding holding(setup_window);

    InstallerRun run(program);
    ASSERT_TRUE(run.started());
    const bool setup_ready = setup_window.WaitReady(60000);
    HANDLE setup = nullptr;
    if (setup_ready) {
      const DWORD setup_id = ChildProcessOf(run.id());
      if (setup_id != 0) setup = OpenProcess(SYNCHRONIZE, FALSE, setup_id);
      run.Kill();
    }
    setup_window.Release();
    if (setup != nullptr) {
      EXPECT_EQ(WaitForSingleObject(setup, 60000), WAIT_OBJECT_0);
      CloseHandle(setup);
    }
    ASSERT_TRUE(setup_ready) << "setup never started";
    ASSERT_NE(setup, nullptr) << "setup's process was not found";
  }
  const std::wstring left = WorkDirectoryIn(temp_folder.path());
  ASSERT_FALSE(left.empty()) << Listing(DirectoryEntries(temp_folder.path()));
  EXPECT_EQ(DirectoryEntries(left), (std::vector<std::wstring>{kArchiveName, L"setup.exe"}))
      << Listing(DirectoryEntries(left));

  record.Clear();
  EXPECT_EQ(RunToEnd(program), kSetupExitCode);
  EXPECT_TRUE(record.SetupRan());
  EXPECT_TRUE(DirectoryEntries(temp_folder.path()).empty()) << Listing(DirectoryEntries(temp_folder.path()));
}

}  // namespace
