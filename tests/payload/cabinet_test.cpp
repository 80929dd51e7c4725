#include "payload/cabinet.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/payload/cab_writer.h"
#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

std::wstring DataPath(const std::wstring& name) { return BinaryPath(L"payload_data\\" + name); }

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece + std::to_string(i);
  return out;
}

ULONGLONG AsNumber(const FILETIME& t) {
  return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

bool FileTimes(const std::wstring& path, FILETIME* created, FILETIME* written) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = GetFileTime(file, created, nullptr, written);
  CloseHandle(file);
  return ok != FALSE;
}

TEST(ExpandCabinet, ExpandsGcabCabinetsIntoTheDestination) {
  // gcab at build time: the same archive MSZIP-compressed and stored.
  const std::string expected = ReadFileBytes(DataPath(L"archive.7z"));
  ASSERT_GT(expected.size(), 100000u);
  for (const wchar_t* cab : {L"mszip.cab", L"stored.cab"}) {
    ScratchDirectory work;
    const std::wstring cabinet = work / L"SETUP.EX_";
    ASSERT_TRUE(CopyFileW(DataPath(cab).c_str(), cabinet.c_str(), FALSE));
    const std::wstring destination = work / L"setup.exe";
    EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str())) << cab;
    EXPECT_EQ(ReadFileBytes(destination), expected) << cab;
    EXPECT_TRUE(FileExists(cabinet)) << cab << ": the cabinet is not touched";
  }
}

TEST(ExpandCabinet, SeveralFilesLeaveTheLastOne) {
  ScratchDirectory work;
  const std::wstring cabinet = work / L"SETUP.EX_";
  ASSERT_TRUE(CopyFileW(DataPath(L"multi.cab").c_str(), cabinet.c_str(), FALSE));
  const std::wstring destination = work / L"setup.exe";
  EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str()));
  EXPECT_EQ(ReadFileBytes(destination), ReadFileBytes(DataPath(L"second.bin")));
  // The stored names never become files.
  EXPECT_FALSE(FileExists(work / L"first.bin"));
  EXPECT_FALSE(FileExists(work / L"second.bin"));
}

// Whether CreateFileW(CREATE_ALWAYS) refuses to replace a file carrying the
// attribute, as Windows does. Wine run as root replaces read-only files
// (root may write them) and ignores hidden and system.
bool PlatformRefusesToReplace(const std::wstring& folder, DWORD attribute) {
  const std::wstring path = folder + L"\\probe";
  WriteFileBytes(path, "probe");
  SetFileAttributesW(path.c_str(), attribute);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool refused = file == INVALID_HANDLE_VALUE;
  if (!refused) CloseHandle(file);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
  return refused;
}

TEST(ExpandCabinet, CarriesProtectingAttributesThatStopALaterFile) {
  for (std::uint16_t attribute : {std::uint16_t{0x01}, std::uint16_t{0x02}, std::uint16_t{0x04}}) {
    ScratchDirectory work;
    const std::wstring cabinet = work / L"SETUP.EX_";
    const std::wstring destination = work / L"setup.exe";
    CabEntry first{"first.exe", "first file"};
    first.attribs = attribute;
    // Alone, the file is written and keeps the attribute.
    ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet({first})));
    EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str())) << attribute;
    EXPECT_NE(GetFileAttributesW(destination.c_str()) & attribute, 0u) << attribute;
    SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(destination.c_str());

    // Followed by another file, the second creation fails where the
    // platform protects such files.
    ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet({first, {"second.exe", "second file"}})));
    const bool expanded = ExpandCabinet(cabinet.c_str(), destination.c_str());
    if (PlatformRefusesToReplace(work.path(), attribute)) {
      EXPECT_FALSE(expanded) << attribute;
      EXPECT_EQ(ReadFileBytes(destination), "first file") << attribute;
    } else {
      EXPECT_TRUE(expanded) << attribute << ": this platform replaces protected files";
      EXPECT_EQ(ReadFileBytes(destination), "second file") << attribute;
    }
  }
}

