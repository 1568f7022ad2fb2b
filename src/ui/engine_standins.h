// TEMPORARY stand-ins for the installation engine's interfaces that the
// wizard calls, until the delta work (engine/install.h, engine/replace.h) is
// in main. Then this header and engine_standins.cpp go and the pages include
// those two headers instead; every declaration here has their shape.
#pragma once
#include <stdint.h>

int beginInstallation();
void finishInstallation();
// Handles the next file that needs work; non-zero while more may follow.
int installNextFile(void* page);
// Appends "path: (6, outcome)" to the page's list 1013.
void reportOutcome(void* page, unsigned outcome, const char* path);
// The engine reports progress through this; the progress page plugs in.
typedef void (*ProgressListener)(uint32_t percent);
extern ProgressListener progressListener;
