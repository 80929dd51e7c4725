// MD5 (RFC 1321) in its reference structure, and the digest of a file.
#pragma once

#include <cstdint>
#include <cstdio>

// 32 lowercase hex digits and a NUL; the empty text means "no digest".
struct DigestText {
  char hex[33] = {};
  bool empty() const { return hex[0] == '\0'; }
};

class Md5Digest {
 public:
  Md5Digest();
  virtual ~Md5Digest() = default;

  // Takes count more message bytes. Full blocks are transformed straight
  // from bytes.
  void Update(const void* bytes, std::uint32_t count);
  // Compresses one 64-byte block into the state.
  void Transform(const unsigned char* block);
  // Pads, appends the bit count and returns the digest text. Once per context.
  DigestText FinalHex();

 private:
  unsigned char buffer_[64];
  std::uint32_t count_[2];  // bit count, low word first
  std::uint32_t state_[4];  // A, B, C, D
};

// Digest of everything still readable from stream, which it closes. Empty
// for a null stream.
DigestText Md5HexOfStream(std::FILE* stream);

// Digest of the file at path (UTF-16, opened with _wfopen "rb"); empty when
// the path is empty or the file cannot be opened.
DigestText Md5HexOfFile(const wchar_t* path);

// text in the given code page, without terminator counting; writes at most
// capacity - 1 bytes and a NUL. The empty text for an empty input, a failed
// conversion or one that does not fit (never a cut-off character). Returns
// the number of bytes written.
std::uint32_t WideToNarrow(const wchar_t* text, unsigned code_page, char* destination,
                           std::uint32_t capacity);
