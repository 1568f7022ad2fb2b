// Reading the data area across volume files (the package file is volume 0,
// then PACKAGE.D01, PACKAGE.D02, ... beside it).
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "run/state.h"

// Moves on to the next volume, or reopens the current one after its medium
// was lost. Returns the new state.dataFile, INVALID_FILE on failure.
FileHandle openNextVolume();

// True when a missing volume is asked for: only in the temporary copy of a
// removable-disk start, and never in a quiet run (which has no one to ask:
// its missing volume is a read failure naming the volume's path).
inline bool asksForVolumes() { return state.isRelaunchedCopy && !state.quiet; }

// Reads count bytes from handle (state.dataFile), continuing into the next
// volume once. *delivered receives the bytes placed in buffer. Returns 1 when
// the next volume cannot be opened, else 0 (also for a short second read).
int readAcrossVolumes(FileHandle handle, void* buffer, uint32_t count, uint32_t* delivered);

// A reader moves the position of the data file back by up to n bytes within
// the current volume: returns how many it may (those the volume has already
// delivered) and counts them as ahead again.
uint32_t volumeGiveBack(uint32_t n);
