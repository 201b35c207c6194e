// quillon.exe: the ZK-Q870 firmware updater, the Windows program that a
// service technician runs. Its dialog identifies the printer on USB, shows
// the pending update and updates the printer on request.
#include <windows.h>

#include "frontends/win32/updater_program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int status = 0;
    if (!PrepareProgram("quillon", false, &status, nullptr)) return status;
    return RunUpdater(instance);
}
