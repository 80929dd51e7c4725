// write_pattern: why the installer's run depends on which CPU it gets on this
// machine. Writes a mapped file to a new file, as the installer writes its
// archive, in rounds that alternate one WriteFile of everything with
// WriteFiles of 128 KiB (as cp writes), pausing before each round the way
// the end-to-end runs do; each new file is deleted at once.
//
//   write_pattern.exe <source> <destination> <rounds> <pause ms>
//
// Prints "one_ms=..." and "pieces_ms=..." (every round's write, the
// milliseconds from CreateFileW to the end of the last WriteFile), then
// the medians as "one_median_ms=" and "pieces_median_ms=".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr DWORD kPiece = 128 * 1024;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// The milliseconds the write took, or a negative number when it failed.
double TimeWrite(const wchar_t* destination, const char* bytes, DWORD size, bool in_pieces) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  HANDLE file = CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD total = 0;
  for (DWORD offset = 0; offset < size;) {
    const DWORD count = in_pieces ? std::min(kPiece, size - offset) : size;
    DWORD written = 0;
    if (!WriteFile(file, bytes + offset, count, &written, nullptr) || written != count) break;
    offset += written;
    total += written;
  }
  QueryPerformanceCounter(&to);
  CloseHandle(file);
  DeleteFileW(destination);
  return total == size ? Milliseconds(from, to) : -1;
}

void Print(const char* name, std::vector<double> values) {
  std::printf("%s_ms=", name);
  for (std::size_t i = 0; i < values.size(); ++i) std::printf(i ? ",%.1f" : "%.1f", values[i]);
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
  std::printf("\n%s_median_ms=%.1f\n", name, median);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: write_pattern <source> <destination> <rounds> <pause ms>\n");
    return 2;
  }
  const int rounds = _wtoi(argv[3]);
  const DWORD pause = static_cast<DWORD>(_wtoi(argv[4]));
  HANDLE source = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE || rounds < 1) return 2;
  const DWORD size = GetFileSize(source, nullptr);
  HANDLE mapping = CreateFileMappingW(source, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const char* bytes =
      mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (bytes == nullptr || size == 0 || size == INVALID_FILE_SIZE) return 2;

  // Both patterns from the same pages; the first pass only maps them.
  volatile char sink = 0;
  for (DWORD i = 0; i < size; i += 4096) sink = sink + bytes[i];

  std::vector<double> one, pieces;
  for (int r = 0; r < rounds; ++r) {
    for (const bool in_pieces : {false, true}) {
      Sleep(pause);
      const double ms = TimeWrite(argv[2], bytes, size, in_pieces);
      if (ms < 0) {
        std::fprintf(stderr, "write_pattern: cannot write %ls\n", argv[2]);
        return 1;
      }
      (in_pieces ? pieces : one).push_back(ms);
    }
  }
  Print("one", one);
  Print("pieces", pieces);
  UnmapViewOfFile(bytes);
  CloseHandle(mapping);
  CloseHandle(source);
  return 0;
}
