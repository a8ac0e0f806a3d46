#include <windows.h>

#include "app/mdStartup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    return quillon::app::Main(commandLine ? commandLine : L"");
}
