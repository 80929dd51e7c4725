// Refuses a damaged download: the unpacked archive against string 130.
#pragma once

#include <windows.h>

constexpr UINT kArchiveDigestStringId = 130;

// True when the archive file's MD5, as 32 lowercase digits, equals the first
// 32 characters of string 130 of module. Never true when the file's digest
// could not be computed.
bool CheckArchiveDigest(HMODULE module, const wchar_t* archive_path);
