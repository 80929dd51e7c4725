// Fixed-capacity UTF-16 text and the name matching used across the bootstrap.
//
// Every path, command line and registry text lives in a BoundedString<N>:
// N units of text plus NUL, and one guard unit at index N that is NUL from
// construction on and that no operation here ever writes when given the
// capacity N. Lengths, capacities and indexes count 16-bit units. Matching
// folds only the ASCII letters A-Z; no locale is involved. Nothing here
// allocates, and failures are reported only through the results.
#pragma once

#include <cstdint>

// The 16 upper-case digits, indexed by nibble value.
extern const wchar_t kHexDigits[17];

// Equal after folding 'A'-'Z' to 'a'-'z' on both sides.
bool CharEqualIgnoreCase(wchar_t a, wchar_t b);

// Units before the first NUL, never more than capacity - 1; 0 for a null
// text or capacity 0.
std::uint32_t BoundedLength(const wchar_t* text, std::uint32_t capacity);

// Copies source with its NUL. False when it does not fit: the destination is
// then the empty text (nothing is written for a null destination or capacity 0).
bool SafeCopy(wchar_t* destination, std::uint32_t capacity, const wchar_t* source);

// Appends source. False when it does not fit: the destination's text is then
// what it was.
bool SafeAppend(wchar_t* destination, std::uint32_t capacity, const wchar_t* source);

// Writes 2 * count upper-case digits (high nibble first) and a NUL. False,
// writing nothing, unless capacity > 2 * count.
bool HexEncode(const void* bytes, std::uint32_t count, wchar_t* destination,
               std::uint32_t capacity);

bool StartsWithIgnoreCase(const wchar_t* text, const wchar_t* prefix);
bool EndsWithIgnoreCase(const wchar_t* text, const wchar_t* suffix);

// First, leftmost occurrence of needle; the haystack itself for an empty or
// null needle; null when there is none.
const wchar_t* FindIgnoreCase(const wchar_t* haystack, const wchar_t* needle);

// Finds an occurrence of token followed by '-' or by the end of the text.
// position (may be null) receives it.
bool FindToken(const wchar_t* haystack, const wchar_t* token, const wchar_t** position);

// The unit after the last backslash among path[1 .. length-1]; null when
// length < 2 or there is none. Unit 0 never counts as a separator.
const wchar_t* FileNameOf(const wchar_t* path, std::uint32_t length);
wchar_t* FileNameOf(wchar_t* path, std::uint32_t length);

template <std::uint32_t N>
class BoundedString {
  static_assert(N > 0, "a BoundedString needs room for its NUL");

 public:
  static constexpr std::uint32_t kCapacity = N;

  BoundedString() {
    units_[0] = L'\0';
    units_[N] = L'\0';
  }
  BoundedString(const BoundedString&) = delete;
  BoundedString& operator=(const BoundedString&) = delete;

  // Ends the text at index when index < N; false, writing nothing, otherwise.
  bool Truncate(std::uint32_t index) {
    if (index >= N) return false;
    units_[index] = L'\0';
    return true;
  }

  wchar_t* data() { return units_; }
  const wchar_t* data() const { return units_; }
  operator wchar_t*() { return units_; }
  operator const wchar_t*() const { return units_; }
  constexpr std::uint32_t capacity() const { return N; }
  std::uint32_t length() const { return BoundedLength(units_, N); }
  bool empty() const { return units_[0] == L'\0'; }
  // The guard unit, for checks that it was never overwritten.
  wchar_t guard() const { return units_[N]; }

 private:
  wchar_t units_[N + 1];
};

constexpr std::uint32_t kPathCapacity = 260;
constexpr std::uint32_t kCommandCapacity = 1040;
constexpr std::uint32_t kTagCapacity = 128;

using PathString = BoundedString<kPathCapacity>;
using CommandString = BoundedString<kCommandCapacity>;
using TagString = BoundedString<kTagCapacity>;
