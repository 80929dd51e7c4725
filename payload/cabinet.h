// Expands a one-file Microsoft cabinet through the system's cabinet.dll (FDI).
#pragma once

#include <windows.h>
#include <fdi.h>

// Loaded once, kept until the process ends.
struct CabinetLibrary {
  HMODULE module;
  decltype(&FDICreate) create;
  decltype(&FDIDestroy) destroy;
  decltype(&FDICopy) copy;
};

extern const wchar_t* const kCabinetLibraryPaths[3];

// The process-wide library state (for inspection).
const CabinetLibrary& LoadedCabinetLibrary();

// Loads cabinet.dll by full path from the candidates, once; resolves the
// three entry points on every call.
bool LoadCabinetLibrary();

// Writes the cabinet's content into destination_path (with several files,
// each replaces the one before). False when the cabinet holds no file. The
// names stored in the cabinet never decide where anything is written.
bool ExpandCabinet(const wchar_t* cabinet_path, const wchar_t* destination_path);

// Heap strings (process heap; free with HeapFree). length counts UTF-16
// units, -1 meaning up to and including the NUL.
char* WideToUtf8(const wchar_t* text, int length);
wchar_t* Utf8ToWide(const char* text);

// FDI's callbacks.
FNALLOC(FdiAlloc);
FNFREE(FdiFree);
FNOPEN(FdiOpen);
FNREAD(FdiRead);
FNWRITE(FdiWrite);
FNCLOSE(FdiClose);
FNSEEK(FdiSeek);
FNFDINOTIFY(FdiNotify);
