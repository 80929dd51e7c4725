#include "setup/setup_launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

// A copy of this program started with KAVO_PROBE_SETUP set hands its own
// command line to setup the way the installer does, then exits with setup's
// code (200 when setup could not be run). This is how the parts that depend
// on the executable's own name are tried under names such as inst.exe.
bool RunProbeIfAsked() {
  wchar_t setup[MAX_PATH], archive[MAX_PATH];
  if (GetEnvironmentVariableW(L"KAVO_PROBE_SETUP", setup, MAX_PATH) == 0) return false;
  if (GetEnvironmentVariableW(L"KAVO_PROBE_ARCHIVE", archive, MAX_PATH) == 0) ExitProcess(201);
  InstallerOptions options;
  if (!options.ParseOptions()) ExitProcess(202);
  DWORD code = 0;
  const bool ran = RunSetupForInstall(options, archive, setup, &code);
  ExitProcess(ran ? code : 200);
}
const bool g_probe = RunProbeIfAsked();

class SetupFixture : public ::testing::Test {
 protected:
  SetupFixture()
      : record_(L"KAVO_SETUP_RECORD", work_ / L"record.txt"),
        no_exit_code_(L"KAVO_SETUP_EXIT_CODE"),
        no_hold_(L"KAVO_SETUP_HOLD_MS") {
    setup_ = BinaryPath(L"setup_double.exe");
    archive_ = work_ / L"ORVANE.PACKED.7Z";
  }
  std::wstring Recorded() {
    std::wstring text = Widen(ReadFileBytes(work_ / L"record.txt"));
    DeleteFileW((work_ / L"record.txt").c_str());
    return text;
  }
  // What setup sees before the user's arguments.
  std::wstring Head() {
    return Quote(setup_) + L" --install-archive=\"" + archive_ + L"\"";
  }

  ScratchDirectory work_;
  ScopedEnvironmentVariable record_, no_exit_code_, no_hold_;
  std::wstring setup_, archive_;
};

TEST_F(SetupFixture, StartsSetupWithTheArchiveAndPassesItsExitCodeBack) {
  InstallerOptions options;
  ASSERT_TRUE(options.ParseCommandLine(L"\"C:\\Downloads\\inst.exe\" --system-level --foo"));
  for (const wchar_t* code : {L"0", L"7", L"102", L"-1"}) {
    ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", code);
    DWORD result = 12345;
    EXPECT_TRUE(RunSetupForInstall(options, archive_.c_str(), setup_.c_str(), &result));
    EXPECT_EQ(result, static_cast<DWORD>(std::stol(code))) << Narrow(code);
    EXPECT_EQ(Recorded(), Head() + L" --system-level --foo\n");
  }
}

TEST_F(SetupFixture, AMissingSetupProgramGivesFalse) {
  InstallerOptions options;
  DWORD result = 12345;
  EXPECT_FALSE(RunSetupForInstall(options, archive_.c_str(), (work_ / L"setup.exe").c_str(),
                                  &result));
  EXPECT_EQ(result, 12345u);
  wchar_t command[] = L"C:\\no\\such\\program.exe";
  EXPECT_FALSE(RunProcessAndWait(nullptr, command, &result));
}

TEST_F(SetupFixture, ANullExitCodeIsAllowed) {
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"9");
  InstallerOptions options;
  EXPECT_TRUE(RunSetupForInstall(options, archive_.c_str(), setup_.c_str(), nullptr));
  EXPECT_EQ(Recorded(), Head() + L"\n");
  std::wstring line = Quote(setup_) + L" --x";
  EXPECT_TRUE(RunProcessAndWait(nullptr, &line[0], nullptr));
  EXPECT_EQ(Recorded(), Quote(setup_) + L" --x\n");
}

