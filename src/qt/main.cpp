// torvane: the firmware updater's window on Linux.
#include "qt/desktop_app.h"

int main(int argc, char** argv) {
    return torvane::qt::RunDesktop(argc, argv);
}
