// Reading the data area across volume files (the package file is volume 0,
// then PACKAGE.D01, PACKAGE.D02, ... beside it). The reader works on the
// data file and the volume fields of the state record; the decoder reads
// the data area through VolumeInput.
#pragma once
#include <stdint.h>

#include "base/state.h"
#include "package/fileops.h"
#include "package/inflate.h"

// Moves on to the next volume, or reopens the current one after its medium
// was lost. Returns the new state.dataFile, INVALID_FILE on failure.
FileHandle openNextVolume();

// True when a missing volume is asked for: only in the temporary copy of a
// removable-disk start, and never in a quiet run (which has no one to ask:
// its missing volume is a read failure naming the volume's path).
inline bool asksForVolumes() { return state.isRelaunchedCopy && !state.quiet; }

// Reads count bytes of the data area from state.dataFile, continuing into
// the next volume once. *delivered receives the bytes placed in buffer.
// Returns INPUT_LOST when the next volume cannot be opened, else INPUT_OK
// (also for a short second read).
int readAcrossVolumes(void* buffer, uint32_t count, uint32_t* delivered);

// The data area as a decoder's input: reads go through readAcrossVolumes;
// bytes given back move the data file back within the current volume, as
// far as it delivered them (those of an earlier volume cannot be reached
// again), and count as ahead again.
class VolumeInput final : public StreamInput {
public:
    int read(void* buffer, uint32_t count, uint32_t* delivered) override;
    void giveBack(uint32_t n) override;
};
