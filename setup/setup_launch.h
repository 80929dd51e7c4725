// Hands the archive to setup: its command line, the start and the wait.
#pragma once

#include <windows.h>

#include "control/bounded_string.h"
#include "control/options.h"

// Writes "setup" --install-archive="archive" followed by the user's
// arguments into command. False when the paths do not fit (command is then
// not to be used); the user's arguments are left out when they do not fit.
bool BuildSetupCommand(const InstallerOptions& options, const wchar_t* archive_path,
                       const wchar_t* setup_path, CommandString& command);

// Starts the command of BuildSetupCommand; true when setup ran to its end,
// its exit code then in *exit_code.
bool RunSetupForInstall(const InstallerOptions& options, const wchar_t* archive_path,
                        const wchar_t* setup_path, DWORD* exit_code);

// Appends the user's arguments exactly as typed: the raw command line after
// the program-name token (found as CommandLineToArgvW finds it), starting
// with a blank. Nothing is appended when there are none, when the
// executable's path cannot be read whole, or when they do not fit.
void AppendPassThroughArguments(const InstallerOptions& options, CommandString& command);

// Starts command_line (writable) without a window, waits without a time
// limit; exit_code may be null.
bool RunProcessAndWait(const wchar_t* application_name, wchar_t* command_line,
                       DWORD* exit_code);
