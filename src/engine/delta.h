// The delta format and its interpreter.
//
// A delta entry's data is two streams back to back, commands then data:
//
//   header   1 byte: 0x01 body compressed, 0x02 size field is 4 bytes (else
//            2), 0x04 packed-length field is 4 bytes (else 2)
//   size     decoded length; 0 = empty stream, nothing else follows
//   packed   only when compressed: length of the compressed body
//   body     packed bytes (package stream format) or size plain bytes
//
// Command bytes (insert = bytes from the data stream, copy = old-file bytes):
//
//   0x80..0x9F  insert (x & 0x1F) + 1            1..32
//   0xA0..0xFF  insert (x >> 5) & 3, then copy   1..3, (x & 0x1F) + 2
//   0x01..0x7F  copy x + 1                       2..128
//   0x00 L L    copy L + 129 (L little-endian)   129..65,664
//
// Every copy is followed by a distance d from the old-file position where
// the previous copy ended (0 at the start of a file):
//
//   10vvvvvv               1 byte,  6-bit v:  d = v               -32..31
//   0vvvvvvv vvvvvvvv      2 bytes, 15-bit v: d = v +- 32         +-32..16,415/16,416
//   11vvvvvv v*8 v*8       3 bytes, 22-bit v: d = v +- 16,416     up to +-2,113,567/8
//
// (v two's complement; +- adds for v >= 0 and subtracts for v < 0.)
//
// Difference copies (entries with FE_DIFFERENCE_COPIES): a third stream
// follows the two, and every copied byte is the old byte (regions blanked)
// plus, modulo 256, the next byte of that difference stream. It is a size
// word (u32, the sum of all copy lengths) and chunks of
// DELTA_DIFFERENCE_CHUNK decoded bytes (the last holds the rest), each
// encoded as the streams above; the engine holds one chunk at a time
// (engine/difference.h).
//
// applyDelta first walks the whole command stream without writing a byte and
// refuses a delta that a sound packager never writes: a stream that ends
// inside a command, an insert past the data stream, a copy outside the old
// file, a copy longer than the 65,536-byte copy buffer, inserts and copies
// that do not add up to exactly the new file's size, a difference stream
// whose size is not the copies' total. It loads the first difference chunk;
// only then does it write the new file. Platform-free: it reads and writes
// through fileops.
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "package/filetable.h"

enum {
    STREAM_COMPRESSED = 0x01,
    STREAM_SIZE_32 = 0x02,
    STREAM_PACKED_32 = 0x04
};

// The largest copy the engine carries out (the copy buffer).
const uint32_t DELTA_COPY_MAX = 65536;
const uint32_t DELTA_INSERT_MAX = 32;
// Command forms: a copy of up to DELTA_SHORT_COPY_MAX bytes takes one byte,
// a longer one three; an insert of up to DELTA_FUSED_INSERT_MAX bytes fuses
// with a following copy of up to DELTA_FUSED_COPY_MAX bytes.
const uint32_t DELTA_SHORT_COPY_MAX = 128;
const uint32_t DELTA_FUSED_INSERT_MAX = 3;
const uint32_t DELTA_FUSED_COPY_MAX = 33;
// Distance fields: one byte holds -DELTA_DISTANCE_1..DELTA_DISTANCE_1 - 1,
// two bytes reach +-DELTA_DISTANCE_2 (their 15-bit value moved on by
// DELTA_DISTANCE_1), three bytes a 22-bit value moved on by
// DELTA_DISTANCE_2.
const int32_t DELTA_DISTANCE_1 = 32;
const int32_t DELTA_DISTANCE_2 = DELTA_DISTANCE_1 + 0x4000;
const int32_t DELTA_DISTANCE_MAX = DELTA_DISTANCE_2 + 0x1FFFFF;
const int32_t DELTA_DISTANCE_MIN = -DELTA_DISTANCE_2 - 0x200000;
static_assert(DELTA_DISTANCE_2 == 16416 && DELTA_DISTANCE_MAX == 2113567, "distance ranges");
// Decoded bytes per chunk of a difference stream (all chunks but the last).
const uint32_t DELTA_DIFFERENCE_CHUNK = 1048576;

// One decoded command: insert first, then copy from oldStart (which is the
// running position plus the distance).
struct DeltaCommand {
    uint32_t insertLength;
    uint32_t copyLength;
    int32_t distance;
};

// Reads one command (with its distance when it copies) at *pos, which must
// stay below end. False when the stream ends inside the command.
bool readDeltaCommand(const uint8_t** pos, const uint8_t* end, DeltaCommand* command);

// Results of applyDelta.
enum {
    DELTA_OK = 0,
    DELTA_BAD = 1,          // a command a sound packager never writes
    DELTA_NO_DATA = 2,      // an insert with an empty data stream
    DELTA_OLD_READ = 3,     // old-file bytes could not be read
    DELTA_WRITE_FAILED = 4,
    DELTA_WRITE_SHORT = 5,
    DELTA_NO_MEMORY = 6,
    DELTA_SOURCE_FAILED = 7  // the difference source failed (it recorded why)
};

// The difference bytes, a chunk at a time. next loads the chunk after the
// current one into bytes/length and returns ERR_NONE, or the ResultCode it
// recorded (engine/results.h).
struct DifferenceSource {
    const uint8_t* bytes;   // unread bytes of the current chunk
    uint32_t length;
    uint32_t size;          // declared size of the whole stream
    int (*next)(DifferenceSource* source);
};

// Reports the bytes written so far, at most once per command.
typedef void (*DeltaProgress)(void* context, uint32_t written);

struct DeltaJob {
    const uint8_t* commands;
    uint32_t commandSize;
    const uint8_t* data;     // null when the data stream is empty
    uint32_t dataSize;
    FileHandle oldFile;      // INVALID_FILE: no old file (no copy allowed)
    uint32_t oldSize;
    FileHandle output;
    uint32_t newSize;        // inserts plus copies must make exactly this
    // Located regions of the old file: their bytes are copied as zero.
    const PreservedRegion* regions;
    uint32_t regionCount;
    DeltaProgress progress;  // may be null
    void* progressContext;
    DifferenceSource* difference;  // null: plain copies
};

// Bytes the command stream builds (inserts plus copies), up to the first
// command cut short; for tools and tests that apply a delta on its own.
uint64_t deltaOutputSize(const uint8_t* commands, uint32_t commandSize);

// Checks the command stream against the data stream and the old file size.
// DELTA_OK, DELTA_BAD or DELTA_NO_DATA; *copied (unless null) gets the sum
// of the copy lengths.
int checkDelta(const DeltaJob* job, uint64_t* copied = 0);

// checkDelta, then writes the new file to job->output. Uses a 64 KiB
// output buffer (which doubles as the copy buffer) and a 128 KiB old-file
// read window, both freed before it returns.
int applyDelta(const DeltaJob* job);