TEST(AppendPassThroughArguments, TakesTheRawTextAfterTheProgramName) {
  const std::wstring pad(900, L'a');
  const struct {
    const wchar_t* label;
    std::wstring line;
    std::wstring appended;
  } cases[] = {
      {L"quoted path", L"\"C:\\Downloads\\inst.exe\" --system-level --foo",
       L" --system-level --foo"},
      {L"plain name", L"inst.exe --system-level", L" --system-level"},
      {L"lone name", L"inst.exe", L""},
      {L"lone quoted name and blanks", L"\"C:\\a b\\inst.exe\"   ", L""},
      {L"typed without extension", L"inst --system-level", L" --system-level"},
      {L"name inside a folder", L"\"C:\\inst.exe tools\\inst.exe\" --foo", L" --foo"},
      {L"name repeated in an argument", L"inst.exe --x=inst.exe --y", L" --x=inst.exe --y"},
      {L"letter case", L"\"C:\\DL\\INST.EXE\" --Foo", L" --Foo"},
      {L"quotes kept", L"inst.exe \"two words\"  --x=\"a b\"", L" \"two words\"  --x=\"a b\""},
      {L"tab", L"inst.exe\t--foo", L"\t--foo"},
      {L"argument joined to the quote", L"\"C:\\DL\\inst.exe\"--foo", L" --foo"},
      {L"empty program name", L" --foo", L" --foo"},
      {L"too long", L"inst.exe --pad=" + pad, L""},
  };
  for (const auto& c : cases) {
    InstallerOptions options;
    ASSERT_TRUE(options.ParseCommandLine(c.line.c_str())) << Narrow(c.label);
    CommandString command;
    const std::wstring base = L"\"S\" --install-archive=\"" + std::wstring(300, L'z') + L"\"";
    ASSERT_TRUE(SafeCopy(command, kCommandCapacity, base.c_str()));
    AppendPassThroughArguments(options, command);
    EXPECT_EQ(std::wstring(command.data()), base + c.appended) << Narrow(c.label);
    EXPECT_EQ(command.guard(), L'\0');
  }
  // Before a parse there is nothing to append.
  InstallerOptions unparsed;
  CommandString command;
  SafeCopy(command, kCommandCapacity, L"x");
  AppendPassThroughArguments(unparsed, command);
  EXPECT_STREQ(command.data(), L"x");
}

TEST(AppendPassThroughArguments, FillsTheCommandExactlyOrDropsTheTextWhole) {
  for (const bool joined : {false, true}) {
    // joined: the blank before the text is added here and counts as well.
    const std::wstring prefix = joined ? L"\"C:\\i.exe\"" : L"inst.exe ";
    for (std::uint32_t room : {0u, 1u}) {
      CommandString command;
      // 1039 usable units; leave (text + blank + room - 1) for the text.
      const std::wstring text = L"--" + std::wstring(100, L'q');
      const std::uint32_t needed = static_cast<std::uint32_t>(text.size()) + 1;
      const std::wstring base(1039 - needed + 1 - room, L'b');
      ASSERT_TRUE(SafeCopy(command, kCommandCapacity, base.c_str()));
      const std::wstring line = prefix + text;  // must outlive the options
      InstallerOptions options;
      ASSERT_TRUE(options.ParseCommandLine(line.c_str()));
      AppendPassThroughArguments(options, command);
      if (room == 1) {
        EXPECT_EQ(std::wstring(command.data()), base + L" " + text) << joined;
        EXPECT_EQ(command.length(), 1039u);
      } else {
        EXPECT_EQ(std::wstring(command.data()), base) << joined;
      }
      EXPECT_EQ(command.guard(), L'\0');
    }
  }
}

