#include "integrity/md5.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using kavo_test::ScratchDirectory;
using kavo_test::WriteFileBytes;

std::string DigestOf(const void* bytes, std::uint32_t count) {
  Md5Digest digest;
  digest.Update(bytes, count);
  return digest.FinalHex().hex;
}

// Bytes (7 i + 3) mod 256: every value occurs, no run of equal bytes.
std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

TEST(Md5Digest, GivesTheRfc1321TestSuiteValues) {
  struct Case { const char* message; const char* digest; } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DigestOf(c.message, static_cast<std::uint32_t>(std::strlen(c.message))), c.digest)
        << '"' << c.message << '"';
  }
}

TEST(Md5Digest, WritesEveryByteAsTwoLowercaseDigits) {
  // Inputs chosen for their first digest byte: 0x00, 0x0A and 0xAB.
  struct Case { const char* message; const char* digest; } cases[] = {
      {"kavo115", "00f6319ff915359b2cbe10c95eafca42"},
      {"kavo29", "0a940c7963c7433301321f06007fd6d2"},
      {"kavo191", "ab1c8cfa714553405f21899b9bcd9353"},
  };
  for (const Case& c : cases) {
    const std::string text = DigestOf(c.message, static_cast<std::uint32_t>(std::strlen(c.message)));
    EXPECT_EQ(text, c.digest);
    EXPECT_EQ(text.size(), 32u);
  }
}

// Any split of the message into Update calls gives the same digest: pieces
// that end inside a block, that fill it exactly, and that span several.
TEST(Md5Digest, DigestDoesNotDependOnHowTheBytesArrive) {
  const std::string bytes = Pattern(3000);
  const std::string whole = DigestOf(bytes.data(), 3000);
  EXPECT_EQ(whole, "bb3132c5a6978faf98b3c4c00122cc2f");
  for (std::uint32_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 1024u, 2999u}) {
    Md5Digest digest;
    for (std::uint32_t at = 0; at < 3000; at += piece) {
      digest.Update(bytes.data() + at, std::min<std::uint32_t>(piece, 3000 - at));
    }
    EXPECT_EQ(std::string(digest.FinalHex().hex), whole) << "pieces of " << piece;
  }
  Md5Digest with_empty_updates;
  with_empty_updates.Update(bytes.data(), 10);
  with_empty_updates.Update(bytes.data() + 10, 0);
  with_empty_updates.Update(nullptr, 0);
  with_empty_updates.Update(bytes.data() + 10, 2990);
  EXPECT_EQ(std::string(with_empty_updates.FinalHex().hex), whole);
}

// Past 2^32 message bits the count carries into its high word; one Update of
// 2^29 bytes (2^32 bits) reaches it through the count >> 29 term alone.
TEST(Md5Digest, CountsBeyond512MebibytesInTheHighWord) {
  std::vector<unsigned char> zeros(1u << 29, 0);
  EXPECT_EQ(DigestOf(zeros.data(), 1u << 29), "aa559b4e3523a6c931f08f4df52d58f2");
  Md5Digest digest;
  for (int i = 0; i < 600; ++i) digest.Update(zeros.data(), 1u << 20);
  EXPECT_EQ(std::string(digest.FinalHex().hex), "e4d6540f99f187bab7d5e0f47e5969a9");
}

