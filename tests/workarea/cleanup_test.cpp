#include "workarea/cleanup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/workarea/workarea_test_support.h"

namespace {

using kavo_test::DirectoryExists;
using kavo_test::FileExists;
using kavo_test::ScopedEnvironmentVariable;
using kavo_test::ScratchDirectory;
using workarea_test::CreateDirectories;

bool MakeFile(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return CreateDirectories(path.substr(0, slash)) && kavo_test::WriteFileBytes(path, "data");
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A temporary folder of the test's own: TMP and TEMP point at it, so the
// sweep sees nothing else.
class SweepTest : public ::testing::Test {
 protected:
  SweepTest()
      : scratch_(L"sweep"), tmp_(L"TMP", scratch_.path()), temp_(L"TEMP", scratch_.path()) {}
  std::wstring In(const std::wstring& relative) const { return scratch_ / relative; }
  const std::wstring& Folder() const { return scratch_.path(); }

 private:
  ScratchDirectory scratch_;
  ScopedEnvironmentVariable tmp_;
  ScopedEnvironmentVariable temp_;
};

TEST(IsDotOrDotDot, OnlyTheTwoSpecialNames) {
  struct Case {
    const wchar_t* name;
    bool special;
  } cases[] = {{L".", true},    {L"..", true},  {L"...", false}, {L".a", false},
               {L"..a", false}, {L"a.", false}, {L"", false},    {nullptr, false}};
  for (const Case& c : cases)
    EXPECT_EQ(IsDotOrDotDot(c.name), c.special) << (c.name ? kavo_test::Narrow(c.name) : "null");
}

TEST_F(SweepTest, RemovesPrefixedDirectoriesAndNothingElse) {
  const wchar_t* removed_files[] = {
      L"OV_3D753.tmp\\archive.7z",
      L"OV_3D753.tmp\\setup.exe",
      L"OV_3D753.tmp\\a\\b\\c\\deep.txt",
      L"OV_3D753.tmp\\a\\A directory with a long name\\Some long file name.data",
      L"OV_3D753.tmp\\empty\\",
      L"orvane_data\\x.bin",
      L"ov_lower.tmp\\x.bin",  // names are matched without regard to case
  };
  const wchar_t* kept_files[] = {
      L"OV_notes.txt",
      L"xOV_1\\inside.txt",
      L"keep\\OV_inner\\inside.txt",
      L"x_orvane_\\inside.txt",
  };
  for (const wchar_t* f : removed_files) {
    const std::wstring path = In(f);
    ASSERT_TRUE(path.back() == L'\\' ? CreateDirectories(path.substr(0, path.size() - 1))
                                     : MakeFile(path));
  }
  for (const wchar_t* f : kept_files) ASSERT_TRUE(MakeFile(In(f)));

  SweepStaleWorkDirectories();

  EXPECT_FALSE(Exists(In(L"OV_3D753.tmp")));
  EXPECT_FALSE(Exists(In(L"orvane_data")));
  EXPECT_FALSE(Exists(In(L"ov_lower.tmp")));
  for (const wchar_t* f : kept_files) EXPECT_TRUE(FileExists(In(f))) << kavo_test::Narrow(f);
}

TEST_F(SweepTest, ReadOnlyFileKeepsItselfAndItsParents) {
  const std::wstring read_only = In(L"OV_00001.tmp\\a\\b\\locked.txt");
  ASSERT_TRUE(MakeFile(read_only));
  ASSERT_TRUE(MakeFile(In(L"OV_00001.tmp\\a\\b\\free.txt")));
  ASSERT_TRUE(MakeFile(In(L"OV_00001.tmp\\a\\c\\free.txt")));
  ASSERT_TRUE(MakeFile(In(L"OV_00001.tmp\\free.txt")));
  ASSERT_TRUE(SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY));

  SweepStaleWorkDirectories();

  EXPECT_TRUE(FileExists(read_only));
  EXPECT_EQ(GetFileAttributesW(read_only.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(Exists(In(L"OV_00001.tmp\\a\\b\\free.txt")));
  EXPECT_FALSE(Exists(In(L"OV_00001.tmp\\a\\c")));
  EXPECT_FALSE(Exists(In(L"OV_00001.tmp\\free.txt")));
}

// Paths at the limit. Every component is a valid 8.3 name, so that the short
// names the removal prefers are the names themselves.
TEST_F(SweepTest, PathsNearTheLimit) {
  struct Case {
    const wchar_t* top;         // swept directory
    std::uint32_t dir_length;   // a nested directory of this path length
    std::uint32_t file_length;  // holding a file of this path length (0: none)
    bool removed;               // the whole swept directory goes
  } cases[] = {
      {L"OV_00002.tmp", 255, 257, true},   // the pattern still fits
      {L"OV_00003.tmp", 256, 258, false},  // the pattern does not fit: left whole
      {L"OV_00004.tmp", 259, 0, false},    // empty, but still not removed
      {L"OV_00005.tmp", 250, 260, false},  // the file's path does not fit: skipped
      {L"OV_00006.tmp", 250, 259, true},   // the longest path that fits
  };
  for (const Case& c : cases) {
    const std::wstring dir = workarea_test::PathOfLength(In(c.top), c.dir_length);
    ASSERT_EQ(dir.size(), c.dir_length);
    ASSERT_TRUE(CreateDirectories(dir)) << c.dir_length;
    // A sibling that is removed in every case.
    ASSERT_TRUE(MakeFile(In(c.top) + L"\\sibling.txt"));
    if (c.file_length != 0) {
      const std::wstring file = workarea_test::PathOfLength(dir, c.file_length);
      ASSERT_EQ(file.size(), c.file_length);
      ASSERT_TRUE(MakeFile(file)) << c.file_length;
    }
  }

  SweepStaleWorkDirectories();

  for (const Case& c : cases) {
    const std::wstring dir = workarea_test::PathOfLength(In(c.top), c.dir_length);
    EXPECT_EQ(Exists(In(c.top)), !c.removed) << kavo_test::Narrow(c.top);
    EXPECT_EQ(DirectoryExists(dir), !c.removed) << kavo_test::Narrow(c.top);
    EXPECT_FALSE(Exists(In(c.top) + L"\\sibling.txt")) << kavo_test::Narrow(c.top);
    if (c.file_length != 0) {
      EXPECT_EQ(FileExists(workarea_test::PathOfLength(dir, c.file_length)), !c.removed)
          << kavo_test::Narrow(c.top);
    }
  }
}

TEST_F(SweepTest, DeleteDirectoryTreeRestoresItsBuffer) {
  ASSERT_TRUE(MakeFile(In(L"tree\\a\\b.txt")));
  PathString path;
  ASSERT_TRUE(SafeCopy(path, path.capacity(), In(L"tree").c_str()));
  DeleteDirectoryTree(path);
  EXPECT_EQ(std::wstring(path.data()), In(L"tree"));
  EXPECT_FALSE(Exists(In(L"tree")));

  // Too long for the pattern: nothing is touched, the buffer is unchanged.
  const std::wstring deep = workarea_test::PathOfLength(In(L"deep"), 256);
  ASSERT_TRUE(CreateDirectories(deep));
  ASSERT_TRUE(SafeCopy(path, path.capacity(), deep.c_str()));
  DeleteDirectoryTree(path);
  EXPECT_EQ(std::wstring(path.data()), deep);
  EXPECT_EQ(path.guard(), L'\0');
  EXPECT_TRUE(DirectoryExists(deep));
}

TEST_F(SweepTest, PrefixArgumentAndLongTemporaryFolder) {
  ASSERT_TRUE(MakeFile(In(L"OV_00007.tmp\\f.txt")));
  ASSERT_TRUE(MakeFile(In(L"orvane_x\\f.txt")));
  const std::wstring temp_dir = Folder() + L"\\";
  SweepWorkDirectoriesWithPrefix(temp_dir.c_str(), L"orvane_");
  EXPECT_FALSE(Exists(In(L"orvane_x")));
  EXPECT_TRUE(Exists(In(L"OV_00007.tmp\\f.txt")));

  // A temporary folder that does not fit in 260 units: no sweep at all.
  {
    ScopedEnvironmentVariable tmp(L"TMP", L"C:\\" + std::wstring(300, L't'));
    ScopedEnvironmentVariable temp(L"TEMP", L"C:\\" + std::wstring(300, L't'));
    SweepStaleWorkDirectories();
  }
  EXPECT_TRUE(Exists(In(L"OV_00007.tmp\\f.txt")));
  SweepStaleWorkDirectories();
  EXPECT_FALSE(Exists(In(L"OV_00007.tmp")));
}

// Links inside a swept directory, and a swept directory that is itself a
// link, all pointing at folders outside the sweep. Whatever happens to the
// links, nothing they point at may be deleted.
TEST_F(SweepTest, NeverFollowsSymbolicLinksOutOfTheTree) {
  const wchar_t* outside_files[] = {L"outside\\a.txt", L"outside\\sub\\b.txt"};
  for (const wchar_t* f : outside_files) ASSERT_TRUE(MakeFile(In(f)));
  ASSERT_TRUE(CreateDirectories(In(L"outside_empty")));
  ASSERT_TRUE(MakeFile(In(L"OV_00008.tmp\\inner\\own.txt")));
  ASSERT_TRUE(MakeFile(In(L"OV_00008.tmp\\own.txt")));

  workarea_test::UnixSymbolicLink inner(In(L"outside"), In(L"OV_00008.tmp\\inner\\link"));
  workarea_test::UnixSymbolicLink to_empty(In(L"outside_empty"), In(L"OV_00008.tmp\\elink"));
  workarea_test::UnixSymbolicLink swept(In(L"outside"), In(L"orvane_link"));
  ASSERT_TRUE(inner.made() && to_empty.made() && swept.made());
  const DWORD link_attributes = GetFileAttributesW(In(L"OV_00008.tmp\\inner\\link").c_str());
  ASSERT_EQ(link_attributes & FILE_ATTRIBUTE_REPARSE_POINT,
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));

  SweepStaleWorkDirectories();

  for (const wchar_t* f : outside_files) EXPECT_TRUE(FileExists(In(f))) << kavo_test::Narrow(f);
  EXPECT_TRUE(DirectoryExists(In(L"outside_empty")));
  EXPECT_TRUE(DirectoryExists(In(L"outside\\sub")));
  // The tree's own files still go.
  EXPECT_FALSE(Exists(In(L"OV_00008.tmp\\own.txt")));
  EXPECT_FALSE(Exists(In(L"OV_00008.tmp\\inner\\own.txt")));
}

// The end of a run: the switch decides whether the work files go.
TEST(CleanupSwitch, OnlyTheText0KeepsTheWorkFiles) {
  enum Kind { kNoKey, kNoValue, kText, kRaw, kDword, kExpand };
  struct Case {
    const wchar_t* label;
    Kind kind;
    const char* raw;  // UTF-16LE bytes for kText/kRaw/kExpand
    DWORD bytes;
    bool enabled;
  } cases[] = {
      {L"no key", kNoKey, "", 0, true},
      {L"no value", kNoValue, "", 0, true},
      {L"\"0\"", kText, "0\0\0\0", 4, false},
      {L"\"0\" without terminator", kRaw, "0\0", 2, false},
      {L"\"1\"", kText, "1\0\0\0", 4, true},
      {L"empty", kText, "\0\0", 2, true},
      {L"\"00\"", kText,
       "0\0"
       "0\0\0\0",
       6, true},
      {L"\"0x\"", kText, "0\0x\0\0\0", 6, true},
      {L"REG_DWORD 0", kDword, "\0\0\0\0", 4, true},
      {L"REG_EXPAND_SZ \"0\"", kExpand, "0\0\0\0", 4, true},
  };
  for (const Case& c : cases) {
    kavo_test::ScopedRegistryKey key(HKEY_CURRENT_USER, kCleanupSwitchKey);
    std::vector<char> padded(c.bytes + 4, 'Z');  // no NUL after the data
    std::copy(c.raw, c.raw + c.bytes, padded.begin() + 2);
    switch (c.kind) {
      case kNoKey:
        break;
      case kNoValue:
        key.Create();
        break;
      case kText:
      case kRaw:
        key.SetRaw(kCleanupSwitchValue, REG_SZ, padded.data() + 2, c.bytes);
        break;
      case kDword:
        key.SetRaw(kCleanupSwitchValue, REG_DWORD, c.raw, c.bytes);
        break;
      case kExpand:
        key.SetRaw(kCleanupSwitchValue, REG_EXPAND_SZ, padded.data() + 2, c.bytes);
        break;
    }
    EXPECT_EQ(IsCleanupEnabled(), c.enabled) << kavo_test::Narrow(c.label);

    ScratchDirectory scratch(L"end_of_run");
    const std::wstring work_dir = scratch / L"OV_0000A.tmp\\";
    const std::wstring archive = work_dir + L"ORVANE.PACKED.7Z";
    const std::wstring setup = work_dir + L"setup.exe";
    ASSERT_TRUE(MakeFile(archive) && MakeFile(setup));
    if (IsCleanupEnabled()) RemoveWorkFiles(work_dir.c_str(), archive.c_str(), setup.c_str());
    EXPECT_EQ(Exists(archive), !c.enabled) << kavo_test::Narrow(c.label);
    EXPECT_EQ(Exists(setup), !c.enabled) << kavo_test::Narrow(c.label);
    EXPECT_EQ(Exists(work_dir), !c.enabled) << kavo_test::Narrow(c.label);
  }
  EXPECT_STREQ(kCleanupSwitchKey, L"Software\\KavoOrvane");
  EXPECT_STREQ(kCleanupSwitchValue, L"OrvaneInstallerCleanup");
}

TEST_F(SweepTest, RemoveWorkFilesIsNotRecursive) {
  const std::wstring work_dir = In(L"OV_0000B.tmp\\");
  const std::wstring archive = work_dir + L"ORVANE.PACKED.7Z";
  ASSERT_TRUE(MakeFile(archive));
  ASSERT_TRUE(MakeFile(work_dir + L"left.txt"));
  // The setup program was never produced: its path is empty.
  RemoveWorkFiles(work_dir.c_str(), archive.c_str(), L"");
  EXPECT_FALSE(Exists(archive));
  EXPECT_TRUE(FileExists(work_dir + L"left.txt"));
  // What was left goes with the next run's sweep.
  SweepStaleWorkDirectories();
  EXPECT_FALSE(Exists(work_dir));
}

}  // namespace
