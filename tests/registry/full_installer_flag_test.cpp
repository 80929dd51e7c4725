#include "registry/full_installer_flag.h"

#include <gtest/gtest.h>

#include <string>

#include "control/options.h"
#include "tests/registry/registry_test_support.h"

namespace {

using registry_test::KeyExists;
using registry_test::RawValue;
using registry_test::ReadRaw;
using registry_test::SeedKey;
using registry_test::SeedRaw;
using registry_test::StateKeys;
using registry_test::StateKeyPath;

// How a tag is seeded. Unterminated strings make a rewrite visible even
// when the text stays the same: a write always stores the terminator.
enum class Tag { kAbsent, kTerminated, kUnterminated, kDword };

void SeedTag(HKEY root, const wchar_t* guid, Tag kind, const std::wstring& text) {
  const std::wstring path = StateKeyPath(guid);
  switch (kind) {
    case Tag::kAbsent:
      SeedKey(root, guid);
      break;
    case Tag::kTerminated:
      registry_test::SeedString(root, path, L"ap", text);
      break;
    case Tag::kUnterminated:
      SeedRaw(root, path, L"ap", REG_SZ, text.c_str(),
              static_cast<DWORD>(text.size() * sizeof(wchar_t)));
      break;
    case Tag::kDword: {
      DWORD value = 7;
      SeedRaw(root, path, L"ap", REG_DWORD, &value, sizeof value);
      break;
    }
  }
}

// The stored "ap" after a write: REG_SZ with exactly one terminator.
void ExpectWritten(HKEY root, const wchar_t* guid, const std::wstring& text,
                   const std::wstring& label) {
  RawValue value = ReadRaw(root, StateKeyPath(guid), L"ap");
  ASSERT_TRUE(value.found) << label;
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << label;
  EXPECT_EQ(value.bytes.size(), (text.size() + 1) * sizeof(wchar_t)) << label;
  EXPECT_EQ(registry_test::TextOf(value), text) << label;
}

// Nothing was written: the value is byte for byte as seeded.
void ExpectUntouched(HKEY root, const wchar_t* guid, Tag kind, const std::wstring& text,
                     const std::wstring& label) {
  RawValue value = ReadRaw(root, StateKeyPath(guid), L"ap");
  switch (kind) {
    case Tag::kAbsent:
      EXPECT_FALSE(value.found) << label;
      break;
    case Tag::kTerminated:
    case Tag::kUnterminated: {
      ASSERT_TRUE(value.found) << label;
      EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << label;
      const size_t units = text.size() + (kind == Tag::kTerminated ? 1 : 0);
      EXPECT_EQ(value.bytes.size(), units * sizeof(wchar_t)) << label;
      EXPECT_EQ(registry_test::TextOf(value), text) << label;
      break;
    }
    case Tag::kDword:
      ASSERT_TRUE(value.found) << label;
      EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << label;
      break;
  }
}

std::wstring Label(const wchar_t* what, bool system_level, bool frame) {
  return std::wstring(what) + (system_level ? L" [system-level]" : L" [per-user]") +
         (frame ? L" [frame]" : L"");
}

struct SingleCase {
  const wchar_t* label;
  Tag kind;
  std::wstring before;
  bool written;
  std::wstring after;
};

TEST(SetFullInstallerFlag, MarksTheProductTag) {
  const std::wstring s122(122, L'a');
  const SingleCase cases[] = {
      {L"no ap value", Tag::kAbsent, L"", true, L"-full"},
      {L"empty text", Tag::kTerminated, L"", true, L"-full"},
      {L"zero bytes", Tag::kUnterminated, L"", true, L"-full"},
      {L"plain tag", Tag::kTerminated, L"x64-stable", true, L"x64-stable-full"},
      {L"unterminated tag", Tag::kUnterminated, L"x64-stable", true, L"x64-stable-full"},
      {L"already marked", Tag::kUnterminated, L"x64-stable-full", false, L""},
      {L"already marked, other case", Tag::kUnterminated, L"x64-stable-FULL", false, L""},
      {L"-full only at the end counts", Tag::kTerminated, L"-full-multi", true,
       L"-full-multi-full"},
      {L"a -multi token without multi-install", Tag::kTerminated, L"x64-multi", true,
       L"x64-multi-full"},
      {L"123 characters: no room", Tag::kUnterminated, std::wstring(123, L'a'), false, L""},
      {L"122 characters: just fits", Tag::kTerminated, s122, true, s122 + L"-full"},
      {L"128 characters: too long to read", Tag::kUnterminated, std::wstring(128, L'a'), false,
       L""},
      {L"wrong type", Tag::kDword, L"", false, L""},
  };
  for (bool system_level : {false, true}) {
    for (bool frame : {false, true}) {
      const HKEY root = system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      const HKEY other = system_level ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
      const wchar_t* guid = frame ? kFrameAppGuid : kBrowserAppGuid;
      const wchar_t* unchosen = frame ? kBrowserAppGuid : kFrameAppGuid;
      for (const SingleCase& c : cases) {
        StateKeys keys;
        SeedTag(root, guid, c.kind, c.before);
        // Keys that must not be touched: the other root, the unchosen
        // product and the multi-install binaries.
        SeedTag(other, guid, Tag::kUnterminated, L"x64-stable");
        SeedTag(root, unchosen, Tag::kUnterminated, L"beta");
        SeedTag(root, kMultiInstallAppGuid, Tag::kUnterminated, L"multi-tag");

        InstallerOptions options;
        options.system_level = system_level;
        options.frame = frame;
        SetFullInstallerFlag(options);

        const std::wstring label = Label(c.label, system_level, frame);
        if (c.written) {
          ExpectWritten(root, guid, c.after, label);
        } else {
          ExpectUntouched(root, guid, c.kind, c.before, label);
        }
        ExpectUntouched(other, guid, Tag::kUnterminated, L"x64-stable", label);
        ExpectUntouched(root, unchosen, Tag::kUnterminated, L"beta", label);
        ExpectUntouched(root, kMultiInstallAppGuid, Tag::kUnterminated, L"multi-tag", label);
      }
    }
  }
}

TEST(SetFullInstallerFlag, RunningTwiceChangesNothingMore) {
  StateKeys keys;
  SeedTag(HKEY_CURRENT_USER, kBrowserAppGuid, Tag::kTerminated, L"x64-stable");
  InstallerOptions options;
  SetFullInstallerFlag(options);
  SetFullInstallerFlag(options);
  ExpectWritten(HKEY_CURRENT_USER, kBrowserAppGuid, L"x64-stable-full", L"twice");
}

TEST(SetFullInstallerFlag, NeverCreatesAKey) {
  for (bool multi_install : {false, true}) {
    StateKeys keys;
    InstallerOptions options;
    options.multi_install = multi_install;
    SetFullInstallerFlag(options);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, StateKeyPath(kBrowserAppGuid)));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, StateKeyPath(kMultiInstallAppGuid)));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\KavoOrvane"));
  }
}

