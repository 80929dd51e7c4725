// Generated command lines (fixed seed) through the option parse and the
// setup command: the command stays within its buffer, and whenever the
// user's arguments fit, setup splits them exactly as the bootstrap did.
#include "setup/setup_launch.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

// Units that matter to the splitting rules, and some that only look as if
// they might: non-ASCII letters, an ideographic space, a no-break space,
// line breaks, a surrogate pair.
const wchar_t kAlphabet[] = L"abcXYZ09-=.:/ \t\"\\\\\"\\ \u00e9\u7528\u6237\u3000\u00a0\r\n"
                            L"\xd83d\xde00";
const wchar_t* const kOptionTexts[] = {L"--system-level", L"--SYSTEM-LEVEL", L"--orvane-sxs",
                                       L"--orvane-frame", L"--App-Host",     L"--app-launcher",
                                       L"--multi-install", L"--cleanup"};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  std::uint32_t Below(std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random_);
  }

  wchar_t Unit() {
    // Often a quote or a backslash: runs of backslashes before quotes are
    // where the splitting rules are subtle.
    switch (Below(8)) {
      case 0: return L'"';
      case 1: return L'\\';
      default: return kAlphabet[Below(sizeof kAlphabet / sizeof kAlphabet[0] - 1)];
    }
  }

  std::wstring Piece(std::uint32_t length) {
    std::wstring out;
    while (out.size() < length) {
      switch (Below(6)) {
        case 0: out += std::wstring(Below(5), L'\\') + L'"'; break;
        case 1: out += L'"' + Word() + L' ' + Word() + L'"'; break;
        case 2: out += kOptionTexts[Below(sizeof kOptionTexts / sizeof kOptionTexts[0])]; break;
        default: out += Unit(); break;
      }
    }
    out.resize(length);
    return out;
  }

  std::wstring Word() {
    std::wstring out;
    for (std::uint32_t i = Below(6) + 1; i > 0; --i) out += L"ab\u7528x-"[Below(5)];
    return out;
  }

  std::wstring ProgramName() {
    switch (Below(6)) {
      case 0: return L"inst.exe";
      case 1: return L"\"C:\\Users\\\u5f20\u4e09\\Downloads\\Kavo Orvane Setup.exe\"";
      case 2: return L"C:\\DL\\inst";
      case 3: return L"\"C:\\DL\\inst.exe\"";  // often followed directly by an argument
      case 4: return L"";                      // the line starts with the arguments
      default: return Piece(Below(40));        // anything, quotes included
    }
  }

  // Mostly short lines, some up to 2,000 units.
  std::wstring CommandLine() {
    std::wstring line = ProgramName();
    const std::uint32_t shape = Below(10);
    const std::uint32_t length = shape < 6 ? Below(60) : shape < 9 ? Below(600) : Below(2000);
    if (Below(4) != 0) line += Below(3) == 0 ? L'\t' : L' ';
    line += Piece(length);
    if (line.size() > 2000) line.resize(2000);
    return line;
  }

 private:
  std::mt19937 random_;
};

// Where CommandLineToArgvW ends the program-name token: a leading quote runs
// to the next quote; otherwise the first blank or tab ends it.
std::size_t EndOfProgramName(const std::wstring& line) {
  if (!line.empty() && line[0] == L'"') {
    const std::size_t close = line.find(L'"', 1);
    return close == std::wstring::npos ? line.size() : close + 1;
  }
  const std::size_t end = line.find_first_of(L" \t");
  return end == std::wstring::npos ? line.size() : end;
}

std::vector<std::wstring> Split(const wchar_t* line, bool* ok) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(line, &count);
  std::vector<std::wstring> out;
  *ok = argv != nullptr;
  for (int i = 0; argv != nullptr && i < count; ++i) out.emplace_back(argv[i]);
  if (argv != nullptr) LocalFree(argv);
  return out;
}

bool AnyArgumentIs(const InstallerOptions& options, const wchar_t* text) {
  for (std::int32_t i = 1; i < options.argc; ++i) {
    if (lstrcmpiW(options.argv[i], text) == 0) return true;
  }
  return false;
}

