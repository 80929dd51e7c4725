#include "control/bounded_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

// A capacity-N BoundedString whose units 0..N-1 all hold 'x' (no NUL): what a
// system call that filled the whole buffer leaves.
template <std::uint32_t N>
void FillWithoutTerminator(BoundedString<N>& s) {
  for (std::uint32_t i = 0; i < N; ++i) s.data()[i] = L'x';
}

TEST(CharEqualIgnoreCase, FoldsOnlyAsciiCapitals) {
  struct Case { wchar_t a, b; bool equal; } cases[] = {
      {0x41, 0x61, true},   {0x5A, 0x7A, true},   {0x61, 0x41, true},
      {0x40, 0x60, false},  {0x5B, 0x7B, false},  {0x00C4, 0x00E4, false},
      {0x0391, 0x03B1, false}, {L'1', L'1', true}, {0xFFFF, 0xFFFF, true},
      {0x0141, 0x0161, false},  // 16-bit units: 0x0141 - 0x0100 would be 'A'
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharEqualIgnoreCase(c.a, c.b), c.equal) << std::hex << c.a << " " << c.b;
  }
}

TEST(BoundedLength, NeverRunsPastTheCapacity) {
  std::wstring long_text = Repeat(L'a', 300);
  EXPECT_EQ(BoundedLength(long_text.c_str(), 260), 259u);
  EXPECT_EQ(BoundedLength(nullptr, 260), 0u);
  EXPECT_EQ(BoundedLength(L"abc", 0), 0u);
  EXPECT_EQ(BoundedLength(L"abc", 1), 0u);
  EXPECT_EQ(BoundedLength(L"abc", 4), 3u);
  EXPECT_EQ(BoundedLength(L"abc", 3), 2u);
  EXPECT_EQ(BoundedLength(L"", 260), 0u);
}

TEST(SafeCopy, CopiesWhatFitsAndEmptiesOnFailure) {
  PathString s;
  EXPECT_TRUE(SafeCopy(s, 260, Repeat(L'a', 259).c_str()));
  EXPECT_EQ(s.length(), 259u);
  EXPECT_EQ(s.guard(), L'\0');

  EXPECT_FALSE(SafeCopy(s, 260, Repeat(L'b', 260).c_str()));
  EXPECT_STREQ(s.data(), L"");
  EXPECT_EQ(s.guard(), L'\0');

  SafeCopy(s, 260, L"old");
  EXPECT_TRUE(SafeCopy(s, 260, L""));
  EXPECT_STREQ(s.data(), L"");
}

TEST(SafeCopy, WritesNothingWithoutRoom) {
  wchar_t buffer[4] = {L'k', L'e', L'e', L'p'};
  EXPECT_FALSE(SafeCopy(buffer, 0, L"x"));
  EXPECT_EQ(std::wstring(buffer, 4), L"keep");
  EXPECT_FALSE(SafeCopy(nullptr, 10, L"x"));
}

TEST(SafeAppend, AppendsOrLeavesTheTextAsItWas) {
  PathString s;
  SafeCopy(s, 260, L"C:\\Temp\\");
  EXPECT_TRUE(SafeAppend(s, 260, L"OV_"));
  EXPECT_STREQ(s.data(), L"C:\\Temp\\OV_");

  // 11 + 248 = 259 fits exactly; one more unit would need the 260th.
  PathString t;
  SafeCopy(t, 260, L"C:\\Temp\\OV_");
  EXPECT_FALSE(SafeAppend(t, 260, Repeat(L'z', 249).c_str()));
  EXPECT_STREQ(t.data(), L"C:\\Temp\\OV_");
  EXPECT_TRUE(SafeAppend(t, 260, Repeat(L'z', 248).c_str()));
  EXPECT_EQ(t.length(), 259u);
  EXPECT_EQ(t.guard(), L'\0');
  EXPECT_FALSE(SafeAppend(t, 260, L"y"));
  EXPECT_EQ(t.length(), 259u);
  EXPECT_EQ(t.guard(), L'\0');
}

TEST(SafeAppend, UnterminatedDestinationEndsAtTheLastUnit) {
  BoundedString<8> s;
  FillWithoutTerminator(s);
  EXPECT_TRUE(SafeAppend(s, 8, L""));
  EXPECT_EQ(s.length(), 7u);
  EXPECT_EQ(s.data()[7], L'\0');

  FillWithoutTerminator(s);
  EXPECT_FALSE(SafeAppend(s, 8, L"a"));
  EXPECT_EQ(s.data()[7], L'\0');
  EXPECT_EQ(std::wstring(s.data()), L"xxxxxxx");
  EXPECT_EQ(s.guard(), L'\0');

  EXPECT_FALSE(SafeAppend(nullptr, 8, L"a"));
  wchar_t untouched[2] = {L'q', L'q'};
  EXPECT_FALSE(SafeAppend(untouched, 0, L"a"));
  EXPECT_EQ(untouched[0], L'q');
}

TEST(HexEncode, UpperCaseHighNibbleFirstWithinCapacity) {
  const unsigned char bytes[] = {0x3D, 0x75, 0x35, 0x12};
  wchar_t out[12];
  std::fill(out, out + 12, L'#');
  EXPECT_TRUE(HexEncode(bytes, 4, out, 9));
  EXPECT_STREQ(out, L"3D753512");
  EXPECT_EQ(out[9], L'#');

  std::fill(out, out + 12, L'#');
  EXPECT_FALSE(HexEncode(bytes, 4, out, 8));
  EXPECT_EQ(std::wstring(out, 12), Repeat(L'#', 12));

  EXPECT_TRUE(HexEncode(bytes, 0, out, 1));
  EXPECT_STREQ(out, L"");
  out[0] = L'#';
  EXPECT_FALSE(HexEncode(bytes, 0, out, 0));
  EXPECT_EQ(out[0], L'#');

  const unsigned char edge[] = {0x00, 0x0A, 0xAB, 0xFF};
  EXPECT_TRUE(HexEncode(edge, 4, out, 12));
  EXPECT_STREQ(out, L"000AABFF");
}