TEST(ExpandCabinet, DamagedCabinetsFailWithoutCrashing) {
  const std::string good = ReadFileBytes(DataPath(L"mszip.cab"));
  ASSERT_GT(good.size(), 1000u);
  std::string corrupt_data = good;
  for (std::size_t i = good.size() / 2; i < good.size(); i += 7) corrupt_data[i] ^= 0x5A;
  const struct {
    const char* label;
    std::string bytes;
  } cases[] = {
      {"garbage", Repeat("not a cabinet ", 500)},
      {"empty", ""},
      {"header only", good.substr(0, 36)},
      {"truncated", good.substr(0, good.size() / 2)},
      {"corrupt data", corrupt_data},
      {"continued from another cabinet",
       MakeStoredCabinet({CabEntry{"setup.exe", "tail", 0, 0, 0x20, 0xFFFD}}, true)},
  };
  for (const auto& c : cases) {
    ScratchDirectory work;
    const std::wstring cabinet = work / L"SETUP.EX_";
    ASSERT_TRUE(WriteFileBytes(cabinet, c.bytes));
    EXPECT_FALSE(ExpandCabinet(cabinet.c_str(), (work / L"setup.exe").c_str())) << c.label;
  }
}

TEST(ExpandCabinet, PathsWithoutAUsableBackslashFailAndWriteNothing) {
  ScratchDirectory work;
  const std::wstring destination = work / L"setup.exe";
  for (const wchar_t* path : {L"SETUP.EX_", L"\\SETUP.EX_", L"", L"C:"}) {
    EXPECT_FALSE(ExpandCabinet(path, destination.c_str())) << Narrow(path);
  }
  // Ends with a backslash: an empty name that FDI cannot open.
  EXPECT_FALSE(ExpandCabinet((work.path() + L"\\").c_str(), destination.c_str()));
  EXPECT_FALSE(FileExists(destination));
  EXPECT_FALSE(ExpandCabinet((work / L"missing.cab").c_str(), destination.c_str()));
}

TEST(ExpandCabinet, WorksInAFolderWithChineseCharacters) {
  ScratchDirectory work(L"kavo_\u7528\u6237\u5f20\u4e09_");
  const std::wstring cabinet = work / L"SETUP.EX_";
  ASSERT_TRUE(CopyFileW(DataPath(L"mszip.cab").c_str(), cabinet.c_str(), FALSE));
  const std::wstring destination = work / L"setup.exe";
  EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str()));
  EXPECT_EQ(ReadFileBytes(destination), ReadFileBytes(DataPath(L"archive.7z")));
}

// Wine on Linux cannot set a file's creation (birth) time.
bool CreationTimeCanBeSet(const std::wstring& folder) {
  const std::wstring path = folder + L"\\time_probe";
  WriteFileBytes(path, "probe");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  FILETIME wanted = {0x12340000, 0x01D00000}, got = {};
  SetFileTime(file, &wanted, nullptr, nullptr);
  GetFileTime(file, &got, nullptr, nullptr);
  CloseHandle(file);
  DeleteFileW(path.c_str());
  return AsNumber(got) == AsNumber(wanted);
}