TEST(SetupCommandProperty, GeneratedCommandLinesReachSetupAsTheyWereSplit) {
  // Work-directory paths as short as they come, with blanks and non-ASCII,
  // and as long as a 260-unit path allows.
  const std::wstring long_folder =
      L"C:\\" + std::wstring(259 - 3 - 1 - 16, L'\u6237') + L"\\";
  const struct {
    std::wstring setup, archive;
  } paths[] = {
      {L"C:\\T\\OV_1.tmp\\setup.exe", L"C:\\T\\OV_1.tmp\\ORVANE.PACKED.7Z"},
      {L"C:\\users\\\u5f20 \u4e09\\Temp\\OV_3D753.tmp\\setup.exe",
       L"C:\\users\\\u5f20 \u4e09\\Temp\\OV_3D753.tmp\\ORVANE.PACKED.7Z"},
      {long_folder + std::wstring(16 - 9, L'x') + L"setup.exe", long_folder + L"ORVANE.PACKED.7Z"},
  };
  ASSERT_EQ(paths[2].setup.size(), 259u);
  ASSERT_EQ(paths[2].archive.size(), 259u);

  Generator generate(20261210);
  int appended = 0, dropped = 0, lone = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::wstring line = generate.CommandLine();
    const auto& path = paths[round % 3];
    SCOPED_TRACE("round " + std::to_string(round) + ": " + Narrow(line));

    InstallerOptions options;
    ASSERT_TRUE(options.ParseCommandLine(line.c_str()));
    EXPECT_EQ(options.system_level, AnyArgumentIs(options, L"--system-level"));
    EXPECT_EQ(options.operation == kOperationCleanup, AnyArgumentIs(options, L"--cleanup"));

    PathString setup, archive;
    ASSERT_TRUE(SafeCopy(setup, kPathCapacity, path.setup.c_str()));
    ASSERT_TRUE(SafeCopy(archive, kPathCapacity, path.archive.c_str()));
    CommandString command;
    ASSERT_TRUE(BuildSetupCommand(options, archive, setup, command));
    EXPECT_EQ(command.guard(), L'\0');
    EXPECT_EQ(setup.guard(), L'\0');
    EXPECT_EQ(archive.guard(), L'\0');
    const std::wstring text(command.data());
    ASSERT_LE(text.size(), 1039u);

    const std::wstring head = L"\"" + path.setup + L"\" --install-archive=\"" + path.archive + L"\"";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const std::wstring rest = line.substr(EndOfProgramName(line));
    // A blank keeps an argument that followed the program name's closing
    // quote apart from the archive's closing quote.
    const bool needs_blank = !rest.empty() && rest[0] != L' ' && rest[0] != L'\t';
    const bool fits = head.size() + (needs_blank ? 1 : 0) + rest.size() <= 1039;

    bool split = false;
    const std::vector<std::wstring> argv = Split(command, &split);
    ASSERT_TRUE(split);
    ASSERT_GE(argv.size(), 2u);
    EXPECT_EQ(argv[0], path.setup);
    EXPECT_EQ(argv[1], L"--install-archive=" + path.archive);
    if (options.argc <= 1) {
      ++lone;
      EXPECT_EQ(text, head);
    } else if (fits) {
      ++appended;
      ASSERT_EQ(argv.size(), static_cast<std::size_t>(options.argc) + 1);
      for (std::int32_t i = 1; i < options.argc; ++i) {
        EXPECT_EQ(argv[static_cast<std::size_t>(i) + 1], std::wstring(options.argv[i])) << i;
      }
    } else {
      ++dropped;
      EXPECT_EQ(text, head) << "the arguments are dropped whole";
    }
  }
  // The generator reaches every outcome often enough to mean something.
  EXPECT_GT(appended, 1000);
  EXPECT_GT(dropped, 100);
  EXPECT_GT(lone, 50);
  std::printf("appended %d, too long %d, program name only %d\n", appended, dropped, lone);
}

}  // namespace
