#include "integrity/md5.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

// 0x80 and zeros: what FinalHex appends before the bit count.
const unsigned char kPadding[64] = {0x80};

const char kLowerHexDigits[] = "0123456789abcdef";

// Loads of the message words: on the little-endian targets a plain 4-byte
// load, which the compiler folds into the add that uses it.
inline __attribute__((always_inline)) std::uint32_t LoadWord(const unsigned char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
#else
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
#endif
}

inline __attribute__((always_inline)) void StoreWord(std::uint32_t word, unsigned char* p) {
  p[0] = static_cast<unsigned char>(word);
  p[1] = static_cast<unsigned char>(word >> 8);
  p[2] = static_cast<unsigned char>(word >> 16);
  p[3] = static_cast<unsigned char>(word >> 24);
}

template <int S>
inline __attribute__((always_inline)) std::uint32_t RotateLeft(std::uint32_t x) {
  return (x << S) | (x >> (32 - S));
}

// One step each. MD5 is a single dependency chain through b: every step
// first adds what does not depend on b (message word, constant, and the part
// of the round function made of c and d only), so that after b arrives only
// the shortest tail is left.
//
// F(b,c,d) = (b AND c) OR (NOT b AND d) = d XOR (b AND (c XOR d)).
template <int S, std::uint32_t T>
inline __attribute__((always_inline)) void StepF(std::uint32_t& a, std::uint32_t b,
                                                 std::uint32_t c, std::uint32_t d,
                                                 std::uint32_t x) {
  a += x + T;
  a += d ^ (b & (c ^ d));
  a = RotateLeft<S>(a) + b;
}

// G(b,c,d) = (b AND d) OR (c AND NOT d). The two halves never share a set
// bit, so OR is addition and the half without b is added early.
template <int S, std::uint32_t T>
inline __attribute__((always_inline)) void StepG(std::uint32_t& a, std::uint32_t b,
                                                 std::uint32_t c, std::uint32_t d,
                                                 std::uint32_t x) {
  a += x + T;
  a += c & ~d;
  a += b & d;
  a = RotateLeft<S>(a) + b;
}

// H(b,c,d) = b XOR c XOR d.
template <int S, std::uint32_t T>
inline __attribute__((always_inline)) void StepH(std::uint32_t& a, std::uint32_t b,
                                                 std::uint32_t c, std::uint32_t d,
                                                 std::uint32_t x) {
  a += x + T;
  a += b ^ (c ^ d);
  a = RotateLeft<S>(a) + b;
}

// I(b,c,d) = c XOR (b OR NOT d).
template <int S, std::uint32_t T>
inline __attribute__((always_inline)) void StepI(std::uint32_t& a, std::uint32_t b,
                                                 std::uint32_t c, std::uint32_t d,
                                                 std::uint32_t x) {
  a += x + T;
  a += c ^ (b | ~d);
  a = RotateLeft<S>(a) + b;
}

}  // namespace

Md5Digest::Md5Digest() : buffer_{}, count_{0, 0}, state_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476} {}

void Md5Digest::Update(const void* bytes, std::uint32_t count) {
  const unsigned char* input = static_cast<const unsigned char*>(bytes);
  std::uint32_t index = (count_[0] >> 3) & 0x3F;

  const std::uint32_t bits = count << 3;
  count_[0] += bits;
  if (count_[0] < bits) ++count_[1];
  count_[1] += count >> 29;

  const std::uint32_t part = 64 - index;
  std::uint32_t i = 0;
  if (count >= part) {
    std::memcpy(&buffer_[index], input, part);
    Transform(buffer_);
    // Whole blocks straight from the caller's bytes.
    for (i = part; count - i >= 64; i += 64) Transform(input + i);
    index = 0;
  }
  std::memcpy(&buffer_[index], input + i, count - i);
}

