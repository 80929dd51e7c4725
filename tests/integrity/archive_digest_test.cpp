#include "integrity/archive_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "integrity/md5.h"
#include "tests/support/test_support.h"

namespace {

using kavo_test::BinaryPath;
using kavo_test::ReadFileBytes;
using kavo_test::ScratchDirectory;
using kavo_test::WriteFileBytes;

// A string module built beside the tests, loaded as data only.
class StringModule : public kavo_test::LoadedModule {
 public:
  explicit StringModule(const wchar_t* name)
      : LoadedModule(BinaryPath(name), LOAD_LIBRARY_AS_DATAFILE) {}
};

// The archive whose digest the modules carry (written at configure time).
std::string TestArchive() { return ReadFileBytes(BinaryPath(L"digest_test_archive.bin")); }

class CheckArchiveDigestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_ = TestArchive();
    ASSERT_GT(archive_.size(), 1024u);
  }
  std::string archive_;
  ScratchDirectory folder_{L"kavo_digest"};
};

TEST_F(CheckArchiveDigestTest, OnlyTheIntactArchiveMatches) {
  StringModule lower(L"digest_lower.dll");
  ASSERT_NE(lower.get(), nullptr);
  struct Case { const char* what; std::string bytes; bool match; } cases[] = {
      {"intact", archive_, true},
      {"first byte changed", std::string(1, static_cast<char>(archive_[0] ^ 0x01)) + archive_.substr(1), false},
      {"middle byte changed", [&] { std::string b = archive_; b[b.size() / 2] ^= 0x20; return b; }(), false},
      {"last byte changed", [&] { std::string b = archive_; b.back() ^= 0x80; return b; }(), false},
      {"last byte cut", archive_.substr(0, archive_.size() - 1), false},
      {"one byte appended", archive_ + '\0', false},
      {"empty", std::string(), false},
  };
  for (const Case& c : cases) {
    const std::wstring path = folder_ / L"ORVANE.PACKED.7Z";
    ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    EXPECT_EQ(CheckArchiveDigest(lower.get(), path.c_str()), c.match) << c.what;
    // Only read: still there, unchanged.
    EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.what;
  }
}

TEST_F(CheckArchiveDigestTest, ComparesTheFirst32CharactersOfString130Exactly) {
  const std::wstring path = folder_ / L"ORVANE.PACKED.7Z";
  ASSERT_TRUE(WriteFileBytes(path, archive_));
  struct Case { const wchar_t* module; bool match; } cases[] = {
      {L"digest_lower.dll", true},
      {L"digest_long.dll", true},      // the digest and ten more characters
      {L"digest_upper.dll", false},    // letter case counts
      {L"digest_short.dll", false},    // 31 digits
      {L"digest_missing.dll", false},  // block 9 without entry 130
  };
  for (const Case& c : cases) {
    StringModule module(c.module);
    ASSERT_NE(module.get(), nullptr) << kavo_test::Narrow(c.module);
    EXPECT_EQ(CheckArchiveDigest(module.get(), path.c_str()), c.match)
        << kavo_test::Narrow(c.module);
  }
  // The test program itself carries no string table at all.
  EXPECT_FALSE(CheckArchiveDigest(GetModuleHandleW(nullptr), path.c_str()));
}

// No digest never matches, not even a missing string 130 (two empty texts).
TEST_F(CheckArchiveDigestTest, AnUnreadableArchiveNeverMatches) {
  StringModule lower(L"digest_lower.dll");
  StringModule missing(L"digest_missing.dll");
  const std::wstring absent = folder_ / L"absent.7z";
  for (HMODULE module : {lower.get(), missing.get(), GetModuleHandleW(nullptr)}) {
    EXPECT_FALSE(CheckArchiveDigest(module, absent.c_str()));
    EXPECT_FALSE(CheckArchiveDigest(module, L""));
    EXPECT_FALSE(CheckArchiveDigest(module, folder_.path().c_str()));
  }
  // Held open without read sharing by another owner: cannot be opened.
  const std::wstring locked = folder_ / L"locked.7z";
  ASSERT_TRUE(WriteFileBytes(locked, archive_));
  HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CheckArchiveDigest(lower.get(), locked.c_str()));
  EXPECT_FALSE(CheckArchiveDigest(missing.get(), locked.c_str()));
  CloseHandle(holder);
  EXPECT_TRUE(CheckArchiveDigest(lower.get(), locked.c_str()));
}

// %TEMP% lies under the user's name, which may be in any script.
TEST_F(CheckArchiveDigestTest, FindsTheArchiveInAFolderNamedInSeveralScripts) {
  ScratchDirectory folder(L"\u5B89\u88C5_\u041A\u0430\u0432\u043E_\u0395\u03BB\u03BB\u03AC\u03B4\u03B1",
                          folder_.path());
  ASSERT_TRUE(kavo_test::DirectoryExists(folder.path()));
  const std::wstring path = folder / L"ORVANE.PACKED.7Z";
  ASSERT_TRUE(WriteFileBytes(path, archive_));

  StringModule lower(L"digest_lower.dll");
  EXPECT_TRUE(CheckArchiveDigest(lower.get(), path.c_str()));

  // The same path in the ANSI code page names no file: Chinese, Cyrillic and
  // Greek together fit no single code page.
  char narrow[1024];
  ASSERT_GT(WideToNarrow(path.c_str(), CP_ACP, narrow, sizeof narrow), 0u);
  std::FILE* stream = std::fopen(narrow, "rb");
  EXPECT_EQ(stream, nullptr) << narrow;
  if (stream != nullptr) std::fclose(stream);
}

}  // namespace