TEST(Md5HexOfFile, GivesTheDigestOfFilesAroundTheBlockAndPieceSizes) {
  // 55 bytes leave room for the count in the last block; from 56 on the
  // padding spans two blocks; over 1024 bytes the file is read in pieces.
  struct Case { size_t size; const char* digest; } cases[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e"},  {55, "52c0e574e1198de5fe3f8f11440dcb1b"},
      {56, "46c9907fc908ee68b1e7b8e71286a518"}, {63, "a62f6d59e837867693f042f5b8f5a236"},
      {64, "7160b8fb5e9e4023d549c3971fbaeead"}, {65, "70bd662e7aefbda85a0f7244167b7897"},
      {3000, "bb3132c5a6978faf98b3c4c00122cc2f"},
  };
  ScratchDirectory folder(L"kavo_md5");
  for (const Case& c : cases) {
    const std::wstring path = folder / (L"file_" + std::to_wstring(c.size) + L".bin");
    const std::string bytes = Pattern(c.size);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    EXPECT_EQ(std::string(Md5HexOfFile(path.c_str()).hex), c.digest) << c.size << " bytes";
    EXPECT_EQ(std::string(Md5HexOfFile(path.c_str()).hex),
              DigestOf(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  }
}

TEST(Md5HexOfFile, GivesNoDigestWhenThereIsNothingToRead) {
  ScratchDirectory folder(L"kavo_md5");
  const std::wstring missing = folder / L"missing.bin";
  EXPECT_TRUE(Md5HexOfFile(nullptr).empty());
  EXPECT_TRUE(Md5HexOfFile(L"").empty());
  EXPECT_TRUE(Md5HexOfFile(missing.c_str()).empty());
  EXPECT_TRUE(Md5HexOfFile(folder.path().c_str()).empty());  // a directory
}

TEST(Md5HexOfStream, ClosesTheStreamAndGivesNoDigestOnAReadError) {
  ScratchDirectory folder(L"kavo_md5");
  const std::wstring path = folder / L"data.bin";
  ASSERT_TRUE(WriteFileBytes(path, Pattern(3000)));

  EXPECT_TRUE(Md5HexOfStream(nullptr).empty());

  std::FILE* stream = _wfopen(path.c_str(), L"rb");
  ASSERT_NE(stream, nullptr);
  std::fgetc(stream);  // what was read before is not part of the digest
  EXPECT_EQ(std::string(Md5HexOfStream(stream).hex), [] {
    const std::string rest = Pattern(3000).substr(1);
    return DigestOf(rest.data(), 2999);
  }());
  // Closed: the file can be removed at once.
  EXPECT_TRUE(DeleteFileW(path.c_str()));

  // A stream on a handle without read access fails its first read: no
  // digest, not the digest of the empty message.
  HANDLE write_only = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(write_only, INVALID_HANDLE_VALUE);
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(write_only), _O_RDONLY);
  ASSERT_GE(descriptor, 0);
  std::FILE* failing = _fdopen(descriptor, "rb");
  ASSERT_NE(failing, nullptr);
  EXPECT_TRUE(Md5HexOfStream(failing).empty());
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST(WideToNarrow, ConvertsWholeTextsOrNothing) {
  char out[16];
  EXPECT_EQ(WideToNarrow(L"abc", CP_ACP, out, sizeof out), 3u);
  EXPECT_STREQ(out, "abc");
  // U+03A9 U+0436 U+4E2D: 2 + 2 + 3 bytes of UTF-8.
  EXPECT_EQ(WideToNarrow(L"\u03A9\u0436\u4E2D", CP_UTF8, out, sizeof out), 7u);
  EXPECT_STREQ(out, "\xCE\xA9\xD0\xB6\xE4\xB8\xAD");

  struct Case { const wchar_t* text; std::uint32_t capacity; } empty_cases[] = {
      {L"", 16}, {nullptr, 16}, {L"\u4E2D\u4E2D\u4E2D\u4E2D\u4E2D", 15}, {L"abcd", 4}};
  for (const Case& c : empty_cases) {
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(WideToNarrow(c.text, CP_UTF8, out, c.capacity), 0u);
    EXPECT_STREQ(out, "");
  }
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(WideToNarrow(L"abc", CP_UTF8, out, 0), 0u);
  EXPECT_EQ(out[0], 'x');
  EXPECT_EQ(WideToNarrow(L"abcd", CP_UTF8, out, 5), 4u);
  EXPECT_STREQ(out, "abcd");
}

}  // namespace