// The same through a copy of this program named inst.exe, so the module's own
// file name takes part as it does in the installer.
TEST_F(SetupFixture, PassesTheUserArgumentsUnderTheInstallerName) {
  ScratchDirectory programs;
  const std::wstring plain = programs / L"inst.exe";
  const std::wstring folder = programs / L"inst.exe tools";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring nested = folder + L"\\inst.exe";
  for (const std::wstring& copy : {plain, nested}) {
    ASSERT_TRUE(CopyFileW(BinaryPath(L"setup_tests.exe").c_str(), copy.c_str(), FALSE));
  }
  const std::wstring no_extension = programs / L"inst";
  const struct {
    const char* label;
    std::wstring line;
    std::wstring appended;
  } cases[] = {
      {"quoted path", Quote(plain) + L" --system-level --foo", L" --system-level --foo"},
      {"lone name", Quote(plain), L""},
      {"typed without extension", no_extension + L" --system-level", L" --system-level"},
      {"folder holding the name", Quote(nested) + L" --foo", L" --foo"},
      {"joined to the quote", Quote(plain) + L"--foo", L" --foo"},
      {"too long", Quote(plain) + L" --pad=" + std::wstring(1000, L'p'), L""},
  };
  ScopedEnvironmentVariable probe_setup(L"KAVO_PROBE_SETUP", setup_);
  ScopedEnvironmentVariable probe_archive(L"KAVO_PROBE_ARCHIVE", archive_);
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"7");
  for (const auto& c : cases) {
    bool started = false;
    EXPECT_EQ(RunProcess(c.line, 120000, &started), 7u) << c.label;
    ASSERT_TRUE(started) << c.label;
    EXPECT_EQ(Recorded(), Head() + c.appended + L"\n") << c.label;
  }
}

// Starts a program by an explicit application name (which may be longer
// than MAX_PATH) and returns its exit code.
DWORD RunLongPath(const std::wstring& application, std::wstring line, bool* started) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  *started = CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process) != FALSE;
  if (!*started) return 0xFFFFFFFF;
  CloseHandle(process.hThread);
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
  return code;
}

TEST_F(SetupFixture, AppendsNothingWhenTheProgramPathDoesNotFit) {
  ScopedEnvironmentVariable probe_setup(L"KAVO_PROBE_SETUP", setup_);
  ScopedEnvironmentVariable probe_archive(L"KAVO_PROBE_ARCHIVE", archive_);
  ScratchDirectory programs;
  for (std::size_t length : {259u, 260u}) {
    // programs\<folder>\inst.exe of exactly length units.
    const std::wstring head = programs.path() + L"\\";
    const std::wstring folder = head + std::wstring(length - head.size() - 9, L'f');
    const std::wstring program = folder + L"\\inst.exe";
    ASSERT_EQ(program.size(), length);
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(BinaryPath(L"setup_tests.exe").c_str(),
                          (L"\\\\?\\" + program).c_str(), FALSE));
    bool started = false;
    DWORD code = RunProcess(Quote(program) + L" --foo", 120000, &started);
    if (!started) code = RunLongPath(L"\\\\?\\" + program, Quote(program) + L" --foo", &started);
    if (!started) {
      // Wine starts no program whose path has 260 units or more, so such a
      // module name cannot arise here.
      if (length == 259) ADD_FAILURE() << "cannot start a program of 259 units";
      std::printf("note: a program path of %u units cannot be started here\n",
                  static_cast<unsigned>(length));
      continue;
    }
    EXPECT_EQ(code, 0u) << length;
    EXPECT_EQ(Recorded(), Head() + (length == 259 ? L" --foo" : L"") + L"\n") << length;
  }
}

}  // namespace

namespace {

// The double holds its installer window while it runs, for the tests of a
// second installer copy.
TEST(SetupDouble, HoldsItsWindowUntilReleased) {
  HeldWindow setup_window(L"setup");
  HeldWindow::Holding holding(setup_window);
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"3");
  ScopedEnvironmentVariable no_record(L"KAVO_SETUP_RECORD");

  std::wstring line = Quote(BinaryPath(L"setup_double.exe"));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  CloseHandle(process.hThread);
  EXPECT_TRUE(setup_window.WaitReady());
  HWND window = FindWindowW(nullptr, L"KavoOrvane Install ");
  EXPECT_NE(window, nullptr);
  if (window != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, process.dwProcessId);
  }
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 200), static_cast<DWORD>(WAIT_TIMEOUT))
      << "still running until released";
  setup_window.Release();
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 3u);
  if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
  EXPECT_EQ(FindWindowW(nullptr, L"KavoOrvane Install "), nullptr);
}

}  // namespace
