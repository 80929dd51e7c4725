#include "control/options.h"

#include <shellapi.h>

const wchar_t kBrowserAppGuid[] = L"{5E0C1A27-3B8D-4f1a-9C6E-21D7A4B09E35}";
const wchar_t kSideBySideAppGuid[] = L"{0b7d3e91-6a2c-4f58-a1e4-7c93d05b2f16}";
const wchar_t kFrameAppGuid[] = L"{A4C72F09-81D6-4B3E-9F05-3E6B18C7D42A}";
const wchar_t kMultiInstallAppGuid[] = L"{62E9B4D1-0F7A-4c2b-8D36-B5A0E1F94C87}";
const wchar_t kAppHostAppGuid[] = L"{D83F5A12-C6E0-4e7d-A9B4-07F2C3D615E8}";

InstallerOptions::InstallerOptions() : argv(nullptr) { Reset(); }

InstallerOptions::~InstallerOptions() { Reset(); }

void InstallerOptions::Reset() {
  if (argv != nullptr) {
    LocalFree(argv);
    argv = nullptr;
  }
  command_line = nullptr;
  operation = kOperationInstall;
  argc = 0;
  frame = false;
  app_host = false;
  multi_install = false;
  system_level = false;
  product_guid = kBrowserAppGuid;
}

bool InstallerOptions::ParseCommandLine(const wchar_t* text) {
  Reset();
  command_line = text;
  int count = 0;
  argv = CommandLineToArgvW(text, &count);
  if (argv == nullptr) return false;
  argc = count;
  for (std::int32_t i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    if (lstrcmpiW(arg, L"--orvane-sxs") == 0) {
      product_guid = kSideBySideAppGuid;
    } else if (lstrcmpiW(arg, L"--orvane-frame") == 0) {
      frame = true;
    } else if (lstrcmpiW(arg, L"--app-host") == 0 || lstrcmpiW(arg, L"--app-launcher") == 0) {
      app_host = true;
    } else if (lstrcmpiW(arg, L"--multi-install") == 0) {
      multi_install = true;
    } else if (lstrcmpiW(arg, L"--system-level") == 0) {
      system_level = true;
    } else if (lstrcmpiW(arg, L"--cleanup") == 0) {
      operation = kOperationCleanup;
    }
  }
  return true;
}

bool InstallerOptions::ParseOptions() { return ParseCommandLine(GetCommandLineW()); }

const wchar_t* InstallerOptions::ProgramName() const {
  if (argv == nullptr || argc < 1) return nullptr;
  return argv[0];
}
