// torvane.exe: the firmware updater's window.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "win/torvane_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i) {
        args.emplace_back(__argv[i]);
    }
    torvane::win::CTorvaneApp app(instance, std::move(args));
    app.InitInstance();
    return app.ExitInstance();
}
