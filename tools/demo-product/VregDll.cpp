// Stand-in vreg.dll: a real DLL so loaders and version probes find one.
#include <windows.h>

extern "C" __declspec(dllexport) int VexaRegVersion() { return 1100; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
