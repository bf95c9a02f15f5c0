// The Windows program: a GUI-subsystem executable without a window of its
// own. The command line is not read; the portable entry does everything.
#include <windows.h>

#include "driver/entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return plf::InstallerMain(); }