TEST(ExpandCabinet, CreationTimeIsTheStoredTimeAndAttributesAreCarried) {
  ScratchDirectory work;
  CabEntry entry{"setup.exe", "payload"};  // 2019-03-04 05:06:08, archive
  entry.attribs = 0x20 | 0x40 | 0x80;      // plus "execute" and "UTF name": not file attributes
  const std::wstring cabinet = work / L"SETUP.EX_";
  ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet({entry})));
  const std::wstring destination = work / L"setup.exe";
  ASSERT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str()));

  SYSTEMTIME stored = {};
  stored.wYear = 2019;
  stored.wMonth = 3;
  stored.wDay = 4;
  stored.wHour = 5;
  stored.wMinute = 6;
  stored.wSecond = 8;
  FILETIME local = {}, expected = {};
  ASSERT_TRUE(SystemTimeToFileTime(&stored, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
  FILETIME created = {}, written = {}, now = {};
  ASSERT_TRUE(FileTimes(destination, &created, &written));
  if (CreationTimeCanBeSet(work.path())) {
    EXPECT_EQ(AsNumber(created), AsNumber(expected));
  } else {
    std::printf("note: this platform keeps no creation time; only the last-write time is checked\n");
  }
  GetSystemTimeAsFileTime(&now);
  // The last-write time is the time of writing (within ten minutes), not
  // the stored one.
  EXPECT_LT(AsNumber(now) - AsNumber(written), 10ull * 60 * 10000000);

  const DWORD attributes = GetFileAttributesW(destination.c_str());
  EXPECT_EQ(attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY |
                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

  // A hidden file stays hidden.
  entry.attribs = 0x02;
  ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet({entry})));
  const std::wstring hidden = work / L"hidden.exe";
  ASSERT_TRUE(ExpandCabinet(cabinet.c_str(), hidden.c_str()));
  EXPECT_NE(GetFileAttributesW(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(Utf8Conversion, RoundTripsAndHonoursAnExplicitLength) {
  const wchar_t* text = L"C:\\\u7528\u6237\\SETUP.EX_";
  char* whole = WideToUtf8(text, -1);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(std::string(whole), Narrow(text));
  wchar_t* back = Utf8ToWide(whole);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::wstring(back), std::wstring(text));
  char* folder = WideToUtf8(text, 6);  // up to and including the second backslash
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(std::string(folder), Narrow(L"C:\\\u7528\u6237\\"));
  for (void* block : {static_cast<void*>(whole), static_cast<void*>(back),
                      static_cast<void*>(folder)}) {
    HeapFree(GetProcessHeap(), 0, block);
  }
  EXPECT_EQ(WideToUtf8(L"", 0), nullptr);
}

// Runs in a fresh copy of this program (see LoadsTheLibraryOnce): the library
// state lasts for the whole process.
TEST(CabinetLibraryProbe, LoadsOnceByFullPath) {
  std::wstring folder;
  {
    wchar_t buffer[MAX_PATH];
    if (GetEnvironmentVariableW(L"KAVO_CABINET_PROBE", buffer, MAX_PATH) == 0) {
      GTEST_SKIP() << "runs only as a child of CabinetLibrary tests";
    }
    folder = buffer;
  }
  ASSERT_EQ(GetModuleHandleW(L"cabinet.dll"), nullptr) << "already loaded by someone else";
  // The parent's environment reached this process unchanged.
  wchar_t windir[MAX_PATH] = L"", expected[MAX_PATH] = L"";
  if (GetEnvironmentVariableW(L"KAVO_CABINET_PROBE_WINDIR", expected, MAX_PATH) != 0) {
    GetEnvironmentVariableW(L"WINDIR", windir, MAX_PATH);
    ASSERT_STREQ(windir, expected);
  }
  const std::wstring cabinet = folder + L"\\SETUP.EX_";
  ASSERT_TRUE(ExpandCabinet(cabinet.c_str(), (folder + L"\\one.exe").c_str()));
  const HMODULE first = LoadedCabinetLibrary().module;
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(ExpandCabinet(cabinet.c_str(), (folder + L"\\two.exe").c_str()));
  EXPECT_EQ(LoadedCabinetLibrary().module, first);
  EXPECT_EQ(GetModuleHandleW(L"cabinet.dll"), first);
  // One reference only: a single release unloads it.
  FreeLibrary(first);
  EXPECT_EQ(GetModuleHandleW(L"cabinet.dll"), nullptr);
}

TEST(CabinetLibrary, LoadsTheLibraryOnceAndFallsBackToTheFixedPath) {
  // Pointing WINDIR and SYSTEMROOT at a folder without the library makes
  // the earlier candidates fail to load.
  const struct {
    const char* label;
    bool move_windir, move_systemroot;
  } cases[] = {{"normal", false, false},
               {"WINDIR elsewhere", true, false},
               {"WINDIR and SYSTEMROOT elsewhere", true, true}};
  for (const auto& c : cases) {
    ScratchDirectory work;
    ASSERT_TRUE(CopyFileW(DataPath(L"mszip.cab").c_str(), (work / L"SETUP.EX_").c_str(), FALSE));
    ScopedEnvironmentVariable probe(L"KAVO_CABINET_PROBE", work.path());
    std::unique_ptr<ScopedEnvironmentVariable> windir, systemroot;
    std::unique_ptr<ScopedEnvironmentVariable> expect;
    if (c.move_windir) {
      windir.reset(new ScopedEnvironmentVariable(L"WINDIR", work.path()));
      expect.reset(new ScopedEnvironmentVariable(L"KAVO_CABINET_PROBE_WINDIR", work.path()));
    }
    if (c.move_systemroot) {
      systemroot.reset(new ScopedEnvironmentVariable(L"SYSTEMROOT", work.path()));
    }
    bool started = false;
    const DWORD code = RunProcess(
        Quote(BinaryPath(L"payload_tests.exe")) + L" --gtest_filter=CabinetLibraryProbe.*",
        120000, &started);
    ASSERT_TRUE(started) << c.label;
    EXPECT_EQ(code, 0u) << c.label;
    EXPECT_EQ(ReadFileBytes(work / L"two.exe"), ReadFileBytes(DataPath(L"archive.7z")))
        << c.label;
  }
}

}  // namespace