// Multi-install: which key gets the mark. The binaries' own tag holds a
// -multi token, which does not matter for it.
enum class Target { kProduct, kNothing, kBinaries };

TEST(SetFullInstallerFlag, MultiInstallChoosesTheKey) {
  struct Case {
    const wchar_t* label;
    bool product_key;
    Tag kind;
    std::wstring before;
    Target target;
    std::wstring product_after;
  } cases[] = {
      {L"product key missing", false, Tag::kAbsent, L"", Target::kBinaries, L""},
      {L"product ap missing", true, Tag::kAbsent, L"", Target::kProduct, L"-full"},
      {L"plain tag", true, Tag::kTerminated, L"x64-stable", Target::kProduct, L"x64-stable-full"},
      {L"already marked", true, Tag::kUnterminated, L"x64-stable-full", Target::kNothing, L""},
      {L"-multi token at the end", true, Tag::kTerminated, L"x64-multi", Target::kBinaries, L""},
      {L"-MULTI token before a dash", true, Tag::kTerminated, L"x64-MULTI-beta",
       Target::kBinaries, L""},
      {L"-multi followed by a letter", true, Tag::kTerminated, L"x64-multiple", Target::kProduct,
       L"x64-multiple-full"},
      {L"a later occurrence is the token", true, Tag::kTerminated, L"-multiple-multi",
       Target::kBinaries, L""},
      {L"multi without a dash", true, Tag::kTerminated, L"multi", Target::kProduct,
       L"multi-full"},
      {L"a REG_DWORD", true, Tag::kDword, L"", Target::kBinaries, L""},
      {L"128 characters", true, Tag::kUnterminated, std::wstring(128, L'a'), Target::kBinaries,
       L""},
      // Readable but without room: the product's key is kept and left alone.
      {L"123 characters", true, Tag::kUnterminated, std::wstring(123, L'a'), Target::kNothing,
       L""},
  };
  for (bool system_level : {false, true}) {
    for (bool frame : {false, true}) {
      const HKEY root = system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      const wchar_t* guid = frame ? kFrameAppGuid : kBrowserAppGuid;
      for (const Case& c : cases) {
        StateKeys keys;
        if (c.product_key) SeedTag(root, guid, c.kind, c.before);
        SeedTag(root, kMultiInstallAppGuid, Tag::kTerminated, L"x64-multi");
        if (frame) SeedTag(root, kBrowserAppGuid, Tag::kUnterminated, L"x64-stable");

        InstallerOptions options;
        options.multi_install = true;
        options.system_level = system_level;
        options.frame = frame;
        SetFullInstallerFlag(options);

        const std::wstring label = Label(c.label, system_level, frame);
        if (c.target == Target::kProduct) {
          ExpectWritten(root, guid, c.product_after, label);
        } else if (c.product_key) {
          ExpectUntouched(root, guid, c.kind, c.before, label);
        } else {
          EXPECT_FALSE(KeyExists(root, StateKeyPath(guid))) << label;
        }
        if (c.target == Target::kBinaries) {
          ExpectWritten(root, kMultiInstallAppGuid, L"x64-multi-full", label);
        } else {
          ExpectUntouched(root, kMultiInstallAppGuid, Tag::kTerminated, L"x64-multi", label);
        }
        if (frame) ExpectUntouched(root, kBrowserAppGuid, Tag::kUnterminated, L"x64-stable", label);
      }
    }
  }
}

TEST(SetFullInstallerFlag, MultiInstallWithNeitherKeyChangesNothing) {
  StateKeys keys;
  SeedTag(HKEY_CURRENT_USER, kBrowserAppGuid, Tag::kTerminated, L"x64-multi");
  InstallerOptions options;
  options.multi_install = true;
  SetFullInstallerFlag(options);
  ExpectUntouched(HKEY_CURRENT_USER, kBrowserAppGuid, Tag::kTerminated, L"x64-multi", L"product");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, StateKeyPath(kMultiInstallAppGuid)));
}

}  // namespace
