// Reading the data area across volumes.
//
// Volume 0 is the package file: its data starts behind the size word at
// state.dataAreaOffset. Volume k (1, 2, ...) is the package path with its
// extension replaced by ".D01", ".D02", ... (".D100" from 100 on): a 32-bit
// size word, then that many bytes of data (package/format.h). Only a relaunched copy (/DEL)
// asks for a missing disk; a started-from-disk installer fails at once.
//
// Reads never go past the current volume's declared data, so a certificate
// table behind a signed installer's data area is never taken for data.
#include "package/volume.h"

#include "base/state.h"
#include "package/codepage.h"
#include "package/format.h"
#include "package/strings.h"

// Replaces the extension of state.dataPath by that of volume `number`.
static void setVolumeSuffix(int number) {
    char* path = state.dataPath;
    uint32_t dot = 0xFFFFFFFF, len = 0;
    for (; path[len]; len++) {
        if (isLeadByte(path[len]) && path[len + 1]) {  // its second byte may be a '\\'
            len++;
            continue;
        }
        if (path[len] == '.') dot = len;
        if (path[len] == '\\' || path[len] == '/') dot = 0xFFFFFFFF;
    }
    uint32_t at = dot != 0xFFFFFFFF ? dot : len;
    char suffix[16];
    expandText(suffix, sizeof suffix, number < 10 ? VOLUME_EXTENSION_BELOW_10 : VOLUME_EXTENSION, 0, number, true);
    for (uint32_t i = 0; suffix[i] && at < TEXT_MAX; i++) path[at++] = suffix[i];
    path[at] = 0;
}

static void loseVolume() {
    state.volumeDataSize = 0;
    state.volumeBytesLeft = 0;
    closeFile(state.dataFile);
    state.dataFile = INVALID_FILE;
}

// Opens state.dataPath as the current volume, skipping `resume` data bytes.
// Returns false when the file is missing or its size word cannot be read
// (both count as a missing disk); a file that is there but cannot be
// positioned at the resume point counts as lost (state.dataFile invalid,
// true returned so that nobody asks again).
static bool openVolume(uint32_t resume) {
    state.dataFile = openFile(state.dataPath, OPEN_READ);
    if (state.dataFile == INVALID_FILE) return false;
    uint32_t start = state.volumeNumber == 0 ? state.dataAreaOffset : 0;
    if (start) seekTo(state.dataFile, start);
    state.volumeDataSize = 0;
    if (readExact(state.dataFile, &state.volumeDataSize, DATA_SIZE_WORD)) {
        loseVolume();
        return false;
    }
    if (resume > state.volumeDataSize) {
        loseVolume();
        return true;
    }
    state.volumeBytesLeft = state.volumeDataSize - resume;
    if (resume) {
        seekBy(state.dataFile, static_cast<int32_t>(resume));
        if (tellFile(state.dataFile) != start + resume + DATA_SIZE_WORD) loseVolume();
    }
    return true;
}

FileHandle openNextVolume() {
    closeFile(state.dataFile);
    state.dataFile = INVALID_FILE;
    uint32_t resume = 0;
    if (state.volumeBytesLeft != 0) {
        // The medium was lost in the middle of this volume: reopen it.
        resume = state.volumeDataSize - state.volumeBytesLeft;
    } else {
        state.volumeNumber += 1;
        setVolumeSuffix(state.volumeNumber);
        state.volumeDataBase += state.volumeDataSize;
    }
    for (;;) {
        if (openVolume(resume)) return state.dataFile;
        if (!asksForVolumes()) return INVALID_FILE;
        char text[1024];
        expandText(text, sizeof text, getString(TABLE_MESSAGES, TEXT_INSERT_DISK), 0, state.volumeNumber + 1, true);
        if (showMessage(text, MB_INFO_OKCANCEL) == BOX_OK) continue;
        if (showMessage(cancelQuestion(), MB_QUESTION_YESNO) != BOX_YES) continue;
        showMessage(getString(TABLE_MESSAGES, TEXT_CANCELLED), MB_INFO);
        state.pageResult = PAGE_RESULT_CANCEL;
        return INVALID_FILE;
    }
}

static uint32_t readWithinVolume(FileHandle handle, uint8_t* buffer, uint32_t count) {
    uint32_t n = count < state.volumeBytesLeft ? count : state.volumeBytesLeft;
    uint32_t got = n ? readSome(handle, buffer, n) : 0;
    state.volumeBytesLeft -= got;
    return got;
}

int readAcrossVolumes(void* buffer, uint32_t count, uint32_t* delivered) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    *delivered = readWithinVolume(state.dataFile, out, count);
    if (*delivered == count) return INPUT_OK;
    FileHandle next = openNextVolume();
    if (next == INVALID_FILE) return INPUT_LOST;
    *delivered += readWithinVolume(next, out + *delivered, count - *delivered);
    return INPUT_OK;
}

int VolumeInput::read(void* buffer, uint32_t count, uint32_t* delivered) {
    return readAcrossVolumes(buffer, count, delivered);
}

void VolumeInput::giveBack(uint32_t n) {
    uint32_t delivered = state.volumeDataSize - state.volumeBytesLeft;
    if (n > delivered) n = delivered;
    state.volumeBytesLeft += n;
    if (n && state.dataFile != INVALID_FILE) seekBy(state.dataFile, -static_cast<int32_t>(n));
}
