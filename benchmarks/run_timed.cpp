// run_timed: times whole runs of programs in one Wine prefix (the
// installer, a trivial program, ...), interleaved so that all see the same
// machine state.
//
//   run_timed.exe <runs> <temp folder> <setup record file>
//                 <name> <command line> [<name> <command line>]...
//
// Every program runs with TMP and TEMP set to <temp folder> (so the
// installer's sweep and work directory stay there); the setup program
// records each start to <setup record file> and exits at once with 0. One
// untimed round comes first (warm caches); every run starts after a pause
// of 300 ms. Prints "name=value" lines: for
// each <name> every run's milliseconds (<name>_ms) and the median
// (<name>_median_ms); then the checks: all exit codes 0 (exit_codes_ok),
// how often setup was started (setup_starts, warm-up included) and how
// many work directories were left behind. Exit code 1 when a program
// cannot be started or an exit code is not 0.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kSettleMs = 300;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// Starts the command line, waits for it; the time from before
// CreateProcessW to the end of the process, and its exit code.
bool TimeRun(std::wstring command, double* ms, DWORD* exit_code) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&to);
  GetExitCodeProcess(process.hProcess, exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  *ms = Milliseconds(from, to);
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

int CountLines(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (f == nullptr) return 0;
  int lines = 0;
  for (int c; (c = std::fgetc(f)) != EOF;) lines += c == '\n';
  std::fclose(f);
  return lines;
}

// Entries of folder whose names begin with OV_ (work directories).
int CountWorkDirectories(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\OV_*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n; while (FindNextFileW(find, &data));
  FindClose(find);
  return n;
}

void PrintList(const char* name, const std::vector<double>& values) {
  std::printf("%s=", name);
  for (std::size_t i = 0; i < values.size(); ++i) std::printf(i ? ",%.1f" : "%.1f", values[i]);
  std::printf("\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6 || (argc - 4) % 2 != 0) {
    std::fprintf(stderr, "usage: run_timed <runs> <temp folder> <record file> <name> <command line>...\n");
    return 2;
  }
  const int runs = _wtoi(argv[1]);
  const std::wstring temp = argv[2];
  const std::wstring record = argv[3];
  if (runs < 1) return 2;
  struct Program {
    std::wstring name, command;
    std::vector<double> ms;
  };
  std::vector<Program> programs;
  for (int i = 4; i + 1 < argc; i += 2) programs.push_back({argv[i], argv[i + 1], {}});

  SetEnvironmentVariableW(L"TMP", temp.c_str());
  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  SetEnvironmentVariableW(L"KAVO_SETUP_RECORD", record.c_str());
  SetEnvironmentVariableW(L"KAVO_SETUP_EXIT_CODE", L"0");
  SetEnvironmentVariableW(L"KAVO_SETUP_HOLD_MS", nullptr);
  SetEnvironmentVariableW(L"KAVO_SETUP_HOLD_EVENT", nullptr);
  DeleteFileW(record.c_str());

  bool exit_codes_ok = true;
  for (int r = -1; r < runs; ++r) {  // r = -1: the warm-up
    for (Program& program : programs) {
      // Wine finishes a process (unmapping, closing, deleting) after its
      // handle is signalled; let that settle so that it is not charged to
      // the next program.
      Sleep(kSettleMs);
      double ms = 0;
      DWORD code = 1;
      if (!TimeRun(program.command, &ms, &code)) {
        std::fprintf(stderr, "run_timed: cannot start %ls\n", program.command.c_str());
        return 1;
      }
      if (code != 0) {
        std::fprintf(stderr, "run_timed: %ls exited with %lu\n", program.name.c_str(), code);
        exit_codes_ok = false;
      }
      if (r >= 0) program.ms.push_back(ms);
    }
  }

  for (const Program& program : programs) {
    const std::string name(program.name.begin(), program.name.end());
    PrintList((name + "_ms").c_str(), program.ms);
    std::printf("%s_median_ms=%.1f\n", name.c_str(), Median(program.ms));
  }
  std::printf("exit_codes_ok=%d\n", exit_codes_ok ? 1 : 0);
  std::printf("setup_starts=%d\n", CountLines(record));
  std::printf("work_directories_left=%d\n", CountWorkDirectories(temp));
  return exit_codes_ok ? 0 : 1;
}
