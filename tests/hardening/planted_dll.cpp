// planted.dll: stands in for a DLL that a web page drops into the Downloads
// folder. Copied under the name of a DLL that a process may load; when it is
// loaded, its entry point creates the file
//   %KAVO_PLANTED_MARKER_DIR%\<its folder's name>_<its file name>.loaded
// and does nothing else (it exports nothing, so a caller looking for an
// entry point in it gets none).
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH * 2];
  const DWORD folder_length = GetEnvironmentVariableW(L"KAVO_PLANTED_MARKER_DIR", marker, MAX_PATH);
  if (folder_length == 0 || folder_length >= MAX_PATH) return TRUE;
  wchar_t module[MAX_PATH];
  const DWORD module_length = GetModuleFileNameW(instance, module, MAX_PATH);
  if (module_length == 0 || module_length >= MAX_PATH) return TRUE;
  // The folder's name and the file name, the separator between them made
  // an underscore.
  wchar_t* folder = module;
  wchar_t* last = nullptr;
  for (wchar_t* p = module; *p != L'\0'; ++p) {
    if (*p != L'\\' && *p != L'/') continue;
    if (last != nullptr) folder = last + 1;
    last = p;
  }
  if (last == nullptr) return TRUE;
  *last = L'_';
  lstrcatW(marker, L"\\");
  lstrcatW(marker, folder);
  lstrcatW(marker, L".loaded");
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
