// The run driver: the stages of one installation, in a fixed order, and the
// process exit codes.
#pragma once

#include <windows.h>

constexpr int kExitOk = 0;
constexpr int kExitInitFailed = 101;      // command line or work directory
constexpr int kExitUnpackFailed = 102;    // payload
constexpr int kExitSetupFailed = 103;     // setup could not be run
constexpr int kExitArchiveCorrupt = 104;  // archive digest mismatch
constexpr int kExitAlreadyRunning = -1;   // another copy holds the guard

// Sweep, options, work directory, "ap" mark, unpack, digest, setup, clean-up.
// Returns setup's exit code or the code of the first failure.
int RunInstaller(HMODULE module);

// 0 when the executable's own file name cannot be read; otherwise ends the
// process with RunInstaller's result and does not return.
int RunAndExit();
