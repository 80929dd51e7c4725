#include "control/bounded_string.h"

const wchar_t kHexDigits[17] = L"0123456789ABCDEF";

namespace {

inline wchar_t FoldAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 0x20) : c;
}

std::uint32_t TextLength(const wchar_t* text) {
  std::uint32_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

}  // namespace

bool CharEqualIgnoreCase(wchar_t a, wchar_t b) { return FoldAscii(a) == FoldAscii(b); }

std::uint32_t BoundedLength(const wchar_t* text, std::uint32_t capacity) {
  if (text == nullptr || capacity == 0) return 0;
  const std::uint32_t limit = capacity - 1;
  for (std::uint32_t i = 0; i < limit; ++i) {
    if (text[i] == L'\0') return i;
  }
  return limit;
}

bool SafeCopy(wchar_t* destination, std::uint32_t capacity, const wchar_t* source) {
  if (destination == nullptr || capacity == 0) return false;
  if (source == nullptr) {
    destination[0] = L'\0';
    return false;
  }
  for (std::uint32_t i = 0; i < capacity; ++i) {
    destination[i] = source[i];
    if (source[i] == L'\0') return true;
  }
  destination[0] = L'\0';
  return false;
}

bool SafeAppend(wchar_t* destination, std::uint32_t capacity, const wchar_t* source) {
  if (destination == nullptr || capacity == 0) return false;
  const std::uint32_t n = BoundedLength(destination, capacity);
  return SafeCopy(destination + n, capacity - n, source);
}

bool HexEncode(const void* bytes, std::uint32_t count, wchar_t* destination,
               std::uint32_t capacity) {
  // 64-bit arithmetic: 2 * count must not wrap for huge counts.
  if (static_cast<std::uint64_t>(capacity) <= 2ull * count) return false;
  const auto* in = static_cast<const unsigned char*>(bytes);
  destination[2 * count] = L'\0';
  for (std::uint32_t i = 0; i < count; ++i) {
    destination[2 * i] = kHexDigits[in[i] >> 4];
    destination[2 * i + 1] = kHexDigits[in[i] & 0x0F];
  }
  return true;
}

bool StartsWithIgnoreCase(const wchar_t* text, const wchar_t* prefix) {
  if (text == nullptr || prefix == nullptr) return false;
  for (std::uint32_t i = 0; prefix[i] != L'\0'; ++i) {
    // A shorter text fails at its own NUL, so it is never read past it.
    if (!CharEqualIgnoreCase(text[i], prefix[i])) return false;
  }
  return true;
}

bool EndsWithIgnoreCase(const wchar_t* text, const wchar_t* suffix) {
  if (text == nullptr || suffix == nullptr) return false;
  std::int64_t j = static_cast<std::int64_t>(TextLength(suffix)) - 1;
  if (j < 0) return true;
  std::int64_t i = static_cast<std::int64_t>(TextLength(text)) - 1;
  for (; j >= 0; --i, --j) {
    if (i < 0 || !CharEqualIgnoreCase(text[i], suffix[j])) return false;
  }
  return true;
}

const wchar_t* FindIgnoreCase(const wchar_t* haystack, const wchar_t* needle) {
  if (needle == nullptr || needle[0] == L'\0') return haystack;
  if (haystack == nullptr) return nullptr;
  for (const wchar_t* s = haystack; *s != L'\0'; ++s) {
    std::uint32_t k = 0;
    while (needle[k] != L'\0' && CharEqualIgnoreCase(s[k], needle[k])) ++k;
    if (needle[k] == L'\0') return s;
  }
  return nullptr;
}

bool FindToken(const wchar_t* haystack, const wchar_t* token, const wchar_t** position) {
  // An empty token would match at the same place for ever; it never is one.
  if (token == nullptr || token[0] == L'\0') return false;
  const std::uint32_t length = TextLength(token);
  for (const wchar_t* p = FindIgnoreCase(haystack, token); p != nullptr;
       p = FindIgnoreCase(p + length, token)) {
    if (p[length] == L'-' || p[length] == L'\0') {
      if (position != nullptr) *position = p;
      return true;
    }
  }
  return false;
}

const wchar_t* FileNameOf(const wchar_t* path, std::uint32_t length) {
  if (path == nullptr || length < 2) return nullptr;
  for (std::uint32_t k = length - 1; k >= 1; --k) {
    if (path[k] == L'\\') return path + k + 1;
  }
  return nullptr;
}

wchar_t* FileNameOf(wchar_t* path, std::uint32_t length) {
  return const_cast<wchar_t*>(FileNameOf(static_cast<const wchar_t*>(path), length));
}
