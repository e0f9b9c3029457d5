#include <windows.h>

#include "welkin/welkin.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunWelkin(); }
