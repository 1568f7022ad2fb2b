#include "package/loader.h"

#include <string.h>

#include "package/filetable.h"
#include "package/binding.h"
#include "package/bitmap.h"
#include "package/inflate.h"
#include "package/paths.h"
#include "package/strings.h"
#include "base/state.h"

bool possibleBufferSize(uint32_t size, uint32_t available, bool compressed) {
    if (size > RECORD_BUFFER_MAX) return false;
    if (!compressed) return size <= available;
    return available && static_cast<uint64_t>(available) * INFLATE_MAX_EXPANSION >= size;
}

// Decodes one stream of at most `available` bytes into a new zero-filled
// block of `size` bytes and a spare NUL; the stream must fill it exactly.
static int decodeBlock(FileHandle file, uint32_t size, uint32_t available, uint8_t** block) {
    if (!possibleBufferSize(size, available, true)) return PAYLOAD_NO_MEMORY;
    *block = static_cast<uint8_t*>(allocZeroed(size + 1));
    if (!*block) return PAYLOAD_NO_MEMORY;
    if (decodeToMemory(*block, size, file, available)) return PAYLOAD_OK;
    freeBuffer(*block);
    return PAYLOAD_DAMAGED;
}

int readRecordPayload(FileHandle file, const PackageRecordHeader& header, uint8_t** buffer,
                      uint32_t* size) {
    uint32_t n = header.length;
    if (header.flags & RECORD_COMPRESSED) {
        if (n < 4 || readExact(file, &n, 4)) return PAYLOAD_DAMAGED;
        int r = decodeBlock(file, n, header.length - 4, buffer);
        if (r) return r;
    } else {
        if (!possibleBufferSize(n, header.length, false)) return PAYLOAD_NO_MEMORY;
        // One spare zero byte behind the payload: a text that lacks its own
        // terminator still ends inside the block.
        uint8_t* block = static_cast<uint8_t*>(allocZeroed(n + 1));
        if (!block) return PAYLOAD_NO_MEMORY;
        if (readExact(file, block, n)) {
            freeBuffer(block);
            return PAYLOAD_DAMAGED;
        }
        *buffer = block;
    }
    *size = n;
    return PAYLOAD_OK;
}

// Replaces a kept buffer: a later record of the same tag wins.
template <class T>
static void keep(T*& field, uint8_t* block) {
    freeBuffer(field);
    field = reinterpret_cast<T*>(block);
}

bool readStringTables(FileHandle file, uint32_t end) {
    uint16_t count = 0;
    if (end - tellFile(file) < 2 || readExact(file, &count, 2)) return false;
    for (unsigned i = 0; i < count && i < 8; i++) {
        uint32_t size, left = end - tellFile(file);
        if (left < 4 || readExact(file, &size, 4)) return false;
        uint8_t* block;
        if (decodeBlock(file, size, left - 4, &block)) return false;
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
    // Installers stay below 2 GiB (positions are signed on Win32).
    uint32_t total = fileSize(file);
    if (total > FILE_POSITION_MAX) error = true;

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
        // Every record but the last lies within the file: a record beyond
        // its end could only be followed by a header that cannot be read,
        // and on Win32 a position past 2 GiB would seek elsewhere.
        if (header.tag != REC_FILE_DATA && next > total) {
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
            error = !readStringTables(file, static_cast<uint32_t>(next));
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
            // A picture or font that does not fit its record counts as
            // none: it would only make drawing read past the block.
            case REC_FRAME_IMAGE:
                if (!checkBitmap(block, size)) freeBuffer(block);
                keep(state.frameImage, block);
                break;
            case REC_BACKGROUND_IMAGE:
                if (!checkBitmap(block, size)) freeBuffer(block);
                keep(state.backgroundImage, block);
                break;
            case REC_TITLE: keep(state.titleText, block); break;
            case REC_REG_KEY: keep(state.registrySubKey, block); break;
            case REC_REG_VALUE: keep(state.registryValue, block); break;
            case REC_INI_FILE: keep(state.iniFile, block); break;
            case REC_INI_SECTION: keep(state.iniSection, block); break;
            case REC_INI_KEY: keep(state.iniKey, block); break;
            case REC_TITLE_FONT:
                if (size != TITLE_FONT_SIZE) freeBuffer(block);
                keep(state.titleFont, block);
                break;
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
