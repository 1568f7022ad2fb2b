// The record loader: reads the package behind the stub into InstallerState.
//
// loadPackage walks the record chain of state.sourcePath once: it derives the
// binding key from the stub, keeps buffers and texts in the state, decodes the
// string tables, checks the file table, and proves that the file is complete
// (it ends where the data area ends, or a signature table the stub's PE header
// declares follows it, or a start-page record was met). Returns LOAD_OK,
// LOAD_FAILED, or LOAD_INCOMPLETE, the only one that shows a message, (6, 33).
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "package/format.h"

extern StubData stubData;

// loadPackage results.
enum {
    LOAD_OK = 0,
    LOAD_FAILED = 1,      // the file or a record cannot be read, decoded or held
    LOAD_INCOMPLETE = 2   // the package does not prove complete, or its file
                          // table does not hold together
};

int loadPackage();

// Results of reading a record's contents (readRecordPayload,
// readStringTables).
enum {
    PAYLOAD_OK = 0,
    PAYLOAD_DAMAGED = 1,   // cannot be read, or does not decode to its size
    PAYLOAD_NO_MEMORY = 2  // its size cannot be had: more than its record can
                           // hold (possibleBufferSize), or more memory than there is
};

// Reads one buffer payload at the file's position; the caller has checked
// that the record's header.length bytes lie within the file. A stored
// payload is the record's bytes; a compressed one declares its size, which
// must be at most what the rest of the record can decode to
// (INFLATE_MAX_EXPANSION per byte) and at most RECORD_BUFFER_MAX, and its
// stream must lie within the record and decode to exactly that size.
// Nothing is allocated before those checks. On PAYLOAD_OK the block is in
// *buffer (owned by the caller, *size bytes plus a NUL behind them).
int readRecordPayload(FileHandle file, const PackageRecordHeader& header, uint8_t** buffer,
                      uint32_t* size);

// Whether a record of this tag carries a payload the loader keeps as a
// buffer (read through readRecordPayload).
bool isBufferRecord(uint16_t tag);

// Whether a buffer of `size` bytes can come from `available` bytes of its
// record: stored, at most those bytes; compressed, at most what they can
// decode to. Never more than RECORD_BUFFER_MAX.
bool possibleBufferSize(uint32_t size, uint32_t available, bool compressed);

// Reads the string-table record at the file's position into
// state.stringTables: a 16-bit count, then for each of the first eight
// tables a 32-bit size and a stream, all within the record, which ends at
// file position `end`. Each size is checked against the record's bytes left
// before its block is had. PAYLOAD_OK, or the failure of the first table
// that does not fit or decode.
int readStringTables(FileHandle file, uint32_t end);

// Frees every buffer read from the package and resets the references.
void releasePackageData();
