// TEMPORARY stand-in so that the decoder's limited source links and can be
// tested; the real volume reader replaces this whole file.
#include "package/volume.h"

#include "run/state.h"

// TEMPORARY: the run state is defined in run/state.cpp once it lands.
static InstallerState makeInitialState() {
    InstallerState s = {};
    s.dataFile = INVALID_FILE;
    return s;
}
InstallerState state = makeInitialState();

// TEMPORARY: there is never a next volume.
FileHandle openNextVolume() { return INVALID_FILE; }

// TEMPORARY: one plain read; a short read means the volume ended, and since
// no next volume can be opened that is a failure.
int readAcrossVolumes(FileHandle handle, void* buffer, uint32_t count, uint32_t* delivered) {
    *delivered = readSome(handle, buffer, count);
    if (*delivered < count && openNextVolume() == INVALID_FILE) return 1;
    return 0;
}
