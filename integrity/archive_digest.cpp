#include "integrity/archive_digest.h"

#include <cstring>

#include "integrity/md5.h"

bool CheckArchiveDigest(HMODULE module, const wchar_t* archive_path) {
  const DigestText digest = Md5HexOfFile(archive_path);

  // A longer string is cut to its first 32 characters; a missing one leaves
  // the buffer empty.
  char expected[33] = {};
  LoadStringA(module, kArchiveDigestStringId, expected, sizeof expected);

  // No digest matches nothing, not even a missing string 130.
  if (digest.empty()) return false;
  return std::strcmp(digest.hex, expected) == 0;
}
