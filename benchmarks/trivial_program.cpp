// trivial_program: a GUI-subsystem program that does nothing. Starting it is
// the cost of a process start in the Wine prefix, the floor that the
// installer (which also starts setup) is measured against.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
