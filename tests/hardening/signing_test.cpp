// The Authenticode-signed installer against its unsigned twin (same inputs):
// it carries a certificate table, every resource is unchanged, and it still
// unpacks, passes its own digest check and runs setup.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

// The certificate-table entry of a PE image's data directory: its file
// offset and size (both 0 when the image is unsigned).
bool SecurityDirectory(const std::string& image, DWORD* offset, DWORD* size) {
  if (image.size() < 0x40) return false;
  std::uint32_t pe = 0;
  std::memcpy(&pe, image.data() + 0x3C, 4);
  if (image.size() < pe + 24 + 2 || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return false;
  }
  const std::size_t optional = pe + 24;
  std::uint16_t magic = 0;
  std::memcpy(&magic, image.data() + optional, 2);
  const std::size_t directories = optional + (magic == 0x20B ? 112 : 96);
  const std::size_t entry = directories + IMAGE_DIRECTORY_ENTRY_SECURITY * 8;
  if (image.size() < entry + 8) return false;
  std::memcpy(offset, image.data() + entry, 4);
  std::memcpy(size, image.data() + entry + 4, 4);
  return true;
}

std::wstring ResourceKey(LPCWSTR id) {
  return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id))
                            : std::wstring(id);
}

// Every resource of a module, keyed "type/name/language".
using Resources = std::map<std::wstring, std::string>;

struct Walk {
  HMODULE module;
  Resources* out;
  std::wstring type, name;
};

BOOL CALLBACK OnLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                         LONG_PTR context) {
  Walk* walk = reinterpret_cast<Walk*>(context);
  HRSRC found = FindResourceExW(module, type, name, language);
  if (found == nullptr) return FALSE;
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  (*walk->out)[walk->type + L"/" + walk->name + L"/" + std::to_wstring(language)] =
      std::string(bytes, SizeofResource(module, found));
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
  Walk* walk = reinterpret_cast<Walk*>(context);
  walk->name = ResourceKey(name);
  return EnumResourceLanguagesW(module, type, name, OnLanguage, context);
}

BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR context) {
  Walk* walk = reinterpret_cast<Walk*>(context);
  walk->type = ResourceKey(type);
  return EnumResourceNamesW(module, type, OnName, context);
}

Resources AllResources(const std::wstring& path, std::wstring* digest) {
  Resources resources;
  const LoadedModule loaded(path, LOAD_LIBRARY_AS_DATAFILE);
  const HMODULE module = loaded.get();
  EXPECT_NE(module, nullptr) << Narrow(path);
  if (module == nullptr) return resources;
  Walk walk = {module, &resources, L"", L""};
  EXPECT_TRUE(EnumResourceTypesW(module, OnType, reinterpret_cast<LONG_PTR>(&walk)));
  wchar_t text[64] = L"";
  LoadStringW(module, 130, text, 64);
  *digest = text;
  return resources;
}

TEST(SignedInstaller, CarriesACertificateTableAndTheSameResources) {
  const std::wstring signed_path = BinaryPath(L"signing_installer.exe");
  const std::wstring unsigned_path = BinaryPath(L"signing_installer_unsigned.exe");
  const std::string signed_image = ReadFileBytes(signed_path);
  DWORD offset = 0, size = 0;
  ASSERT_TRUE(SecurityDirectory(signed_image, &offset, &size));
  EXPECT_GT(size, 0u);
  EXPECT_EQ(static_cast<std::size_t>(offset) + size, signed_image.size())
      << "the certificate table ends the file";
  ASSERT_TRUE(SecurityDirectory(ReadFileBytes(unsigned_path), &offset, &size));
  EXPECT_EQ(size, 0u) << "the twin is unsigned";

  std::wstring signed_digest, unsigned_digest;
  const Resources with_signature = AllResources(signed_path, &signed_digest);
  const Resources without = AllResources(unsigned_path, &unsigned_digest);
  EXPECT_EQ(signed_digest.size(), 32u);
  EXPECT_EQ(signed_digest, unsigned_digest);
  EXPECT_EQ(with_signature.count(L"BL/SETUP.EX_/1033"), 1u);
  EXPECT_EQ(with_signature.count(L"B7/ORVANE.PACKED.7Z/1033"), 1u);
  ASSERT_EQ(with_signature.size(), without.size());
  for (const auto& resource : without) {
    const auto other = with_signature.find(resource.first);
    ASSERT_NE(other, with_signature.end()) << Narrow(resource.first);
    EXPECT_TRUE(other->second == resource.second) << Narrow(resource.first) << " differs";
  }
}

TEST(SignedInstaller, StillInstalls) {
  ScopedRegistryKey product_root(HKEY_CURRENT_USER, L"Software\\KavoOrvane");
  ScratchDirectory root;
  const std::wstring temp = root / L"temp";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  ScopedEnvironmentVariable tmp(L"TMP", temp), temp_variable(L"TEMP", temp);
  ScopedEnvironmentVariable record(L"KAVO_SETUP_RECORD", root / L"record.txt");
  ScopedEnvironmentVariable exit_code(L"KAVO_SETUP_EXIT_CODE", L"7");
  ScopedEnvironmentVariable no_hold(L"KAVO_SETUP_HOLD_MS");
  const std::wstring installer = root / L"KavoOrvaneSetup.exe";
  ASSERT_TRUE(CopyFileW(BinaryPath(L"signing_installer.exe").c_str(), installer.c_str(), FALSE));
  bool started = false;
  // 7 is setup's own code: the payload unpacked and its digest matched.
  EXPECT_EQ(RunProcess(Quote(installer) + L" --foo", 120000, &started), 7u);
  ASSERT_TRUE(started);
  const std::string line = ReadFileBytes(root / L"record.txt");
  EXPECT_NE(line.find("setup.exe\" --install-archive=\""), std::string::npos) << line;
  EXPECT_NE(line.find("ORVANE.PACKED.7Z\" --foo\n"), std::string::npos) << line;
}

}  // namespace
