#include "workarea/work_directory.h"

namespace {

const wchar_t kWorkDirectoryPrefix[] = L"OV_";
const wchar_t kWorkDirectorySuffix[] = L".tmp";
constexpr std::uint32_t kNameDigits = 5;
constexpr int kAttempts = 10;
// Five digits, ".tmp", the backslash and the NUL.
constexpr std::uint32_t kRoomNeeded = kNameDigits + 4 + 1 + 1;

// The one place where the directory is made, so its security can be set here.
bool MakeDirectory(const wchar_t* path) { return CreateDirectoryW(path, nullptr) != FALSE; }

}  // namespace

std::uint32_t WorkDirectorySeed(std::uint32_t tick_count) {
  return tick_count ^ (tick_count >> 12);
}

bool CreateWorkDirectoryFromSeed(const wchar_t* base, std::uint32_t seed, PathString& out) {
  if (!SafeCopy(out, out.capacity(), base)) return false;
  if (!SafeAppend(out, out.capacity(), kWorkDirectoryPrefix)) return false;
  const std::uint32_t length = out.length();
  const std::uint32_t room = out.capacity() - length;
  if (room < kRoomNeeded) return false;

  for (int attempt = 0; attempt < kAttempts; ++attempt, ++seed) {
    // Least significant byte first, whatever the machine's byte order.
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(seed), static_cast<unsigned char>(seed >> 8),
        static_cast<unsigned char>(seed >> 16), static_cast<unsigned char>(seed >> 24)};
    if (!HexEncode(bytes, 4, out.data() + length, room)) return false;
    out.Truncate(length + kNameDigits);
    SafeAppend(out, out.capacity(), kWorkDirectorySuffix);
    // Any failure (name taken, access denied, folder missing) moves on.
    if (MakeDirectory(out)) return SafeAppend(out, out.capacity(), L"\\");
  }
  return false;
}

bool CreateWorkDirectoryIn(const wchar_t* base, PathString& out) {
  return CreateWorkDirectoryFromSeed(base, WorkDirectorySeed(GetTickCount()), out);
}

bool CreateWorkDirectory(HMODULE module, PathString& out) {
  PathString folder;
  const DWORD temp_length = GetTempPathW(folder.capacity(), folder);
  if (temp_length > 0 && temp_length < folder.capacity() && CreateWorkDirectoryIn(folder, out))
    return true;

  folder.Truncate(0);
  const DWORD module_length = GetModuleFileNameW(module, folder, folder.capacity());
  if (module_length == 0 || module_length >= folder.capacity()) return false;
  wchar_t* name = FileNameOf(folder, module_length);
  if (name == nullptr) return false;
  *name = L'\0';
  return CreateWorkDirectoryIn(folder, out);
}
