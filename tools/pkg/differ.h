// The differ: delta streams that turn an old file into a new one (the
// package side that lays out a whole update is pkg/update.h).
//
// diffFiles finds copies with hashed chains over the old file (4-byte keys,
// newest first, bounded depth) plus the two cheap guesses binaries reward:
// the old position where the last copy ended, and the same position moved on
// by the bytes inserted since (a substitution). Each candidate is costed by
// its encoded size (command byte, 1-3 distance bytes, fusing of a 1-3 byte
// insert) against the literal bytes it saves, plus the distance field that
// returning to the alignment of the last long copy will cost; three steps
// of lazy matching and backward extension into pending literals. Copies stay within
// the format: distances within +-2,113,567, lengths up to 65,536.
//
// Same inputs always give the same bytes.
#pragma once
#include <cstdint>
#include <vector>

#include "pkg/writer.h"

namespace pkg {

// The raw (not yet encoded) command and data streams of one delta.
struct DeltaStreams {
    Bytes commands;
    Bytes data;
};

// Appends a copy distance field (1, 2 or 3 bytes); d must lie within
// DELTA_DISTANCE_MIN..DELTA_DISTANCE_MAX.
void encodeDistance(Bytes& out, int32_t d);
// Appends commands that insert n bytes (the bytes go to the data stream).
void encodeInsert(DeltaStreams& delta, const uint8_t* bytes, size_t n);
// Appends one copy command of 2..65,536 bytes with its distance, fusing a
// preceding insert of 1-3 bytes when insertLength says so (that insert's
// bytes must already be in the data stream and not yet have a command).
void encodeCopy(Bytes& commands, uint32_t length, int32_t distance, uint32_t fusedInsert = 0);

DeltaStreams diffFiles(const Bytes& oldFile, const Bytes& newFile);
// A delta that inserts the whole new file.
DeltaStreams insertAll(const Bytes& newFile);

// One stream as the package holds it: header, size, [packed length], body;
// compressed when that is smaller.
Bytes encodeStream(const Bytes& raw);
// The same from the raw bytes and their compressed stream (compress.h).
Bytes encodeStreamPacked(const Bytes& raw, const Bytes& packed);
// Both streams, encoded, back to back.
Bytes encodeDelta(const DeltaStreams& delta);

}  // namespace pkg
