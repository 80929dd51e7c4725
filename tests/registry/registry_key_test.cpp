#include "registry/registry_key.h"

#include <gtest/gtest.h>

#include <string>

#include "control/options.h"
#include "tests/registry/registry_test_support.h"

namespace {

using registry_test::ReadRaw;
using registry_test::SeedRaw;
using registry_test::StateKeys;

const wchar_t kTestKey[] = L"Software\\KavoOrvane\\RegistryKeyTest";
constexpr wchar_t kFill = L'#';

TEST(RegistryKey, ReadStringFollowsTheTypeAndSizeRules) {
  StateKeys keys;
  struct Case {
    const wchar_t* label;
    DWORD type;
    const char* data;  // raw bytes, as stored
    DWORD bytes;
    std::uint32_t capacity;
    LONG status;
    const wchar_t* text;  // expected on status 0
  } cases[] = {
      {L"terminated", REG_SZ, "a\0b\0c\0\0\0", 8, 8, 0, L"abc"},
      {L"terminated, filling the buffer", REG_SZ, "a\0b\0\0\0", 6, 3, 0, L"ab"},
      {L"unterminated, shorter than the buffer", REG_SZ, "a\0b\0c\0", 6, 8, 0, L"abc"},
      {L"unterminated, one unit short of the buffer", REG_SZ, "a\0b\0", 4, 3, 0, L"ab"},
      {L"unterminated, filling the buffer", REG_SZ, "a\0b\0", 4, 2, ERROR_MORE_DATA, nullptr},
      {L"larger than the buffer", REG_SZ, "a\0b\0c\0d\0\0\0", 10, 4, ERROR_MORE_DATA, nullptr},
      {L"zero bytes", REG_SZ, "", 0, 4, 0, L""},
      {L"odd size: the last byte is ignored", REG_SZ, "a\0b\0c", 5, 8, 0, L"ab"},
      {L"a single byte", REG_SZ, "a", 1, 4, 0, L""},
      {L"a single byte into one unit", REG_SZ, "a", 1, 1, 0, L""},
      {L"embedded NUL before the end", REG_SZ, "a\0\0\0b\0", 6, 8, 0, L"a"},
      {L"REG_EXPAND_SZ that would fit", REG_EXPAND_SZ, "a\0b\0\0\0", 6, 8, ERROR_NOT_SUPPORTED,
       nullptr},
      {L"REG_MULTI_SZ", REG_MULTI_SZ, "a\0\0\0\0\0", 6, 8, ERROR_NOT_SUPPORTED, nullptr},
      {L"REG_DWORD", REG_DWORD, "\0\0\0\0", 4, 8, ERROR_NOT_SUPPORTED, nullptr},
      {L"REG_BINARY", REG_BINARY, "a\0", 2, 8, ERROR_NOT_SUPPORTED, nullptr},
  };
  for (const Case& c : cases) {
    SeedRaw(HKEY_CURRENT_USER, kTestKey, c.label, c.type, c.data, c.bytes);
    RegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kTestKey, KEY_QUERY_VALUE), ERROR_SUCCESS);
    // One unit more than offered: the read must never write it.
    wchar_t buffer[16];
    for (wchar_t& unit : buffer) unit = kFill;
    const LONG status = key.ReadString(c.label, buffer, c.capacity);
    EXPECT_EQ(status, c.status) << c.label;
    EXPECT_EQ(buffer[c.capacity], kFill) << c.label << ": written past the capacity";
    if (c.status == 0 && status == 0) {
      EXPECT_STREQ(buffer, c.text) << c.label;
    }
  }
}

TEST(RegistryKey, MissingValueAndMissingKey) {
  StateKeys keys;
  keys.Of(HKEY_CURRENT_USER).Create();
  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, L"Software\\KavoOrvane", KEY_QUERY_VALUE), ERROR_SUCCESS);
  EXPECT_TRUE(key.IsOpen());
  wchar_t buffer[8];
  EXPECT_EQ(key.ReadString(L"absent", buffer, 8), ERROR_FILE_NOT_FOUND);

  // A failed open releases what was held before and holds nothing.
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, kTestKey, KEY_QUERY_VALUE), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_NE(key.ReadString(L"absent", buffer, 8), ERROR_SUCCESS);
}

