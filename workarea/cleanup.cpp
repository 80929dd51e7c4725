#include "workarea/cleanup.h"

#include <windows.h>

#include "control/scoped_handle.h"
#include "registry/registry_key.h"

const wchar_t* const kWorkDirectoryPrefixes[2] = {L"OV_", L"orvane_"};
const wchar_t kCleanupSwitchKey[] = L"Software\\KavoOrvane";
const wchar_t kCleanupSwitchValue[] = L"OrvaneInstallerCleanup";

namespace {

// The short 8.3 name when the entry has one: it keeps deep paths short.
const wchar_t* EntryName(const WIN32_FIND_DATAW& entry) {
  return entry.cAlternateFileName[0] != L'\0' ? entry.cAlternateFileName : entry.cFileName;
}

bool IsReparsePoint(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction or symbolic link leads out of the tree being deleted, so only
// the link itself may go. Deleting by path is not safe for that: a system
// that resolves the link (Wine does, for Unix symbolic links) removes an
// empty target directory or a target file instead. So the link is opened
// as itself, and deleted only when the open handle confirms that it is the
// reparse point and not what it points at; otherwise it stays.
void RemoveLink(const wchar_t* path) {
  KernelHandle link(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!link.valid()) return;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(link.get(), FileAttributeTagInfo, &tag, sizeof tag)) return;
  if (!IsReparsePoint(tag.FileAttributes)) return;
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

void DeleteTree(PathString& path) {
  const std::uint32_t length = path.length();
  if (!SafeAppend(path, path.capacity(), L"\\*.*")) return;

  WIN32_FIND_DATAW entry = {};
  FindHandle find(FindFirstFileW(path, &entry));
  if (find.valid()) {
    do {
      const wchar_t* name = EntryName(entry);
      if (IsDotOrDotDot(name)) continue;
      path.Truncate(length + 1);
      if (!SafeAppend(path, path.capacity(), name)) continue;
      if (IsReparsePoint(entry.dwFileAttributes)) {
        RemoveLink(path);
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        DeleteFileW(path);
      }
    } while (FindNextFileW(find.get(), &entry));
  }
  path.Truncate(length);
  RemoveDirectoryW(path);
}

}  // namespace

bool IsDotOrDotDot(const wchar_t* name) {
  if (name == nullptr || name[0] != L'.') return false;
  return name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0');
}

void DeleteDirectoryTree(PathString& path) {
  // The directory itself may be a link; then only the link goes.
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && IsReparsePoint(attributes)) {
    RemoveLink(path);
    return;
  }
  DeleteTree(path);
}

void SweepWorkDirectoriesWithPrefix(const wchar_t* temp_dir, const wchar_t* prefix) {
  PathString pattern;
  if (!SafeCopy(pattern, pattern.capacity(), temp_dir) ||
      !SafeAppend(pattern, pattern.capacity(), prefix) ||
      !SafeAppend(pattern, pattern.capacity(), L"*.*"))
    return;

  WIN32_FIND_DATAW entry = {};
  FindHandle find(FindFirstFileExW(pattern, FindExInfoStandard, &entry,
                                   FindExSearchLimitToDirectories, nullptr, 0));
  if (!find.valid()) return;
  PathString path;
  do {
    // The search limit is only a hint: plain files can still come back.
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const wchar_t* name = EntryName(entry);
    if (IsDotOrDotDot(name)) continue;
    if (!SafeCopy(path, path.capacity(), temp_dir) ||
        !SafeAppend(path, path.capacity(), name))
      continue;
    if (IsReparsePoint(entry.dwFileAttributes)) {
      RemoveLink(path);
    } else {
      DeleteTree(path);
    }
  } while (FindNextFileW(find.get(), &entry));
}

void SweepStaleWorkDirectories() {
  PathString temp_dir;
  const DWORD length = GetTempPathW(temp_dir.capacity(), temp_dir);
  if (length == 0 || length >= temp_dir.capacity()) return;
  for (const wchar_t* prefix : kWorkDirectoryPrefixes) {
    SweepWorkDirectoriesWithPrefix(temp_dir, prefix);
  }
}

bool IsCleanupEnabled() {
  wchar_t value[2] = {L'\0', L'\0'};
  const bool read = ReadRegistryString(HKEY_CURRENT_USER, kCleanupSwitchKey, kCleanupSwitchValue,
                                       value, 2);
  return !(read && value[0] == L'0');
}

void RemoveWorkFiles(const wchar_t* work_dir, const wchar_t* archive_path,
                     const wchar_t* setup_path) {
  // An empty path names nothing; it is not handed to the system.
  if (archive_path != nullptr && archive_path[0] != L'\0') DeleteFileW(archive_path);
  if (setup_path != nullptr && setup_path[0] != L'\0') DeleteFileW(setup_path);
  if (work_dir != nullptr && work_dir[0] != L'\0') RemoveDirectoryW(work_dir);
}
