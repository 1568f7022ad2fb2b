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

int readStringTables(FileHandle file, uint32_t end) {
    uint16_t count = 0;
    if (end - tellFile(file) < 2 || readExact(file, &count, 2)) return PAYLOAD_DAMAGED;
    for (unsigned i = 0; i < count && i < TEXT_TABLE_COUNT; i++) {
        uint32_t size, left = end - tellFile(file);
        if (left < 4 || readExact(file, &size, 4)) return PAYLOAD_DAMAGED;
        uint8_t* block;
        if (int r = decodeBlock(file, size, left - 4, &block)) return r;
        keep(state.stringTables[i], block);
        state.stringTableSizes[i] = size;
    }
    return PAYLOAD_OK;
}

// Completeness: the file ends where the data area ends, or exactly a
// certificate table that the stub's PE header declares follows it.
static bool endsAtDataArea(uint32_t size, uint64_t dataEnd) {
    if (dataEnd == size) return true;
    return state.certificateSize != 0 && state.certificateOffset == dataEnd &&
           static_cast<uint64_t>(state.certificateOffset) + state.certificateSize == size;
}

// Keeps one buffer record's payload in the state (or frees it). A file
// table that does not hold together sets *badTable.
static void keepPayload(uint16_t tag, uint8_t* block, uint32_t size, bool* badTable) {
    switch (tag) {
    case REC_DEST_DIR:
        copyText(state.destinationDir, reinterpret_cast<char*>(block));
        freeBuffer(block);
        break;
    // A picture or font that does not fit its record counts as none: it
    // would only make drawing read past the block.
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
        // A table that does not hold together makes the package incomplete
        // rather than being read out of bounds later.
        if (!checkFileTable(block, size)) {
            *badTable = true;
            break;
        }
        memcpy(&state.entryCount, block, 4);
        state.firstEntry = reinterpret_cast<FileEntry*>(block + 4);
        break;
    default:
        freeBuffer(block);
        break;
    }
}

bool isBufferRecord(uint16_t tag) {
    switch (tag) {
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
    case REC_TITLE_FONT: return true;
    default: return false;
    }
}

// What the record walk has learnt so far.
struct RecordWalk {
    FileHandle file;
    uint32_t total;  // the file's size
    bool complete;   // the package is proven complete
    bool badTable;   // its file table does not hold together
};

// Reads one record whose header has been read; the file stands at its
// contents (position `here`), which end at `next`. PAYLOAD_OK, or the
// failure of a record that cannot be read or decoded.
static int readRecord(RecordWalk& w, const PackageRecordHeader& header, uint32_t here, uint64_t next) {
    switch (header.tag) {
    case REC_OPTIONS:
        readExact(w.file, &state.options, 4);
        return PAYLOAD_OK;
    case REC_REG_ROOT:
        readExact(w.file, &state.registryRoot, 4);
        return PAYLOAD_OK;
    case REC_START_PAGE:
        if (readExact(w.file, &stubData.header.startPage, 2)) return PAYLOAD_DAMAGED;
        w.complete = true;
        return PAYLOAD_OK;
    case REC_STRING_TABLES:
        return readStringTables(w.file, static_cast<uint32_t>(next));
    case REC_FILE_DATA: {
        state.dataAreaOffset = here;
        if (readExact(w.file, &state.volumeDataSize, 4)) return PAYLOAD_DAMAGED;
        state.volumeBytesLeft = state.volumeDataSize;
        state.volumeDataBase = 0;
        uint64_t end = static_cast<uint64_t>(here) + 4 + state.volumeDataSize;
        if (endsAtDataArea(w.total, end)) w.complete = true;
        return PAYLOAD_OK;
    }
    default:
        break;
    }
    if (!isBufferRecord(header.tag)) return PAYLOAD_OK;
    uint8_t* block = 0;
    uint32_t size = 0;
    if (int r = readRecordPayload(w.file, header, &block, &size)) return r;
    keepPayload(header.tag, block, size, &w.badTable);
    return PAYLOAD_OK;
}

// The stub's bytes give the binding key and the place of a certificate
// table its PE header declares. PAYLOAD_DAMAGED when they cannot be read.
static int bindToStub(FileHandle file, uint32_t stubSize) {
    uint8_t* stub = static_cast<uint8_t*>(allocBuffer(stubSize));
    int r = PAYLOAD_DAMAGED;
    if (stub && !readExact(file, stub, stubSize)) {
        StubBinding binding = computeBinding(stub, stubSize);
        state.bindingKey = binding.key;
        state.certificateOffset = binding.certificateOffset;
        state.certificateSize = binding.certificateSize;
        r = PAYLOAD_OK;
    }
    freeBuffer(stub);
    return r;
}

// Walks the records behind the stub up to the data area (or the file's
// end). PAYLOAD_OK, or the failure of a record that cannot be read.
static int walkRecords(RecordWalk& w) {
    for (;;) {
        PackageRecordHeader header;
        if (readExact(w.file, &header, sizeof header)) return PAYLOAD_DAMAGED;
        if (header.length == 0) {
            if (header.tag == REC_FILE_DATA) return PAYLOAD_OK;
            continue;
        }
        uint32_t here = tellFile(w.file);
        uint64_t next = static_cast<uint64_t>(here) + header.length;
        // Every record but the last lies within the file: a record beyond
        // its end could only be followed by a header that cannot be read,
        // and on Win32 a position past 2 GiB would seek elsewhere.
        if (header.tag != REC_FILE_DATA && next > w.total) return PAYLOAD_DAMAGED;
        if (int r = readRecord(w, header, here, next)) return r;
        if (w.badTable || header.tag == REC_FILE_DATA) return PAYLOAD_OK;
        seekTo(w.file, static_cast<uint32_t>(next));
    }
}

int loadPackage() {
    uint32_t stubSize = stubData.header.stubSize;
    if (stubSize == 0) return LOAD_FAILED;
    copyText(state.dataPath, state.sourcePath);
    RecordWalk w = {openFile(state.dataPath, OPEN_READ), 0, false, false};
    if (w.file == INVALID_FILE) return LOAD_FAILED;
    int r = bindToStub(w.file, stubSize);
    seekTo(w.file, stubSize);
    // Installers stay below 2 GiB (positions are signed on Win32).
    w.total = fileSize(w.file);
    if (w.total > FILE_POSITION_MAX) r = PAYLOAD_DAMAGED;
    if (!r) r = walkRecords(w);
    closeFile(w.file);
    if (r) return LOAD_FAILED;
    if (w.complete && !w.badTable) return LOAD_OK;
    const char* text = getString(TABLE_MESSAGES, TEXT_DAMAGED_INSTALLER);
    if (*text) showMessage(text, MB_INFO);
    return LOAD_INCOMPLETE;
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
    for (unsigned i = 0; i < TEXT_TABLE_COUNT; i++) {
        freeBuffer(state.stringTables[i]);
        state.stringTableSizes[i] = 0;
    }
}
