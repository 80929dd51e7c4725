#include "payload/payload.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

using namespace kavo_test;

namespace {

// A payload layout, loaded for the length of a test.
class PayloadModule : public kavo_test::LoadedModule {
 public:
  explicit PayloadModule(const std::wstring& name) : LoadedModule(BinaryPath(name + L".dll")) {}
};

std::string Md5Hex(const std::string& bytes) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  std::string hex;
  if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
      BYTE digest[16];
      DWORD size = sizeof digest;
      if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()), 0) &&
          CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
        static const char kDigits[] = "0123456789abcdef";
        for (BYTE b : digest) {
          hex += kDigits[b >> 4];
          hex += kDigits[b & 15];
        }
      }
      CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
  }
  return hex;
}

std::string SetupBytes() { return ReadFileBytes(BinaryPath(L"setup_double.exe")); }
std::string Archive() { return ReadFileBytes(BinaryPath(L"payload_data\\archive.7z")); }

struct Unpacked {
  bool ok;
  std::wstring archive, setup;
  std::vector<std::wstring> files;
};

Unpacked Unpack(const wchar_t* module_name, const std::wstring& work_directory) {
  PayloadModule module(module_name);
  EXPECT_NE(module.get(), nullptr) << Narrow(module_name);
  InstallerOptions options;
  PathString archive, setup;
  Unpacked result;
  result.ok = UnpackPayload(options, module.get(), work_directory.c_str(), archive, setup);
  result.archive = archive.data();
  result.setup = setup.data();
  EXPECT_EQ(archive.guard(), L'\0');
  EXPECT_EQ(setup.guard(), L'\0');
  result.files = kavo_test::DirectoryEntries(work_directory.substr(0, work_directory.size() - 1));
  return result;
}

using Names = std::vector<std::wstring>;

TEST(UnpackPayload, CabinetRoadExpandsSetupAndDeletesTheCabinet) {
  ScratchDirectory work;
  const std::wstring dir = work.path() + L"\\";
  const Unpacked u = Unpack(L"payload_cab", dir);
  ASSERT_TRUE(u.ok);
  EXPECT_EQ(u.archive, dir + L"ORVANE.PACKED.7Z");
  EXPECT_EQ(u.setup, dir + L"setup.exe");
  EXPECT_EQ(u.files, (Names{L"ORVANE.PACKED.7Z", L"setup.exe"}));
  EXPECT_EQ(ReadFileBytes(u.setup), SetupBytes());
  EXPECT_EQ(ReadFileBytes(u.archive), Archive());
}

TEST(UnpackPayload, PlainRoadMovesOnlyWhenTheNameDiffers) {
  const struct {
    const wchar_t* module;
    const wchar_t* setup_name;
    Names files;
  } cases[] = {
      // Written in place already: the name keeps the resource's letter case.
      {L"payload_plain", L"SETUP.EXE", {L"ORVANE.PACKED.7Z", L"SETUP.EXE"}},
      {L"payload_plain_full", L"setup.exe", {L"ORVANE.PACKED.7Z", L"setup.exe"}},
  };
  for (const auto& c : cases) {
    ScratchDirectory work;
    const std::wstring dir = work.path() + L"\\";
    const Unpacked u = Unpack(c.module, dir);
    EXPECT_TRUE(u.ok) << Narrow(c.module);
    EXPECT_EQ(u.setup, dir + c.setup_name) << Narrow(c.module);
    EXPECT_EQ(u.files, c.files) << Narrow(c.module);
    EXPECT_EQ(ReadFileBytes(u.setup), SetupBytes()) << Narrow(c.module);
  }
}

TEST(UnpackPayload, TheCabinetWinsOverThePlainSetup) {
  ScratchDirectory work;
  const std::wstring dir = work.path() + L"\\";
  const Unpacked u = Unpack(L"payload_bl_bn", dir);
  ASSERT_TRUE(u.ok);
  EXPECT_EQ(u.files, (Names{L"ORVANE.PACKED.7Z", L"setup.exe"})) << "BN is never written";
  EXPECT_EQ(ReadFileBytes(u.setup), SetupBytes());
}

TEST(UnpackPayload, BrokenLayoutsFailAndLeaveWhatWasWritten) {
  const struct {
    const wchar_t* module;
    const wchar_t* archive;  // relative to the work directory, or empty
    const wchar_t* setup;
    Names files;
  } cases[] = {
      // No "B7": nothing else is looked at.
      {L"payload_no_archive", L"", L"", {}},
      // A patch but no archive: written, then refused.
      {L"payload_patch_only", L"", L"SETUP.PATCH", {L"SETUP.PATCH"}},
      // An unknown name is written, then the enumeration stops.
      {L"payload_unrecognised", L"ORVANE.PACKED.7Z", L"", {L"ORVANE.PACKED.7Z", L"README.TXT"}},
      // A 0-byte archive is refused before a file is created.
      {L"payload_empty_archive", L"", L"", {}},
      // An archive and no setup program.
      {L"payload_archive_only", L"ORVANE.PACKED.7Z", L"", {L"ORVANE.PACKED.7Z"}},
  };
  for (const auto& c : cases) {
    ScratchDirectory work;
    const std::wstring dir = work.path() + L"\\";
    const Unpacked u = Unpack(c.module, dir);
    EXPECT_FALSE(u.ok) << Narrow(c.module);
    EXPECT_EQ(u.archive, *c.archive ? dir + c.archive : L"") << Narrow(c.module);
    EXPECT_EQ(u.setup, *c.setup ? dir + c.setup : L"") << Narrow(c.module);
    EXPECT_EQ(u.files, c.files) << Narrow(c.module);
  }
}

