// The run's own work directory: "OV_" + five hex digits + ".tmp" + "\", under
// the temporary folder, or in the executable's folder when that fails.
#pragma once

#include <windows.h>

#include <cstdint>

#include "control/bounded_string.h"

// The name seed for a tick count: t XOR (t >> 12).
std::uint32_t WorkDirectorySeed(std::uint32_t tick_count);

// Tries the temporary folder first, then the executable's folder. On success
// out holds the new directory's path with one trailing backslash.
bool CreateWorkDirectory(HMODULE module, PathString& out);

// Creates a new work directory in base (a folder path ending in a backslash),
// with a seed taken from the tick count.
bool CreateWorkDirectoryIn(const wchar_t* base, PathString& out);

// CreateWorkDirectoryIn with a given first seed: at most ten names, seed,
// seed + 1, ..., each tried with CreateDirectoryW.
bool CreateWorkDirectoryFromSeed(const wchar_t* base, std::uint32_t seed, PathString& out);
