#include "payload/cabinet.h"

#include "control/bounded_string.h"

const wchar_t* const kCabinetLibraryPaths[3] = {
    L"%WINDIR%\\system32\\cabinet.dll",
    L"%SYSTEMROOT%\\system32\\cabinet.dll",
    L"C:\\Windows\\system32\\cabinet.dll",
};

namespace {

// Filled by the first successful load and never released.
CabinetLibrary g_cabinet = {};

// FDI's open flags (the C runtime's _O_* values).
constexpr int kOpenWriteOnly = 0x0001;
constexpr int kOpenReadWrite = 0x0002;
constexpr int kOpenCreate = 0x0100;

// Attribute bits that the cabinet and Win32 share: read-only, hidden,
// system, archive.
constexpr USHORT kCarriedAttributes = 0x27;

// What one FDICopy call hands to FdiNotify: where every file of the cabinet
// goes, and how many were written there in full.
struct Expansion {
  const wchar_t* destination;
  std::uint32_t files_written;
  LONG expected_size;  // of the file being written, as the cabinet states it
};

HANDLE AsHandle(INT_PTR value) { return reinterpret_cast<HANDLE>(value); }
INT_PTR AsInt(HANDLE handle) { return reinterpret_cast<INT_PTR>(handle); }

}  // namespace

const CabinetLibrary& LoadedCabinetLibrary() { return g_cabinet; }

bool LoadCabinetLibrary() {
  if (g_cabinet.module == nullptr) {
    for (const wchar_t* candidate : kCabinetLibraryPaths) {
      PathString path;
      const DWORD n = ExpandEnvironmentStringsW(candidate, path, kPathCapacity);
      if (n < 1 || n > kPathCapacity) continue;
      // A full path only: the library is never searched for next to the
      // program or in its current directory.
      g_cabinet.module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (g_cabinet.module != nullptr) break;
    }
    if (g_cabinet.module == nullptr) return false;
  }
  g_cabinet.create = reinterpret_cast<decltype(&FDICreate)>(
      reinterpret_cast<void*>(GetProcAddress(g_cabinet.module, "FDICreate")));
  g_cabinet.destroy = reinterpret_cast<decltype(&FDIDestroy)>(
      reinterpret_cast<void*>(GetProcAddress(g_cabinet.module, "FDIDestroy")));
  g_cabinet.copy = reinterpret_cast<decltype(&FDICopy)>(
      reinterpret_cast<void*>(GetProcAddress(g_cabinet.module, "FDICopy")));
  return g_cabinet.create != nullptr && g_cabinet.destroy != nullptr &&
         g_cabinet.copy != nullptr;
}

bool ExpandCabinet(const wchar_t* cabinet_path, const wchar_t* destination_path) {
  if (!LoadCabinetLibrary()) return false;
  const int length = lstrlenW(cabinet_path);
  const wchar_t* file_name = FileNameOf(cabinet_path, static_cast<std::uint32_t>(length));
  if (file_name == nullptr) return false;

  // FDI takes the folder (with its backslash) and the name separately, as
  // UTF-8; the names come back to FdiOpen joined.
  char* name = WideToUtf8(file_name, -1);
  char* directory = WideToUtf8(cabinet_path, static_cast<int>(file_name - cabinet_path));
  bool ok = false;
  if (name != nullptr && directory != nullptr) {
    ERF error = {};
    HFDI context = g_cabinet.create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose,
                                    FdiSeek, cpuUNKNOWN, &error);
    if (context != nullptr) {
      Expansion expansion = {destination_path, 0, 0};
      // A cabinet that holds no file "succeeds" in FDI, yet yields no setup
      // program: that is a failed expansion too.
      ok = g_cabinet.copy(context, name, directory, 0, FdiNotify, nullptr, &expansion) != FALSE &&
           expansion.files_written > 0;
      g_cabinet.destroy(context);
    }
  }
  if (name != nullptr) HeapFree(GetProcessHeap(), 0, name);
  if (directory != nullptr) HeapFree(GetProcessHeap(), 0, directory);
  return ok;
}

