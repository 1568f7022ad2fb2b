// Program entry of the stub.
#include "run/run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState) {
    return runInstaller(instance, commandLine, showState);
}
