// vornix.exe: start-up of the station program.
#include <winsock2.h>
#include <windows.h>

#include "app/MainDialog.h"
#include "app/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WSADATA sockets;
    const bool socketsStarted = WSAStartup(MAKEWORD(1, 1), &sockets) == 0;
    if (!socketsStarted || sockets.wVersion != MAKEWORD(1, 1)) {
        if (socketsStarted) WSACleanup();
        char text[256] = "Windows sockets initialization failed.";
        LoadStringA(instance, IDP_SOCKETS_INIT_FAILED, text, sizeof text);
        MessageBoxA(nullptr, text, "Vornix", MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }

    vornix::MainDialog dialog(instance);
    dialog.run();

    // The program ends with the dialog; runs still going on worker threads
    // end with it, unwaited. ExitProcess rather than a return: the dialog's
    // destructor would wait for them.
    ExitProcess(0);
}
