// The difference stream of a delta with difference copies, as the package
// holds it (the installer's reader is engine/difference.h):
//
//   size     u32 little-endian: the number of difference bytes, which is the
//            sum of the lengths of every copy of the command stream
//   chunks   ceil(size / DELTA_DIFFERENCE_CHUNK) streams, each encoded as the
//            command and data streams are (header, size, [packed], body);
//            every chunk decodes to DELTA_DIFFERENCE_CHUNK bytes but the
//            last, which holds the rest
//
// Every copied byte is the old byte plus, modulo 256, the next difference
// byte, so an exact copy carries zeros. DifferenceWriter compresses each
// chunk as soon as it is full, on a thread of its own while the matcher goes
// on (at most kInFlight chunks at once), and appends the chunks in order:
// the raw stream is never held whole, and the output does not depend on
// which compression ends first.
#pragma once
#include <cstdint>
#include <deque>
#include <future>

#include "pkg/writer.h"

namespace pkg {

class DifferenceWriter {
public:
    void add(const uint8_t* bytes, size_t n);
    void addZeros(size_t n);
    uint64_t size() const { return size_; }
    // The whole encoded stream (size word and chunks); the writer is spent.
    Bytes finish();

private:
    static const size_t kInFlight = 2;
    void flush();
    void collect(size_t keep);
    Bytes chunk_;
    Bytes chunks_;
    std::deque<std::future<Bytes>> pending_;
    uint64_t size_ = 0;
};

// The difference stream of n zeros: what a delta whose copies are all exact
// carries.
Bytes zeroDifference(uint64_t n);

// The sum of the copy lengths of a command stream (which must be sound).
uint64_t copiedBytes(const Bytes& commands);

}  // namespace pkg