// Creates the folders of a path ending in a backslash, whatever its length.
bool CreateFolders(const std::wstring& root, const std::wstring& path) {
  for (std::size_t at = root.size() + 1; at < path.size(); ++at) {
    if (path[at] != L'\\') continue;
    const std::wstring folder = L"\\\\?\\" + path.substr(0, at);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return true;
}

std::wstring PathOfLength(const std::wstring& root, std::size_t length) {
  std::wstring path = root + L"\\";
  while (path.size() < length) {
    const std::size_t segment = std::min<std::size_t>(100, length - path.size() - 1);
    path += std::wstring(std::max<std::size_t>(segment, 1), L'd') + L"\\";
  }
  return path;
}

TEST(UnpackPayload, WorkDirectoryOf250UnitsFitsAnd251FailsBeforeWriting) {
  ScratchDirectory work;
  for (std::size_t length : {250u, 251u}) {
    const std::wstring dir = PathOfLength(work.path() + L"\\" + std::to_wstring(length), length);
    ASSERT_EQ(dir.size(), length);
    ASSERT_TRUE(CreateDirectoryW((work.path() + L"\\" + std::to_wstring(length)).c_str(), nullptr));
    ASSERT_TRUE(CreateFolders(work.path(), dir)) << length;
    const Unpacked u = Unpack(L"payload_short_names", dir);
    if (length == 250) {
      EXPECT_TRUE(u.ok);
      EXPECT_EQ(u.setup, dir + L"SETUP.EXE");
      EXPECT_EQ(u.setup.size(), 259u);
      EXPECT_EQ(u.files, (Names{L"ORVANE.7Z", L"SETUP.EXE"}));
    } else {
      EXPECT_FALSE(u.ok);
      EXPECT_TRUE(u.archive.empty());
      EXPECT_TRUE(u.files.empty());
    }
  }
}

TEST(PayloadSize, AcceptsOneByteToOneGibibyte) {
  const struct {
    DWORD size;
    bool accepted;
  } cases[] = {{0, false},          {1, true},           {39319604, true},
               {0x40000000, true},  {0x40000001, false}, {0xFFFFFFFF, false}};
  for (const auto& c : cases) EXPECT_EQ(IsAcceptedPayloadSize(c.size), c.accepted) << c.size;
}

TEST(PayloadResource, WritesTheBytesWithOneCall) {
  PayloadModule module(L"payload_cab");
  ASSERT_NE(module.get(), nullptr);
  PayloadResource archive(L"ORVANE.PACKED.7Z", L"B7", module.get());
  ASSERT_TRUE(archive.IsFound());
  const std::string expected = Archive();
  EXPECT_EQ(archive.Size(), expected.size());

  // A message pipe keeps every WriteFile call apart.
  const std::wstring pipe_name =
      L"\\\\.\\pipe\\kavo_payload_" + std::to_wstring(GetCurrentProcessId());
  HANDLE pipe = CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_INBOUND,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0,
                                 1 << 16, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::vector<std::size_t> messages;
  std::string received;
  std::thread reader([&] {
    ConnectNamedPipe(pipe, nullptr);
    std::vector<char> buffer(1 << 16);
    std::size_t current = 0;
    for (;;) {
      DWORD got = 0;
      const BOOL ok = ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                               nullptr);
      received.append(buffer.data(), got);
      current += got;
      if (ok) {
        messages.push_back(current);
        current = 0;
      } else if (GetLastError() != ERROR_MORE_DATA) {
        break;
      }
    }
  });
  const bool written = archive.WriteToFile(pipe_name.c_str());
  reader.join();
  CloseHandle(pipe);
  EXPECT_TRUE(written);
  EXPECT_EQ(messages, std::vector<std::size_t>{expected.size()});
  EXPECT_TRUE(received == expected);
}

TEST(PayloadResource, ReplacesAnExistingFileAndRefusesAMissingResource) {
  PayloadModule module(L"payload_cab");
  ScratchDirectory work;
  const std::wstring path = work / L"ORVANE.PACKED.7Z";
  ASSERT_TRUE(WriteFileBytes(path, std::string(1 << 20, 'x')));
  PayloadResource archive(L"ORVANE.PACKED.7Z", L"B7", module.get());
  ASSERT_TRUE(archive.WriteToFile(path.c_str()));
  EXPECT_TRUE(ReadFileBytes(path) == Archive());
  // The string 130 that packaging computed is the digest of these bytes.
  char digest[64] = "";
  ASSERT_EQ(LoadStringA(module.get(), 130, digest, sizeof digest), 32);
  EXPECT_EQ(std::string(digest), Md5Hex(ReadFileBytes(path)));

  PayloadResource missing(L"ORVANE.PACKED.7Z", L"BL", module.get());
  EXPECT_FALSE(missing.IsFound());
  EXPECT_EQ(missing.Size(), 0u);
  EXPECT_FALSE(missing.WriteToFile((work / L"missing").c_str()));
  EXPECT_FALSE(FileExists(work / L"missing"));
  // Written to a folder that does not exist: a failure.
  EXPECT_FALSE(archive.WriteToFile((work / L"no\\such\\file").c_str()));
}

TEST(ExtractPayloadResource, RefusesANullContext) {
  PayloadModule module(L"payload_cab");
  wchar_t name[] = L"ORVANE.PACKED.7Z";
  EXPECT_EQ(ExtractPayloadResource(module.get(), L"B7", name, 0), FALSE);
}

}  // namespace
