// The bootstrap's command line: product choice, install level, clean-up run.
//
// Parsing consumes nothing; setup later receives the user's arguments as
// typed (see setup/setup_launch.h), so it sees these options too.
#pragma once

#include <windows.h>

#include <cstdint>

// Product state keys of the updater, each named by one of these GUIDs. The
// letter case differs between them and is part of the text.
extern const wchar_t kBrowserAppGuid[];       // the browser
extern const wchar_t kSideBySideAppGuid[];    // the side-by-side browser build
extern const wchar_t kFrameAppGuid[];         // the frame plug-in
extern const wchar_t kMultiInstallAppGuid[];  // the shared multi-install binaries
extern const wchar_t kAppHostAppGuid[];       // the app host / app launcher

constexpr std::uint32_t kOperationInstall = 0;
constexpr std::uint32_t kOperationCleanup = 1;

struct InstallerOptions {
  wchar_t** argv;                // CommandLineToArgvW's block, owned
  const wchar_t* product_guid;   // kBrowserAppGuid or kSideBySideAppGuid
  const wchar_t* command_line;   // the raw text that was parsed, not owned
  std::int32_t argc;
  std::uint32_t operation;       // kOperationInstall or kOperationCleanup
  bool frame;                    // "--orvane-frame"
  bool app_host;                 // "--app-host" or "--app-launcher"
  bool multi_install;            // "--multi-install"
  bool system_level;             // "--system-level"

  InstallerOptions();
  ~InstallerOptions();
  InstallerOptions(const InstallerOptions&) = delete;
  InstallerOptions& operator=(const InstallerOptions&) = delete;

  // Frees the argument vector and restores every default.
  void Reset();
  // Splits text (which must outlive the record) and recognises the options,
  // compared whole and case-insensitively; argv[0] is never compared. False
  // only when the text cannot be split.
  bool ParseCommandLine(const wchar_t* text);
  // ParseCommandLine(GetCommandLineW()).
  bool ParseOptions();
  // argv[0], or null before a successful parse.
  const wchar_t* ProgramName() const;
};
