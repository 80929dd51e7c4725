// md5_bench: MD5 throughput of the bootstrap's digest code.
//
//   md5_bench.exe <file> [repeats]
//
// Prints, one "name=value" per line: Md5Digest::Update on 256 MiB in memory
// (MB/s, TSC cycles per byte), Md5HexOfFile on <file> (MB/s and its digest),
// and, for the choice of the stream buffer, the same 1024-byte fread loop
// with the C runtime's default buffer and with a 64 KiB one. MB are 10^6
// bytes. The best of [repeats] (default 5) runs counts.
#include <windows.h>
#include <intrin.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "integrity/md5.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Md5HexOfStream with the given stream buffer (none: the default).
DigestText DigestWithBuffer(const wchar_t* path, char* buffer, std::size_t size) {
  std::FILE* stream = _wfopen(path, L"rb");
  if (stream == nullptr) return DigestText();
  if (buffer != nullptr) std::setvbuf(stream, buffer, _IOFBF, size);
  return Md5HexOfStream(stream);
}

std::uint64_t FileSize(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: md5_bench <file> [repeats]\n");
    return 2;
  }
  const wchar_t* path = argv[1];
  const int repeats = argc > 2 ? _wtoi(argv[2]) : 5;
  const std::uint64_t file_size = FileSize(path);
  if (file_size == 0 || repeats < 1) {
    std::fprintf(stderr, "md5_bench: no file to read\n");
    return 2;
  }

  const std::uint32_t memory_size = 256u << 20;
  unsigned char* memory = static_cast<unsigned char*>(
      VirtualAlloc(nullptr, memory_size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (memory == nullptr) return 3;
  for (std::uint32_t i = 0; i < memory_size; ++i) memory[i] = static_cast<unsigned char>(i * 131 + (i >> 13));

  double best_memory = 1e30;
  double best_cycles = 1e30;
  DigestText memory_digest;
  for (int r = 0; r < repeats; ++r) {
    LARGE_INTEGER from, to;
    Md5Digest digest;
    QueryPerformanceCounter(&from);
    const unsigned long long cycles_from = __rdtsc();
    digest.Update(memory, memory_size);
    const unsigned long long cycles_to = __rdtsc();
    QueryPerformanceCounter(&to);
    memory_digest = digest.FinalHex();
    const double seconds = Seconds(from, to);
    if (seconds < best_memory) best_memory = seconds;
    const double cycles = static_cast<double>(cycles_to - cycles_from) / memory_size;
    if (cycles < best_cycles) best_cycles = cycles;
  }
  VirtualFree(memory, 0, MEM_RELEASE);

  double best_file = 1e30;
  DigestText file_digest;
  for (int r = 0; r < repeats; ++r) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    file_digest = Md5HexOfFile(path);
    QueryPerformanceCounter(&to);
    const double seconds = Seconds(from, to);
    if (seconds < best_file) best_file = seconds;
  }

  static char large_buffer[64 * 1024];
  double best_default = 1e30;
  double best_large = 1e30;
  bool same = true;
  for (int r = 0; r < repeats; ++r) {
    LARGE_INTEGER a, b, c;
    QueryPerformanceCounter(&a);
    const DigestText with_default = DigestWithBuffer(path, nullptr, 0);
    QueryPerformanceCounter(&b);
    const DigestText with_large = DigestWithBuffer(path, large_buffer, sizeof large_buffer);
    QueryPerformanceCounter(&c);
    same = same && std::strcmp(with_default.hex, file_digest.hex) == 0 &&
           std::strcmp(with_large.hex, file_digest.hex) == 0;
    if (Seconds(a, b) < best_default) best_default = Seconds(a, b);
    if (Seconds(b, c) < best_large) best_large = Seconds(b, c);
  }

  const double mb = 1e6;
  std::printf("update_bytes=%u\n", memory_size);
  std::printf("update_mb_per_s=%.1f\n", memory_size / best_memory / mb);
  std::printf("update_tsc_cycles_per_byte=%.3f\n", best_cycles);
  std::printf("update_digest=%s\n", memory_digest.hex);
  std::printf("file_bytes=%llu\n", static_cast<unsigned long long>(file_size));
  std::printf("file_mb_per_s=%.1f\n", file_size / best_file / mb);
  std::printf("file_seconds=%.4f\n", best_file);
  std::printf("file_digest=%s\n", file_digest.hex);
  std::printf("file_default_buffer_mb_per_s=%.1f\n", file_size / best_default / mb);
  std::printf("file_64k_buffer_mb_per_s=%.1f\n", file_size / best_large / mb);
  std::printf("buffer_variants_agree=%d\n", same ? 1 : 0);
  return 0;
}
