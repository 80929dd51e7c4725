// Hostile and broken cabinets: an expansion either fails or yields the one
// destination file, and the names stored in a cabinet never place a file.
#include "payload/cabinet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/payload/cab_writer.h"
#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

// Every file below root, as paths relative to it.
void ListFiles(const std::wstring& root, const std::wstring& relative,
               std::vector<std::wstring>* out) {
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(root, relative + name + L"\\", out);
    } else {
      out->push_back(relative + name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

std::vector<std::wstring> FilesBelow(const std::wstring& root) {
  std::vector<std::wstring> files;
  ListFiles(root, L"", &files);
  std::sort(files.begin(), files.end());
  return files;
}

// Stored names that point out of the folder: relative climbs, both slash
// kinds, and absolute paths (into a folder next to the work folder).
std::vector<std::string> HostileNames(const std::wstring& outside) {
  return {"..\\escaped.exe", "../escaped.exe", "..\\..\\..\\escaped.exe",
          Narrow(outside) + "\\absolute.exe", "\\escaped_root.exe"};
}

// The cabinet is opened from a folder two levels down, with the current
// directory there as well, so that a name taken as a path relative to
// either would land inside root where it can be seen.
class HostileCabinet : public ::testing::Test {
 protected:
  HostileCabinet() : work_(root_ / L"a\\b"), outside_(root_ / L"outside") {
    CreateDirectoryW((root_ / L"a").c_str(), nullptr);
    CreateDirectoryW(work_.c_str(), nullptr);
    CreateDirectoryW(outside_.c_str(), nullptr);
    GetCurrentDirectoryW(MAX_PATH, old_directory_);
    SetCurrentDirectoryW(work_.c_str());
  }
  ~HostileCabinet() override { SetCurrentDirectoryW(old_directory_); }

  ScratchDirectory root_;
  std::wstring work_, outside_;
  wchar_t old_directory_[MAX_PATH] = L"";
};

TEST_F(HostileCabinet, ACabinetWithoutFilesFails) {
  const std::wstring cabinet = work_ + L"\\SETUP.EX_";
  ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet({})));
  EXPECT_FALSE(ExpandCabinet(cabinet.c_str(), (work_ + L"\\setup.exe").c_str()));
  EXPECT_EQ(JoinedNames(FilesBelow(root_.path())), "a\\b\\SETUP.EX_ ");
}

TEST_F(HostileCabinet, StoredNamesNeverPlaceAFile) {
  const std::wstring cabinet = work_ + L"\\SETUP.EX_";
  const std::wstring destination = work_ + L"\\setup.exe";
  for (const std::string& name : HostileNames(outside_)) {
    for (std::uint16_t attribs : {std::uint16_t{0x20}, std::uint16_t{0x20 | 0x80}}) {  // 0x80: UTF-8 name
      CabEntry entry{name, "content of " + name};
      entry.attribs = attribs;
      ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet({entry})));
      EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str())) << name;
      EXPECT_EQ(ReadFileBytes(destination), entry.data) << name;
      EXPECT_EQ(JoinedNames(FilesBelow(root_.path())), "a\\b\\SETUP.EX_ a\\b\\setup.exe ") << name;
      DeleteFileW(destination.c_str());
    }
  }
  // Several such files: each goes to the one destination, the last stays.
  std::vector<CabEntry> entries;
  for (const std::string& name : HostileNames(outside_)) entries.push_back({name, "from " + name});
  ASSERT_TRUE(WriteFileBytes(cabinet, MakeStoredCabinet(entries)));
  EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), destination.c_str()));
  EXPECT_EQ(ReadFileBytes(destination), entries.back().data);
  EXPECT_EQ(JoinedNames(FilesBelow(root_.path())), "a\\b\\SETUP.EX_ a\\b\\setup.exe ");
  // Nothing was written in the drive's root either.
  EXPECT_FALSE(FileExists(L"C:\\escaped_root.exe"));
}

