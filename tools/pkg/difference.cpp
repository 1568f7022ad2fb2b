// Difference streams: chunked, each chunk compressed when it is full.
#include "pkg/difference.h"

#include <algorithm>
#include <stdexcept>

#include "engine/delta.h"
#include "pkg/differ.h"

namespace pkg {

void DifferenceWriter::add(const uint8_t* bytes, size_t n) {
    size_ += n;
    while (n) {
        size_t k = std::min<size_t>(n, DELTA_DIFFERENCE_CHUNK - chunk_.size());
        chunk_.insert(chunk_.end(), bytes, bytes + k);
        bytes += k;
        n -= k;
        if (chunk_.size() == DELTA_DIFFERENCE_CHUNK) flush();
    }
}

void DifferenceWriter::addZeros(size_t n) {
    size_ += n;
    while (n) {
        size_t k = std::min<size_t>(n, DELTA_DIFFERENCE_CHUNK - chunk_.size());
        chunk_.resize(chunk_.size() + k, 0);
        n -= k;
        if (chunk_.size() == DELTA_DIFFERENCE_CHUNK) flush();
    }
}

void DifferenceWriter::flush() {
    if (chunk_.empty()) return;
    Bytes encoded = encodeStream(chunk_);
    chunks_.insert(chunks_.end(), encoded.begin(), encoded.end());
    chunk_.clear();
}

Bytes DifferenceWriter::finish() {
    flush();
    if (size_ > 0xFFFFFFFFu) throw std::invalid_argument("difference stream over 4 GiB");
    Bytes out;
    put32(out, static_cast<uint32_t>(size_));
    out.insert(out.end(), chunks_.begin(), chunks_.end());
    chunks_.clear();
    size_ = 0;
    return out;
}

Bytes zeroDifference(uint64_t n) {
    // Every full chunk of zeros encodes alike: compress one and repeat it.
    Bytes out;
    if (n > 0xFFFFFFFFu) throw std::invalid_argument("difference stream over 4 GiB");
    put32(out, static_cast<uint32_t>(n));
    if (n >= DELTA_DIFFERENCE_CHUNK) {
        Bytes full = encodeStream(Bytes(DELTA_DIFFERENCE_CHUNK, 0));
        for (uint64_t k = n / DELTA_DIFFERENCE_CHUNK; k; k--) out.insert(out.end(), full.begin(), full.end());
    }
    if (n % DELTA_DIFFERENCE_CHUNK) {
        Bytes last = encodeStream(Bytes(n % DELTA_DIFFERENCE_CHUNK, 0));
        out.insert(out.end(), last.begin(), last.end());
    }
    return out;
}

uint64_t copiedBytes(const Bytes& commands) {
    uint64_t total = 0;
    const uint8_t* p = commands.data();
    const uint8_t* end = p + commands.size();
    DeltaCommand c;
    while (p < end && readDeltaCommand(&p, end, &c)) total += c.copyLength;
    return total;
}

}  // namespace pkg