TEST(RegistryKey, WriteStringStoresTheTerminator) {
  StateKeys keys;
  keys.Of(HKEY_CURRENT_USER).Create();
  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, L"Software\\KavoOrvane", KEY_QUERY_VALUE | KEY_SET_VALUE),
            ERROR_SUCCESS);
  EXPECT_EQ(key.WriteString(L"ap", L"-full"), ERROR_SUCCESS);
  EXPECT_EQ(key.WriteString(L"empty", L""), ERROR_SUCCESS);
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);

  auto full = ReadRaw(HKEY_CURRENT_USER, L"Software\\KavoOrvane", L"ap");
  ASSERT_TRUE(full.found);
  EXPECT_EQ(full.type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(full.bytes.size(), 12u);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(full.bytes.data()), 6),
            std::wstring(L"-full\0", 6));
  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, L"Software\\KavoOrvane", L"empty").bytes.size(), 2u);

  // Opened for reading only, the write is refused by the system.
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, L"Software\\KavoOrvane", KEY_QUERY_VALUE), ERROR_SUCCESS);
  EXPECT_NE(key.WriteString(L"ap", L"x"), ERROR_SUCCESS);
}

// A released handle's slot is handed out again by the next open; a handle
// left open by the wrapper would take that slot instead.
HKEY ProbeHandle() {
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KavoOrvane", 0, KEY_QUERY_VALUE, &key);
  RegCloseKey(key);
  return key;
}

TEST(RegistryKey, ReopeningClosingAndDestructionReleaseTheHandle) {
  StateKeys keys;
  keys.Of(HKEY_CURRENT_USER).Create();
  const HKEY free_slot = ProbeHandle();
  ASSERT_NE(free_slot, nullptr);
  ASSERT_EQ(ProbeHandle(), free_slot) << "handle slots are not reused here";
  {
    RegistryKey reused;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(reused.Open(HKEY_CURRENT_USER, L"Software\\KavoOrvane", KEY_QUERY_VALUE),
                ERROR_SUCCESS);
    }
    EXPECT_EQ(reused.Close(), ERROR_SUCCESS);
    EXPECT_EQ(ProbeHandle(), free_slot) << "Close or a re-open kept a handle";
    ASSERT_EQ(reused.Open(HKEY_CURRENT_USER, L"Software\\KavoOrvane", KEY_QUERY_VALUE),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(ProbeHandle(), free_slot) << "destruction kept the handle";
  {
    RegistryKey failed;
    EXPECT_NE(failed.Open(HKEY_CURRENT_USER, L"Software\\KavoOrvane\\Absent", KEY_QUERY_VALUE),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(ProbeHandle(), free_slot);
}

TEST(ReadRegistryString, TrueOnlyWhenOpenAndReadSucceed) {
  StateKeys keys;
  SeedRaw(HKEY_CURRENT_USER, kTestKey, L"text", REG_SZ, L"0", 4);
  SeedRaw(HKEY_CURRENT_USER, kTestKey, L"long", REG_SZ, L"00", 6);
  DWORD zero = 0;
  SeedRaw(HKEY_CURRENT_USER, kTestKey, L"dword", REG_DWORD, &zero, 4);
  wchar_t buffer[2];
  EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kTestKey, L"text", buffer, 2));
  EXPECT_STREQ(buffer, L"0");
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kTestKey, L"long", buffer, 2));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kTestKey, L"dword", buffer, 2));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kTestKey, L"absent", buffer, 2));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, L"Software\\KavoOrvane\\Absent", L"text",
                                  buffer, 2));
  EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, kTestKey, L"text", buffer, 2));
}

TEST(OpenClientStateKey, OpensThePerProductKeyUnderTheGivenRoot) {
  StateKeys keys;
  SeedRaw(HKEY_LOCAL_MACHINE, registry_test::StateKeyPath(kFrameAppGuid), L"ap", REG_SZ,
          L"machine", 16);
  RegistryKey key;
  ASSERT_TRUE(OpenClientStateKey(HKEY_LOCAL_MACHINE, kFrameAppGuid, KEY_QUERY_VALUE, key));
  wchar_t buffer[16];
  ASSERT_EQ(key.ReadString(L"ap", buffer, 16), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, L"machine");

  // The wrong root or product: no key, and a closed object.
  EXPECT_FALSE(OpenClientStateKey(HKEY_CURRENT_USER, kFrameAppGuid, KEY_QUERY_VALUE, key));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(OpenClientStateKey(HKEY_LOCAL_MACHINE, kBrowserAppGuid, KEY_QUERY_VALUE, key));
  EXPECT_FALSE(key.IsOpen());

  // A product text that does not fit the 260-unit path leaves the key alone.
  ASSERT_TRUE(OpenClientStateKey(HKEY_LOCAL_MACHINE, kFrameAppGuid, KEY_QUERY_VALUE, key));
  const std::wstring too_long(259 - 39 + 1, L'x');  // the prefix has 39 units
  EXPECT_FALSE(OpenClientStateKey(HKEY_LOCAL_MACHINE, too_long.c_str(), KEY_QUERY_VALUE, key));
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(std::wstring(kClientStateKeyPrefix), L"Software\\KavoOrvane\\Update\\ClientState\\");
}

}  // namespace
