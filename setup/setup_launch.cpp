#include "setup/setup_launch.h"

namespace {

bool IsBlankOrTab(wchar_t c) { return c == L' ' || c == L'\t'; }

// Where the program-name token of a raw command line ends, the way
// CommandLineToArgvW splits it: a leading quote runs to the next quote
// (inclusive); otherwise the token ends at the first blank or tab.
const wchar_t* EndOfProgramName(const wchar_t* line) {
  const wchar_t* p = line;
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
    return p;
  }
  while (*p != L'\0' && !IsBlankOrTab(*p)) ++p;
  return p;
}

}  // namespace

bool BuildSetupCommand(const InstallerOptions& options, const wchar_t* archive_path,
                       const wchar_t* setup_path, CommandString& command) {
  if (!SafeCopy(command, kCommandCapacity, L"\"") ||
      !SafeAppend(command, kCommandCapacity, setup_path) ||
      !SafeAppend(command, kCommandCapacity, L"\"") ||
      !SafeAppend(command, kCommandCapacity, L" --install-archive") ||
      !SafeAppend(command, kCommandCapacity, L"=\"") ||
      !SafeAppend(command, kCommandCapacity, archive_path) ||
      !SafeAppend(command, kCommandCapacity, L"\"")) {
    return false;
  }
  AppendPassThroughArguments(options, command);
  return true;
}

bool RunSetupForInstall(const InstallerOptions& options, const wchar_t* archive_path,
                        const wchar_t* setup_path, DWORD* exit_code) {
  CommandString command;
  if (!BuildSetupCommand(options, archive_path, setup_path, command)) return false;
  return RunProcessAndWait(nullptr, command, exit_code);
}

void AppendPassThroughArguments(const InstallerOptions& options, CommandString& command) {
  PathString module_path;
  const DWORD length = GetModuleFileNameW(nullptr, module_path, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) return;
  if (FileNameOf(module_path, length) == nullptr) return;
  if (options.argc <= 1 || options.command_line == nullptr) return;

  // The user's arguments are everything after the program name, exactly as
  // typed. Searching for the module's file name instead would misplace the
  // split when the name was typed without its extension or also occurs in a
  // folder of the path.
  const wchar_t* rest = EndOfProgramName(options.command_line);
  if (*rest == L'\0') return;
  const std::uint32_t before = command.length();
  // After a quoted name the first argument may follow directly; it still has
  // to stay apart from the closing quote of the command's last value.
  if (!IsBlankOrTab(*rest) && !SafeAppend(command, kCommandCapacity, L" ")) return;
  if (!SafeAppend(command, kCommandCapacity, rest)) command.Truncate(before);
}

bool RunProcessAndWait(const wchar_t* application_name, wchar_t* command_line,
                       DWORD* exit_code) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application_name, command_line, nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  bool ok = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0;
  if (ok && exit_code != nullptr) ok = GetExitCodeProcess(process.hProcess, exit_code) != FALSE;
  CloseHandle(process.hProcess);
  return ok;
}
