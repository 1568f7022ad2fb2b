// Difference streams: chunked, each chunk compressed when it is full.
#include "pkg/difference.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

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
    collect(kInFlight - 1);
    auto task = [raw = std::move(chunk_)] { return encodeStream(raw); };
    chunk_.clear();
    try {
        pending_.push_back(std::async(std::launch::async, task));
    } catch (const std::system_error&) {  // no thread to be had: compress when collected
        pending_.push_back(std::async(std::launch::deferred, task));
    }
}

// Appends finished chunks, oldest first, until at most `keep` are pending.
void DifferenceWriter::collect(size_t keep) {
    while (pending_.size() > keep) {
        Bytes encoded = pending_.front().get();
        pending_.pop_front();
        chunks_.insert(chunks_.end(), encoded.begin(), encoded.end());
    }
}

Bytes DifferenceWriter::finish() {
    flush();
    collect(0);
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