char* WideToUtf8(const wchar_t* text, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (n == 0) return nullptr;
  // An explicit length converts no terminator: room for one more byte.
  const int size = length == -1 ? n : n + 1;
  char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size)));
  if (block == nullptr) return nullptr;
  WideCharToMultiByte(CP_UTF8, 0, text, length, block, n, nullptr, nullptr);
  if (length != -1) block[n] = '\0';
  return block;
}

wchar_t* Utf8ToWide(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (n == 0) return nullptr;
  wchar_t* block = static_cast<wchar_t*>(
      HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(n) * sizeof(wchar_t)));
  if (block == nullptr) return nullptr;
  MultiByteToWideChar(CP_UTF8, 0, text, -1, block, n);
  return block;
}

FNALLOC(FdiAlloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }

FNFREE(FdiFree) { HeapFree(GetProcessHeap(), 0, pv); }

FNOPEN(FdiOpen) {
  (void)pmode;
  DWORD access = GENERIC_READ;
  if (oflag & kOpenReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else if (oflag & kOpenWriteOnly) {
    access = GENERIC_WRITE;
  }
  const DWORD creation = (oflag & kOpenCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
  wchar_t* wide = Utf8ToWide(pszFile);
  if (wide == nullptr) return AsInt(INVALID_HANDLE_VALUE);
  HANDLE file = CreateFileW(wide, access, FILE_SHARE_READ, nullptr, creation,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  HeapFree(GetProcessHeap(), 0, wide);
  return AsInt(file);
}

FNREAD(FdiRead) {
  DWORD done = 0;
  if (!ReadFile(AsHandle(hf), pv, cb, &done, nullptr)) return static_cast<UINT>(-1);
  return done;
}

FNWRITE(FdiWrite) {
  DWORD done = 0;
  // A short write (a full disk) is a failure, not a shorter file.
  if (!WriteFile(AsHandle(hf), pv, cb, &done, nullptr) || done != cb) return static_cast<UINT>(-1);
  return done;
}

FNCLOSE(FdiClose) { return CloseHandle(AsHandle(hf)) ? 0 : -1; }

FNSEEK(FdiSeek) {
  // FDI's origins 0, 1, 2 are FILE_BEGIN, FILE_CURRENT, FILE_END.
  return static_cast<__LONG32>(
      SetFilePointer(AsHandle(hf), dist, nullptr, static_cast<DWORD>(seektype)));
}

FNFDINOTIFY(FdiNotify) {
  Expansion* expansion = static_cast<Expansion*>(pfdin->pv);
  const wchar_t* destination = expansion->destination;
  switch (fdint) {
    case fdintCABINET_INFO:
      return 0;
    case fdintCOPY_FILE:
      expansion->expected_size = pfdin->cb;
      // Every file of the cabinet goes to the one destination; the stored
      // name is never used as a path.
      return AsInt(CreateFileW(destination, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    case fdintCLOSE_FILE_INFO: {
      FILETIME local = {};
      FILETIME utc = {};
      if (DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) &&
          LocalFileTimeToFileTime(&local, &utc)) {
        SetFileTime(AsHandle(pfdin->hf), &utc, nullptr, nullptr);
      }
      // FDI does not stop on a failed write (a full disk): the file must
      // have the size the cabinet gives it.
      LARGE_INTEGER size = {};
      const bool whole = GetFileSizeEx(AsHandle(pfdin->hf), &size) &&
                         size.QuadPart == expansion->expected_size;
      const bool closed = FdiClose(pfdin->hf) == 0;
      SetFileAttributesW(destination, pfdin->attribs & kCarriedAttributes);
      if (!closed || !whole) return FALSE;
      ++expansion->files_written;
      return TRUE;
    }
    case fdintENUMERATE:
      return 0;
    case fdintPARTIAL_FILE:    // continued from another cabinet
    case fdintNEXT_CABINET:    // continued into another cabinet
    default:
      return -1;
  }
}