void Md5Digest::Transform(const unsigned char* block) {
  std::uint32_t a = state_[0];
  std::uint32_t b = state_[1];
  std::uint32_t c = state_[2];
  std::uint32_t d = state_[3];
  const unsigned char* x = block;
#define KAVO_X(k) LoadWord(x + 4 * (k))

  StepF<7, 0xd76aa478>(a, b, c, d, KAVO_X(0));
  StepF<12, 0xe8c7b756>(d, a, b, c, KAVO_X(1));
  StepF<17, 0x242070db>(c, d, a, b, KAVO_X(2));
  StepF<22, 0xc1bdceee>(b, c, d, a, KAVO_X(3));
  StepF<7, 0xf57c0faf>(a, b, c, d, KAVO_X(4));
  StepF<12, 0x4787c62a>(d, a, b, c, KAVO_X(5));
  StepF<17, 0xa8304613>(c, d, a, b, KAVO_X(6));
  StepF<22, 0xfd469501>(b, c, d, a, KAVO_X(7));
  StepF<7, 0x698098d8>(a, b, c, d, KAVO_X(8));
  StepF<12, 0x8b44f7af>(d, a, b, c, KAVO_X(9));
  StepF<17, 0xffff5bb1>(c, d, a, b, KAVO_X(10));
  StepF<22, 0x895cd7be>(b, c, d, a, KAVO_X(11));
  StepF<7, 0x6b901122>(a, b, c, d, KAVO_X(12));
  StepF<12, 0xfd987193>(d, a, b, c, KAVO_X(13));
  StepF<17, 0xa679438e>(c, d, a, b, KAVO_X(14));
  StepF<22, 0x49b40821>(b, c, d, a, KAVO_X(15));

  StepG<5, 0xf61e2562>(a, b, c, d, KAVO_X(1));
  StepG<9, 0xc040b340>(d, a, b, c, KAVO_X(6));
  StepG<14, 0x265e5a51>(c, d, a, b, KAVO_X(11));
  StepG<20, 0xe9b6c7aa>(b, c, d, a, KAVO_X(0));
  StepG<5, 0xd62f105d>(a, b, c, d, KAVO_X(5));
  StepG<9, 0x02441453>(d, a, b, c, KAVO_X(10));
  StepG<14, 0xd8a1e681>(c, d, a, b, KAVO_X(15));
  StepG<20, 0xe7d3fbc8>(b, c, d, a, KAVO_X(4));
  StepG<5, 0x21e1cde6>(a, b, c, d, KAVO_X(9));
  StepG<9, 0xc33707d6>(d, a, b, c, KAVO_X(14));
  StepG<14, 0xf4d50d87>(c, d, a, b, KAVO_X(3));
  StepG<20, 0x455a14ed>(b, c, d, a, KAVO_X(8));
  StepG<5, 0xa9e3e905>(a, b, c, d, KAVO_X(13));
  StepG<9, 0xfcefa3f8>(d, a, b, c, KAVO_X(2));
  StepG<14, 0x676f02d9>(c, d, a, b, KAVO_X(7));
  StepG<20, 0x8d2a4c8a>(b, c, d, a, KAVO_X(12));

  StepH<4, 0xfffa3942>(a, b, c, d, KAVO_X(5));
  StepH<11, 0x8771f681>(d, a, b, c, KAVO_X(8));
  StepH<16, 0x6d9d6122>(c, d, a, b, KAVO_X(11));
  StepH<23, 0xfde5380c>(b, c, d, a, KAVO_X(14));
  StepH<4, 0xa4beea44>(a, b, c, d, KAVO_X(1));
  StepH<11, 0x4bdecfa9>(d, a, b, c, KAVO_X(4));
  StepH<16, 0xf6bb4b60>(c, d, a, b, KAVO_X(7));
  StepH<23, 0xbebfbc70>(b, c, d, a, KAVO_X(10));
  StepH<4, 0x289b7ec6>(a, b, c, d, KAVO_X(13));
  StepH<11, 0xeaa127fa>(d, a, b, c, KAVO_X(0));
  StepH<16, 0xd4ef3085>(c, d, a, b, KAVO_X(3));
  StepH<23, 0x04881d05>(b, c, d, a, KAVO_X(6));
  StepH<4, 0xd9d4d039>(a, b, c, d, KAVO_X(9));
  StepH<11, 0xe6db99e5>(d, a, b, c, KAVO_X(12));
  StepH<16, 0x1fa27cf8>(c, d, a, b, KAVO_X(15));
  StepH<23, 0xc4ac5665>(b, c, d, a, KAVO_X(2));

  StepI<6, 0xf4292244>(a, b, c, d, KAVO_X(0));
  StepI<10, 0x432aff97>(d, a, b, c, KAVO_X(7));
  StepI<15, 0xab9423a7>(c, d, a, b, KAVO_X(14));
  StepI<21, 0xfc93a039>(b, c, d, a, KAVO_X(5));
  StepI<6, 0x655b59c3>(a, b, c, d, KAVO_X(12));
  StepI<10, 0x8f0ccc92>(d, a, b, c, KAVO_X(3));
  StepI<15, 0xffeff47d>(c, d, a, b, KAVO_X(10));
  StepI<21, 0x85845dd1>(b, c, d, a, KAVO_X(1));
  StepI<6, 0x6fa87e4f>(a, b, c, d, KAVO_X(8));
  StepI<10, 0xfe2ce6e0>(d, a, b, c, KAVO_X(15));
  StepI<15, 0xa3014314>(c, d, a, b, KAVO_X(6));
  StepI<21, 0x4e0811a1>(b, c, d, a, KAVO_X(13));
  StepI<6, 0xf7537e82>(a, b, c, d, KAVO_X(4));
  StepI<10, 0xbd3af235>(d, a, b, c, KAVO_X(11));
  StepI<15, 0x2ad7d2bb>(c, d, a, b, KAVO_X(2));
  StepI<21, 0xeb86d391>(b, c, d, a, KAVO_X(9));
#undef KAVO_X

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

DigestText Md5Digest::FinalHex() {
  unsigned char bit_count[8];
  StoreWord(count_[0], bit_count);
  StoreWord(count_[1], bit_count + 4);

  const std::uint32_t index = (count_[0] >> 3) & 0x3F;
  Update(kPadding, index < 56 ? 56 - index : 120 - index);
  Update(bit_count, sizeof bit_count);

  unsigned char digest[16];
  for (int i = 0; i < 4; ++i) StoreWord(state_[i], digest + 4 * i);

  DigestText text;
  for (int i = 0; i < 16; ++i) {
    text.hex[2 * i] = kLowerHexDigits[digest[i] >> 4];
    text.hex[2 * i + 1] = kLowerHexDigits[digest[i] & 0x0F];
  }
  text.hex[32] = '\0';
  return text;
}

DigestText Md5HexOfStream(std::FILE* stream) {
  DigestText text;
  if (stream == nullptr) return text;
  Md5Digest digest;
  unsigned char piece[1024];
  for (;;) {
    const std::size_t n = std::fread(piece, 1, sizeof piece, stream);
    if (n == 0) break;
    digest.Update(piece, static_cast<std::uint32_t>(n));
  }
  // A read error is no digest: a partial one must never be taken for the file's.
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) return text;
  return digest.FinalHex();
}

DigestText Md5HexOfFile(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return DigestText();
  std::FILE* stream = _wfopen(path, L"rb");
  if (stream == nullptr) return DigestText();
  // The runtime's default 4 KiB buffer costs one system call per four
  // pieces; 64 KiB made the whole check about a tenth faster. The stream is
  // closed before this frame ends.
  char stream_buffer[64 * 1024];
  std::setvbuf(stream, stream_buffer, _IOFBF, sizeof stream_buffer);
  return Md5HexOfStream(stream);
}

std::uint32_t WideToNarrow(const wchar_t* text, unsigned code_page, char* destination,
                           std::uint32_t capacity) {
  if (destination == nullptr || capacity == 0) return 0;
  destination[0] = '\0';
  if (text == nullptr || text[0] == L'\0') return 0;
  const std::size_t length = std::wcslen(text);
  if (length > 0x7FFFFFFF) return 0;
  const int units = static_cast<int>(length);
  const int n = WideCharToMultiByte(code_page, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (n <= 0 || static_cast<std::uint32_t>(n) > capacity - 1) return 0;
  WideCharToMultiByte(code_page, 0, text, units, destination, n, nullptr, nullptr);
  destination[n] = '\0';
  return static_cast<std::uint32_t>(n);
}