// The whole program on a copy of an installer whose "SETUP.EX_" is replaced
// by the cabinet under test. TMP and TEMP point into root, and so does the
// current directory, so everything the run writes is seen.
class InstallerOnBadCabinet : public ::testing::Test {
 protected:
  InstallerOnBadCabinet()
      : temp_(root_ / L"temp"),
        programs_(root_ / L"Downloads"),
        outside_(root_ / L"outside"),
        tmp_(L"TMP", temp_),
        temp_variable_(L"TEMP", temp_),
        record_(L"KAVO_SETUP_RECORD", root_ / L"record.txt"),
        exit_code_(L"KAVO_SETUP_EXIT_CODE", L"7"),
        no_hold_(L"KAVO_SETUP_HOLD_MS") {
    for (const std::wstring& folder : {temp_, programs_, outside_}) {
      CreateDirectoryW(folder.c_str(), nullptr);
    }
    installer_ = programs_ + L"\\KavoOrvaneSetup.exe";
    GetCurrentDirectoryW(MAX_PATH, old_directory_);
    SetCurrentDirectoryW(programs_.c_str());
  }
  ~InstallerOnBadCabinet() override { SetCurrentDirectoryW(old_directory_); }

  // An empty cabinet cannot be packaged at all (neither the linker nor
  // resource updates make an empty resource); the expansion tests cover it.
  bool PackageWith(const std::string& cabinet) {
    if (!CopyFileW(BinaryPath(L"bad_cabinet_installer.exe").c_str(), installer_.c_str(),
                   FALSE)) {
      return false;
    }
    HANDLE update = BeginUpdateResourceW(installer_.c_str(), FALSE);
    if (update == nullptr) return false;
    const bool updated = UpdateResourceW(update, L"BL", L"SETUP.EX_",
                                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                         const_cast<char*>(cabinet.data()),
                                         static_cast<DWORD>(cabinet.size())) != FALSE;
    return EndUpdateResourceW(update, updated ? FALSE : TRUE) && updated;
  }

  // No product state: the clean-up switch is unset (work files removed) and
  // no "ap" value exists to be marked.
  ScopedRegistryKey product_root_{HKEY_CURRENT_USER, L"Software\\KavoOrvane"};
  ScratchDirectory root_;
  std::wstring temp_, programs_, outside_, installer_;
  ScopedEnvironmentVariable tmp_, temp_variable_, record_, exit_code_, no_hold_;
  wchar_t old_directory_[MAX_PATH] = L"";
};

TEST_F(InstallerOnBadCabinet, EndsWithUnpackFailureOrRunsTheRightSetup) {
  const std::string setup = ReadFileBytes(BinaryPath(L"setup_double.exe"));
  ASSERT_GT(setup.size(), 10000u);
  const std::string good = MakeStoredCabinet({{"setup.exe", setup}});
  std::vector<CabEntry> several;
  for (const std::string& name : HostileNames(outside_)) several.push_back({name, "junk"});
  several.push_back({"..\\..\\setup.exe", setup});
  CabEntry continued{"setup.exe", setup};
  continued.folder = 0xFFFD;

  const struct {
    const char* label;
    std::string cabinet;
    DWORD exit_code;  // 7: setup ran
  } cases[] = {
      {"garbage", std::string(5000, '\x5A'), 102},
      {"header only", good.substr(0, 36), 102},
      {"truncated", good.substr(0, good.size() / 2), 102},
      {"no file", MakeStoredCabinet({}), 102},
      {"continued from another cabinet", MakeStoredCabinet({continued}, true), 102},
      {"plain", good, 7},
      {"climbing name", MakeStoredCabinet({{"..\\..\\..\\setup.exe", setup}}), 7},
      {"absolute name", MakeStoredCabinet({{Narrow(outside_) + "\\setup.exe", setup}}), 7},
      {"several hostile names", MakeStoredCabinet(several), 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(PackageWith(c.cabinet));
    bool started = false;
    EXPECT_EQ(RunProcess(Quote(installer_), 120000, &started), c.exit_code);
    ASSERT_TRUE(started);
    const std::string record = ReadFileBytes(root_ / L"record.txt");
    DeleteFileW((root_ / L"record.txt").c_str());
    if (c.exit_code == 7) {
      EXPECT_NE(record.find("setup.exe\" --install-archive="), std::string::npos) << record;
    } else {
      EXPECT_EQ(record, "") << "setup must not run";
    }
    // The work directory is gone again, and nothing was written anywhere
    // else: not next to the installer, not beside the temporary folder.
    EXPECT_EQ(JoinedNames(FilesBelow(root_.path())), "Downloads\\KavoOrvaneSetup.exe ");
    EXPECT_EQ(JoinedNames(DirectoryEntries(temp_)), "");
    EXPECT_FALSE(FileExists(L"C:\\escaped_root.exe"));
  }
}

}  // namespace
