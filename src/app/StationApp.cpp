// vornix.exe: the operator's program on the station PC.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(nullptr, "The operator dialog is not part of this build yet.", "Vornix",
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
