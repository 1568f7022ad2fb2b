// The approximate matcher: deltas with difference copies.
//
// The old file is indexed by a suffix array (libdivsufsort sorts it). The
// new file is scanned as bsdiff scans it: at each position the longest
// match in the old file is looked up, and a new alignment is taken only
// when it beats the current one (old and new moved on together) by enough
// bytes to pay for a copy command; each alignment is then stretched
// forwards and backwards while enough bytes agree, so that a copy absorbs
// the bytes that differ (changed addresses in moved machine code) and
// carries their differences instead of breaking into inserts. What is left
// between two copies is inserted.
//
// Memory: the old file, the new file and the suffix array (4 bytes per old
// byte); the difference stream is compressed a chunk at a time as it is
// produced, so it is never held raw. Same inputs always give the same bytes.
#pragma once
#include <optional>

#include "pkg/differ.h"

namespace pkg {

// A delta with difference copies: the command and data streams (raw) and
// the encoded difference stream (pkg/difference.h).
struct DifferenceDelta {
    DeltaStreams streams;
    Bytes difference;
};

// Nothing when this build has no suffix sorter (the Windows test programs):
// only plain deltas can be made there.
std::optional<DifferenceDelta> diffApproximate(const Bytes& oldFile, const Bytes& newFile);

// A plain delta from the copies of a delta with difference copies: each
// copy keeps its stretches of equal bytes (at least kExactRun long) and
// inserts the rest. For files too large to be worth a search of their own.
DeltaStreams exactCopies(const DeltaStreams& approximate, const Bytes& oldFile, const Bytes& newFile);

// How many bytes a[0, limit) and b[0, limit) agree on from the start
// (8 bytes a step); both matchers extend their matches with it.
size_t matchLength(const uint8_t* a, const uint8_t* b, size_t limit);

// Old files above this size get their plain delta from exactCopies.
const size_t kSearchPlainLimit = size_t(32) << 20;

}  // namespace pkg
