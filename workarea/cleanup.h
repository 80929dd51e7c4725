// Removal of work directories: the sweep of leftovers at the start of a run,
// and the removal of the run's own files at its end. Nothing here can fail a
// run: every failure is silent and leaves what could not be removed.
#pragma once

#include "control/bounded_string.h"

// Directory name prefixes swept in the temporary folder, in this order.
extern const wchar_t* const kWorkDirectoryPrefixes[2];  // "OV_", "orvane_"

// Registry switch that keeps the work files when it reads "0".
extern const wchar_t kCleanupSwitchKey[];    // HKCU "Software\KavoOrvane"
extern const wchar_t kCleanupSwitchValue[];  // "OrvaneInstallerCleanup"

// Sweeps every prefix in the temporary folder.
void SweepStaleWorkDirectories();

// Removes every directory in temp_dir (ending in a backslash) whose name
// begins with prefix.
void SweepWorkDirectoriesWithPrefix(const wchar_t* temp_dir, const wchar_t* prefix);

// Removes the directory named by path (no trailing backslash) with all it
// holds. path serves as work space and names the directory again on return.
// Never follows a reparse point (junction, symbolic link) out of the tree.
void DeleteDirectoryTree(PathString& path);

bool IsDotOrDotDot(const wchar_t* name);

// False only when the clean-up switch reads "0".
bool IsCleanupEnabled();

// Deletes the archive and the setup program (either path may be empty), then
// removes the work directory if nothing else is left in it.
void RemoveWorkFiles(const wchar_t* work_dir, const wchar_t* archive_path,
                     const wchar_t* setup_path);
