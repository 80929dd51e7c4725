#include "payload/payload.h"

#include "payload/cabinet.h"
#include "payload/patch.h"

const wchar_t kSetupExeName[] = L"setup.exe";

namespace {

constexpr DWORD kResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND

// Each enumeration must either run through or find its type absent.
bool EnumerationFound(BOOL result) {
  return result != FALSE || GetLastError() == kResourceTypeNotFound;
}

}  // namespace

bool IsAcceptedPayloadSize(DWORD size) {
  return size >= 1 && size <= kMaxPayloadResourceSize;
}

PayloadResource::PayloadResource(const wchar_t* name, const wchar_t* type, HMODULE module)
    : module_(module), resource_(FindResourceW(module, name, type)) {}

DWORD PayloadResource::Size() const {
  return resource_ != nullptr ? SizeofResource(module_, resource_) : 0;
}

bool PayloadResource::WriteToFile(const wchar_t* path) const {
  if (resource_ == nullptr) return false;
  HGLOBAL loaded = LoadResource(module_, resource_);
  if (loaded == nullptr) return false;
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return false;
  const DWORD size = SizeofResource(module_, resource_);

  // The work directory is new, so the file normally does not exist yet.
  // Creating it as new spares a truncation of nothing, which some file
  // systems answer by flushing the whole file when it is closed; an
  // existing file is still replaced.
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  // Straight from the mapped image: the archive is large and needs no copy.
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, bytes, size, &written, nullptr);
  const BOOL closed = CloseHandle(file);
  // A short write (a full disk) loses data just as a failed one does.
  if (wrote != FALSE && written == size && closed != FALSE) return true;
  // No path records a refused file for the clean-up, so it goes now.
  DeleteFileW(path);
  return false;
}

BOOL CALLBACK ExtractPayloadResource(HMODULE module, LPCWSTR type, LPWSTR name,
                                     LONG_PTR context) {
  PayloadPaths* paths = reinterpret_cast<PayloadPaths*>(context);
  if (paths == nullptr) return FALSE;
  PayloadResource resource(name, type, module);
  if (!resource.IsFound()) return FALSE;
  if (!IsAcceptedPayloadSize(resource.Size())) return FALSE;

  PathString path;
  if (!SafeCopy(path, kPathCapacity, paths->base_directory) ||
      !SafeAppend(path, kPathCapacity, name)) {
    return FALSE;
  }
  if (!resource.WriteToFile(path)) return FALSE;

  // Classified only after writing, so that a package with a stray resource
  // leaves it for inspection in the work directory.
  PathString* target = nullptr;
  if (StartsWithIgnoreCase(name, L"orvane")) {
    target = paths->archive_path;
  } else if (StartsWithIgnoreCase(name, L"setup")) {
    target = paths->setup_path;
  } else {
    return FALSE;
  }
  return SafeCopy(*target, kPathCapacity, path) ? TRUE : FALSE;
}

bool UnpackPayload(const InstallerOptions& options, HMODULE module,
                   const wchar_t* work_directory, PathString& archive_path,
                   PathString& setup_path) {
  PathString new_setup_path;
  if (!SafeCopy(new_setup_path, kPathCapacity, work_directory) ||
      !SafeAppend(new_setup_path, kPathCapacity, kSetupExeName)) {
    return false;
  }
  PayloadPaths paths = {work_directory, &archive_path, &setup_path};
  const LONG_PTR context = reinterpret_cast<LONG_PTR>(&paths);

  // The archive is required; without "B7" nothing else is looked at.
  if (!EnumResourceNamesW(module, L"B7", ExtractPayloadResource, context)) return false;
  if (archive_path.empty()) return false;

  // A patch next to the archive: the installed setup builds the new one.
  if (!setup_path.empty()) {
    if (!PatchInstalledSetup(options, setup_path, new_setup_path)) return false;
    SafeCopy(setup_path, kPathCapacity, new_setup_path);
    return true;
  }

  if (!EnumerationFound(EnumResourceNamesW(module, L"BL", ExtractPayloadResource, context))) {
    return false;
  }
  if (!setup_path.empty()) {
    const bool expanded = ExpandCabinet(setup_path, new_setup_path);
    DeleteFileW(setup_path);
    // A failed expansion may leave a partly written setup.exe: named here,
    // the final clean-up removes it with the rest.
    SafeCopy(setup_path, kPathCapacity, new_setup_path);
    return expanded;
  }

  if (!EnumerationFound(EnumResourceNamesW(module, L"BN", ExtractPayloadResource, context))) {
    return false;
  }
  if (!setup_path.empty() && lstrcmpiW(setup_path, new_setup_path) != 0) {
    if (MoveFileExW(setup_path, new_setup_path,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      SafeCopy(setup_path, kPathCapacity, new_setup_path);
    } else {
      DeleteFileW(setup_path);
      setup_path.Truncate(0);
    }
  }
  return !setup_path.empty();
}
