// TEMPORARY stand-ins for the installation engine's interfaces that the
// wizard calls, until the delta work (installNextFile, beginInstallation,
// finishInstallation, reportOutcome) is in main. Then this header and
// engine_standins.cpp go and the pages include the engine's own header.
// Every declaration here has the shape the engine gives it.
#pragma once
#include <windows.h>

int beginInstallation();
void finishInstallation();
// Handles the next file that needs work; non-zero while more remains.
int installNextFile(HWND page);
// Appends "path: (6, outcome)" to the page's list 1013.
void reportOutcome(HWND page, int outcome, const char* path);
