#include "run/state.h"

// Constant-initialised: no start-up code runs for it.
static constexpr InstallerState initialState() {
    InstallerState s = {};
    s.dataFile = INVALID_FILE;
    return s;
}
InstallerState state = initialState();

void copyText(char* destination, const char* text) {
    uint32_t i = 0;
    if (text)
        for (; text[i]; i++) {
            if (i == TEXT_MAX) {
                state.textCut = 1;
                break;
            }
            destination[i] = text[i];
        }
    destination[i] = 0;
}

static char** const textBuffers[8] = {
    &state.sourcePath, &state.dataPath, &state.destinationDir, &state.targetPath,
    &state.workPath, &state.scratchPath, &state.alternateFolder, &state.messageSubject,
};

bool allocateTextBuffers() {
    for (char** buffer : textBuffers) {
        *buffer = static_cast<char*>(allocZeroed(TEXT_CAPACITY));
        if (!*buffer) return false;
    }
    return true;
}

void releaseSessionBuffers() {
    for (char** buffer : textBuffers) freeBuffer(*buffer);
    freeBuffer(state.destinationSwitch);
    freeBuffer(state.logPath);
}