TEST(StartsAndEndsWithIgnoreCase, Cases) {
  struct Case { const wchar_t* text; const wchar_t* affix; bool starts; bool ends; } cases[] = {
      {L"ORVANE.PACKED.7Z", L"orvane", true, false},
      {L"set", L"setup", false, false},
      {L"anything", L"", true, true},
      {L"", L"", true, true},
      {L"x64-stable-FULL", L"-full", false, true},
      {L"ull", L"-full", false, false},
      {L"abc", L"abc", true, true},
      {L"\u00C4bc", L"\u00E4bc", false, false},
      {L"Setup.EX_", L"SETUP", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartsWithIgnoreCase(c.text, c.affix), c.starts) << c.text << " / " << c.affix;
    EXPECT_EQ(EndsWithIgnoreCase(c.text, c.affix), c.ends) << c.text << " / " << c.affix;
  }
  EXPECT_FALSE(StartsWithIgnoreCase(nullptr, L"a"));
  EXPECT_FALSE(StartsWithIgnoreCase(L"a", nullptr));
  EXPECT_FALSE(EndsWithIgnoreCase(nullptr, L""));
  EXPECT_FALSE(EndsWithIgnoreCase(L"a", nullptr));
}

TEST(FindIgnoreCase, FindsTheLeftmostOccurrence) {
  const wchar_t* path = L"C:\\Dir\\SETUP.EXE --x";
  EXPECT_EQ(FindIgnoreCase(path, L"setup.exe"), path + 7);
  const wchar_t* aab = L"aab";
  EXPECT_EQ(FindIgnoreCase(aab, L"ab"), aab + 1);
  EXPECT_EQ(FindIgnoreCase(L"", L"a"), nullptr);
  const wchar_t* abc = L"abc";
  EXPECT_EQ(FindIgnoreCase(abc, L""), abc);
  EXPECT_EQ(FindIgnoreCase(abc, nullptr), abc);
  EXPECT_EQ(FindIgnoreCase(L"ab", L"abc"), nullptr);
  const wchar_t* twice = L"xAbyab";
  EXPECT_EQ(FindIgnoreCase(twice, L"ab"), twice + 1);
}

TEST(FindToken, NeedsADashOrTheEndAfterTheToken) {
  struct Case { const wchar_t* text; bool found; int position; } cases[] = {
      {L"x64-multi", true, 3},
      {L"-MULTI-full", true, 0},
      {L"x-multiple", false, -1},
      {L"x-multiple-multi", true, 10},
      {L"multi", false, -1},
      {L"", false, -1},
      {L"x64-MULTI-beta", true, 3},
  };
  for (const Case& c : cases) {
    const wchar_t* position = nullptr;
    EXPECT_EQ(FindToken(c.text, L"-multi", &position), c.found) << c.text;
    if (c.found) {
      EXPECT_EQ(position - c.text, c.position) << c.text;
    }
    EXPECT_EQ(FindToken(c.text, L"-multi", nullptr), c.found) << c.text;
  }
  EXPECT_FALSE(FindToken(L"abc", L"", nullptr));  // ends, and finds nothing
}

TEST(FileNameOf, PositionAfterTheLastBackslash) {
  const wchar_t* exe = L"C:\\dir\\app.exe";
  EXPECT_EQ(FileNameOf(exe, 14), exe + 7);
  const wchar_t* root = L"C:\\";
  EXPECT_EQ(FileNameOf(root, 3), root + 3);
  EXPECT_EQ(FileNameOf(L"\\app", 4), nullptr);
  EXPECT_EQ(FileNameOf(L"ab", 2), nullptr);
  EXPECT_EQ(FileNameOf(L"a", 1), nullptr);
  // Only the first length units count.
  const wchar_t* cut = L"C:\\a\\b";
  EXPECT_EQ(FileNameOf(cut, 4), cut + 3);
}

TEST(BoundedStringTruncate, OnlyBelowTheCapacity) {
  PathString s;
  SafeCopy(s, 260, Repeat(L'a', 259).c_str());
  EXPECT_TRUE(s.Truncate(259));
  EXPECT_EQ(s.length(), 259u);
  EXPECT_TRUE(s.Truncate(5));
  EXPECT_EQ(s.length(), 5u);
  EXPECT_FALSE(s.Truncate(260));
  EXPECT_EQ(s.guard(), L'\0');
  EXPECT_TRUE(s.Truncate(100));  // beyond the text: only a further NUL
  EXPECT_EQ(s.length(), 5u);
}

TEST(BoundedString, GuardSurvivesEveryOperation) {
  BoundedString<16> s;
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.guard(), L'\0');
  const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::wstring long_text = Repeat(L'g', 40);
  for (int round = 0; round < 3; ++round) {
    FillWithoutTerminator(s);
    EXPECT_EQ(s.guard(), L'\0');
    SafeCopy(s, 16, long_text.c_str());
    EXPECT_EQ(s.guard(), L'\0');
    SafeCopy(s, 16, L"0123456789abcd");
    SafeAppend(s, 16, L"e");
    SafeAppend(s, 16, long_text.c_str());
    EXPECT_EQ(s.guard(), L'\0');
    HexEncode(bytes, 8, s, 16);
    HexEncode(bytes, 7, s, 16);
    EXPECT_EQ(s.guard(), L'\0');
    s.Truncate(15);
    s.Truncate(16);
    EXPECT_EQ(s.guard(), L'\0');
  }
}

}  // namespace
