// Stand-in jre\bin\client\jvm.dll: the runtime search only checks that the
// file exists; creating a VM is refused.
#include <windows.h>

extern "C" __declspec(dllexport) int JNI_CreateJavaVM(void**, void**, void*) { return -1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
