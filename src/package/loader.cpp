#include "package/loader.h"

#include <string.h>

#include "engine/filetable.h"
#include "package/binding.h"
#include "package/inflate.h"
#include "package/strings.h"
#include "run/state.h"

int readRecordPayload(FileHandle file, const PackageRecordHeader& header, uint8_t** buffer,
                      uint32_t* size) {
    uint32_t n = header.length;
    bool compressed = header.flags & RECORD_COMPRESSED;
    if (compressed && readExact(file, &n, 4)) return 1;
    if (n == 0xFFFFFFFFu) return 5;
    // One spare zero byte behind the payload: a text that lacks its own
    // terminator still ends inside the block.
    uint8_t* block = static_cast<uint8_t*>(allocZeroed(n + 1));
    if (!block) return 5;
    bool ok = compressed ? decodeToMemory(block, n, file, 0) : readExact(file, block, n) == 0;
    if (!ok) {
        freeBuffer(block);
        return 1;
    }
    *buffer = block;
    *size = n;
    return 0;
}

// Replaces a kept buffer: a later record of the same tag wins.
template <class T>
static void keep(T*& field, uint8_t* block) {
    freeBuffer(field);
    field = reinterpret_cast<T*>(block);
}

static bool readStringTables(FileHandle file) {
    uint16_t count = 0;
    if (readExact(file, &count, 2)) return false;
    for (unsigned i = 0; i < count && i < 8; i++) {
        uint32_t size;
        if (readExact(file, &size, 4) || size == 0xFFFFFFFFu) return false;
        uint8_t* block = static_cast<uint8_t*>(allocZeroed(size + 1));
        if (!block) return false;
        if (!decodeToMemory(block, size, file, 0)) {
            freeBuffer(block);
            return false;
        }
        keep(state.stringTables[i], block);
        state.stringTableSizes[i] = size;
    }
    return true;
}

// Completeness: the file ends where the data area ends, or exactly a
// certificate table that the stub's PE header declares follows it.
static bool endsAtDataArea(uint32_t size, uint64_t dataEnd) {
    if (dataEnd == size) return true;
    return state.certificateSize != 0 && state.certificateOffset == dataEnd &&
           static_cast<uint64_t>(state.certificateOffset) + state.certificateSize == size;
}

int loadPackage() {
    uint32_t stubSize = stubData.header.stubSize;
    if (stubSize == 0) return 0;
    copyText(state.dataPath, state.sourcePath);
    FileHandle file = openFile(state.dataPath, OPEN_READ);
    if (file == INVALID_FILE) return 0;

    bool error = false, complete = false, badTable = false;
    uint8_t* stub = static_cast<uint8_t*>(allocBuffer(stubSize));
    if (!stub || readExact(file, stub, stubSize)) {
        error = true;
    } else {
        StubBinding binding = computeBinding(stub, stubSize);
        state.bindingKey = binding.key;
        state.certificateOffset = binding.certificateOffset;
        state.certificateSize = binding.certificateSize;
    }
    freeBuffer(stub);
    seekTo(file, stubSize);
    uint32_t total = fileSize(file);

    while (!error) {
        PackageRecordHeader header;
        if (readExact(file, &header, sizeof header)) {
            error = true;
            break;
        }
        if (header.length == 0) {
            if (header.tag == REC_FILE_DATA) break;
            continue;
        }
        uint32_t here = tellFile(file);
        uint64_t next = static_cast<uint64_t>(here) + header.length;
        if (next > 0xFFFFFFFFu) {  // would wrap round to an earlier record
            error = true;
            break;
        }
        uint8_t* block = 0;
        uint32_t size = 0;
        switch (header.tag) {
        case REC_OPTIONS:
            readExact(file, &state.options, 4);
            break;
        case REC_REG_ROOT:
            readExact(file, &state.registryRoot, 4);
            break;
        case REC_START_PAGE:
            if (readExact(file, &stubData.header.startPage, 2))
                error = true;
            else
                complete = true;
            break;
        case REC_STRING_TABLES:
            error = !readStringTables(file);
            break;
        case REC_FILE_DATA: {
            state.dataAreaOffset = here;
            if (readExact(file, &state.volumeDataSize, 4)) {
                error = true;
                break;
            }
            state.volumeBytesLeft = state.volumeDataSize;
            state.volumeDataBase = 0;
            uint64_t end = static_cast<uint64_t>(here) + 4 + state.volumeDataSize;
            if (endsAtDataArea(total, end)) complete = true;
            break;
        }
        case REC_DEST_DIR:
        case REC_FRAME_IMAGE:
        case REC_BACKGROUND_IMAGE:
        case REC_TITLE:
        case REC_REG_KEY:
        case REC_REG_VALUE:
        case REC_INI_FILE:
        case REC_INI_SECTION:
        case REC_INI_KEY:
        case REC_TEMPLATES:
        case REC_FILE_TABLE:
        case REC_TITLE_FONT:
            if (readRecordPayload(file, header, &block, &size)) {
                error = true;
                break;
            }
            switch (header.tag) {
            case REC_DEST_DIR:
                copyText(state.destinationDir, reinterpret_cast<char*>(block));
                freeBuffer(block);
                break;
            case REC_FRAME_IMAGE: keep(state.frameImage, block); break;
            case REC_BACKGROUND_IMAGE: keep(state.backgroundImage, block); break;
            case REC_TITLE: keep(state.titleText, block); break;
            case REC_REG_KEY: keep(state.registrySubKey, block); break;
            case REC_REG_VALUE: keep(state.registryValue, block); break;
            case REC_INI_FILE: keep(state.iniFile, block); break;
            case REC_INI_SECTION: keep(state.iniSection, block); break;
            case REC_INI_KEY: keep(state.iniKey, block); break;
            case REC_TITLE_FONT: keep(state.titleFont, block); break;
            case REC_TEMPLATES:
                keep(state.templateBlob, block);
                state.templateBlobSize = size;
                break;
            case REC_FILE_TABLE:
                keep(state.fileTable, block);
                state.fileTableSize = size;
                state.entryCount = 0;
                state.firstEntry = 0;
                // A table that does not hold together makes the package
                // incomplete rather than being read out of bounds later.
                if (!checkFileTable(block, size)) {
                    badTable = true;
                    break;
                }
                memcpy(&state.entryCount, block, 4);
                state.firstEntry = reinterpret_cast<FileEntry*>(block + 4);
                break;
            }
            break;
        default:
            break;
        }
        if (error || badTable || header.tag == REC_FILE_DATA) break;
        seekTo(file, static_cast<uint32_t>(next));
    }
    closeFile(file);
    if (error) return 0;
    if (complete && !badTable) return 1;
    const char* text = getString(6, 33);
    if (*text) showMessage(text, MB_INFO);
    return 0;
}

void releasePackageData() {
    freeBuffer(state.fileTable);
    state.firstEntry = 0;
    state.entryCount = 0;
    freeBuffer(state.templateBlob);
    state.templateBlobSize = 0;
    freeBuffer(state.iniKey);
    freeBuffer(state.iniSection);
    freeBuffer(state.iniFile);
    freeBuffer(state.registryValue);
    freeBuffer(state.registrySubKey);
    freeBuffer(state.frameImage);
    freeBuffer(state.backgroundImage);
    freeBuffer(state.titleFont);
    freeBuffer(state.titleText);
    for (int i = 0; i < 8; i++) {
        freeBuffer(state.stringTables[i]);
        state.stringTableSizes[i] = 0;
    }
}
