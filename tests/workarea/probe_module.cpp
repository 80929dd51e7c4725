// Loaded by the work-directory tests only for its file name.
#include <windows.h>

extern "C" __declspec(dllexport) int WorkareaProbe() { return 1; }
