#include "pkg/differ.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/delta.h"
#include "pkg/compress.h"
#include "pkg/difference.h"
#include "pkg/suffixdiff.h"

namespace pkg {

// ---- Encoding ----

void encodeDistance(Bytes& out, int32_t d) {
    if (d >= -DELTA_DISTANCE_1 && d < DELTA_DISTANCE_1) {
        out.push_back(static_cast<uint8_t>(0x80 | (d & 0x3F)));
    } else if (d >= -DELTA_DISTANCE_2 && d < DELTA_DISTANCE_2) {
        int32_t v = d > 0 ? d - DELTA_DISTANCE_1 : d + DELTA_DISTANCE_1;
        out.push_back(static_cast<uint8_t>((v >> 8) & 0x7F));
        out.push_back(static_cast<uint8_t>(v));
    } else {
        if (d < DELTA_DISTANCE_MIN || d > DELTA_DISTANCE_MAX)
            throw std::logic_error("differ: copy distance out of range");
        int32_t v = d > 0 ? d - DELTA_DISTANCE_2 : d + DELTA_DISTANCE_2;
        out.push_back(static_cast<uint8_t>(0xC0 | ((v >> 16) & 0x3F)));
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
}

void encodeInsert(DeltaStreams& delta, const uint8_t* bytes, size_t n) {
    delta.data.insert(delta.data.end(), bytes, bytes + n);
    while (n) {
        size_t k = std::min<size_t>(n, DELTA_INSERT_MAX);
        delta.commands.push_back(static_cast<uint8_t>(0x80 | (k - 1)));
        n -= k;
    }
}

void encodeCopy(Bytes& commands, uint32_t length, int32_t distance, uint32_t fusedInsert) {
    if (length < 2 || length > DELTA_COPY_MAX) throw std::logic_error("differ: copy length");
    if (fusedInsert) {
        if (fusedInsert > DELTA_FUSED_INSERT_MAX || length > DELTA_FUSED_COPY_MAX)
            throw std::logic_error("differ: fused command");
        commands.push_back(static_cast<uint8_t>(0x80 | (fusedInsert << 5) | (length - 2)));
    } else if (length <= DELTA_SHORT_COPY_MAX) {
        commands.push_back(static_cast<uint8_t>(length - 1));
    } else {
        commands.push_back(0);
        commands.push_back(static_cast<uint8_t>(length - DELTA_SHORT_COPY_MAX - 1));
        commands.push_back(static_cast<uint8_t>((length - DELTA_SHORT_COPY_MAX - 1) >> 8));
    }
    encodeDistance(commands, distance);
}

static int distanceBytes(int64_t d) {
    if (d >= -DELTA_DISTANCE_1 && d < DELTA_DISTANCE_1) return 1;
    if (d >= -DELTA_DISTANCE_2 && d < DELTA_DISTANCE_2) return 2;
    return 3;
}

// ---- Matching ----

namespace {

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

class Matcher {
public:
    Matcher(const Bytes& oldFile, const Bytes& newFile) : o_(oldFile), n_(newFile) {
        size_t size = o_.size();
        bits_ = 16;
        while (bits_ < 24 && (size_t(1) << bits_) < size) bits_++;
        head_.assign(size_t(1) << bits_, 0);
        if (size >= 4) {
            prev_.assign(size, 0);
            for (size_t i = 0; i + 4 <= size; i++) {
                uint32_t h = hash(o_.data() + i);
                prev_[i] = head_[h];
                head_[h] = static_cast<uint32_t>(i + 1);
            }
        }
    }

    DeltaStreams run() {
        DeltaStreams out;
        const size_t m = n_.size();
        size_t i = 0, litStart = 0;
        int64_t oldPos = 0;
        while (i < m) {
            Match best = find(i, litStart, oldPos);
            if (best.gain <= 0) {
                i++;
                continue;
            }
            // Lazy: a clearly better copy one or two bytes on wins.
            bool later = false;
            for (size_t k = 1; k <= kLazy && i + k < m && !later; k++)
                later = find(i + k, litStart, oldPos).gain > best.gain + double(k) * kLit;
            if (later) {
                i++;
                continue;
            }
            // Backward extension into the pending literals.
            while (i > litStart && best.from > 0 && n_[i - 1] == o_[best.from - 1]) {
                i--;
                best.from--;
                best.length++;
            }
            emit(out, litStart, i, best, oldPos);
            lastCopy_ = best.length;
            if (best.length >= kAnchorLength) {
                anchor_ = int64_t(best.from) - int64_t(i);
                haveAnchor_ = true;
            }
            i += best.length;
            litStart = i;
        }
        if (litStart < m) encodeInsert(out, n_.data() + litStart, m - litStart);
        return out;
    }

private:
    struct Match {
        size_t from = 0;
        size_t length = 0;
        double gain = 0;
    };

    uint32_t hash(const uint8_t* p) const { return (load32(p) * 2654435761u) >> (32 - bits_); }

    size_t extend(size_t from, size_t at) const {
        return matchLength(o_.data() + from, n_.data() + at, std::min(o_.size() - from, n_.size() - at));
    }

    // Encoded-size gain of copying length bytes from `from` instead of
    // inserting them.
    static double gainOf(size_t length, int64_t distance, size_t pending) {
        if (distance < DELTA_DISTANCE_MIN || distance > DELTA_DISTANCE_MAX) return -1;
        double cost = 1 + distanceBytes(distance);
        if (length > DELTA_SHORT_COPY_MAX) cost += 2;
        if (length > DELTA_COPY_MAX) cost += double(length / DELTA_COPY_MAX) * 4;
        size_t tail = pending % DELTA_INSERT_MAX;
        if (tail >= 1 && tail <= DELTA_FUSED_INSERT_MAX && length <= DELTA_FUSED_COPY_MAX) cost -= 1;
        return double(length) * kLit - cost * kCmd - kBias;
    }

    void consider(Match& best, size_t from, size_t at, int64_t oldPos, size_t pending) const {
        if (from >= o_.size()) return;
        int64_t d = int64_t(from) - oldPos;
        if (d < DELTA_DISTANCE_MIN || d > DELTA_DISTANCE_MAX) return;  // unreachable from here
        size_t length = extend(from, at);
        if (length < 2) return;
        double g = gainOf(length, int64_t(from) - oldPos, pending);
        // A copy away from the alignment of the last long copy usually has
        // to jump back afterwards: charge that distance now.
        if (haveAnchor_) {
            int64_t back = anchor_ - (int64_t(from) - int64_t(at));
            if (back != 0) g -= kReturnWeight * kCmd * distanceBytes(back);
        }
        if (g > best.gain) {
            best.from = from;
            best.length = length;
            best.gain = g;
        }
    }

    Match find(size_t at, size_t litStart, int64_t oldPos) const {
        Match best;
        size_t pending = at - litStart;
        if (oldPos >= 0) {
            consider(best, size_t(oldPos), at, oldPos, pending);
            consider(best, size_t(oldPos) + pending, at, oldPos, pending);
        }
        if (at + 4 > n_.size() || prev_.empty()) return best;
        uint32_t key = load32(n_.data() + at);
        // Right after a long copy, a short deletion or edit usually resumes
        // a little further on: look there before the chains, whose newest
        // entries may all lie elsewhere in repetitive data.
        if (lastCopy_ >= 32 && pending <= 16 && oldPos >= 0) {
            size_t lo = size_t(oldPos) > 64 ? size_t(oldPos) - 64 : 0;
            size_t hi = std::min(o_.size() - 4, size_t(oldPos) + 1024);
            for (size_t from = lo; from <= hi && from + 4 <= o_.size(); from++)
                if (load32(o_.data() + from) == key) consider(best, from, at, oldPos, pending);
        }
        uint32_t candidate = head_[hash(n_.data() + at)];
        for (int depth = 0; candidate && depth < kDepth; depth++) {
            size_t from = candidate - 1;
            candidate = prev_[from];
            if (load32(o_.data() + from) != key) continue;
            if (best.length > 4 && from + best.length < o_.size() &&
                o_[from + best.length - 1] != n_[at + best.length - 1])
                continue;
            consider(best, from, at, oldPos, pending);
            if (best.length >= kGoodEnough) break;
        }
        return best;
    }

    void emit(DeltaStreams& out, size_t litStart, size_t at, const Match& m, int64_t& oldPos) {
        size_t pending = at - litStart;
        uint32_t fused = 0;
        if (pending) {
            size_t tail = pending % DELTA_INSERT_MAX;
            if (tail >= 1 && tail <= DELTA_FUSED_INSERT_MAX && m.length <= DELTA_FUSED_COPY_MAX) {
                if (pending > tail) encodeInsert(out, n_.data() + litStart, pending - tail);
                out.data.insert(out.data.end(), n_.data() + at - tail, n_.data() + at);
                fused = static_cast<uint32_t>(tail);
            } else {
                encodeInsert(out, n_.data() + litStart, pending);
            }
        }
        size_t from = m.from, left = m.length;
        while (left) {
            size_t k = std::min<size_t>(left, DELTA_COPY_MAX);
            if (left - k == 1) k--;  // never leave a 1-byte copy
            encodeCopy(out.commands, static_cast<uint32_t>(k), static_cast<int32_t>(int64_t(from) - oldPos),
                       fused);
            fused = 0;
            oldPos = int64_t(from + k);
            from += k;
            left -= k;
        }
    }

    // Tuned on the patch benchmark's pairs (bench/patch.sh): how far the
    // lazy step looks, how many chain entries are tried, when a match is
    // long enough to stop looking.
    static constexpr size_t kLazy = 3;
    static constexpr int kDepth = 48;
    static constexpr size_t kGoodEnough = 4096;
    const Bytes& o_;
    const Bytes& n_;
    int bits_;
    size_t lastCopy_ = 0;
    bool haveAnchor_ = false;
    int64_t anchor_ = 0;  // old minus new position of the last long copy
    // A copy this long sets the alignment later copies are expected to
    // return to; leaving it is charged kReturnWeight times the distance
    // field back (weight 1 made libcrypto's delta 19% larger than 3).
    static constexpr size_t kAnchorLength = 64;
    static constexpr double kReturnWeight = 3.0;
    // Encoded bytes per literal and per command byte, and the least gain a
    // copy must bring.
    static constexpr double kLit = 1.0;
    static constexpr double kCmd = 1.0;
    static constexpr double kBias = 1.5;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> prev_;
};

}  // namespace

DeltaStreams diffFiles(const Bytes& oldFile, const Bytes& newFile) {
    if (oldFile.size() > 0x7FFFFFFF || newFile.size() > 0x7FFFFFFF)
        throw std::invalid_argument("differ: files must stay below 2 GiB");
    return Matcher(oldFile, newFile).run();
}

DeltaStreams insertAll(const Bytes& newFile) {
    DeltaStreams d;
    encodeInsert(d, newFile.data(), newFile.size());
    return d;
}

// One stream from its raw bytes and their compressed form.
Bytes encodeStreamPacked(const Bytes& raw, const Bytes& packed) {
    Bytes out;
    uint8_t header = raw.size() > 0xFFFF ? STREAM_SIZE_32 : 0;
    if (raw.empty()) {
        out = {0, 0, 0};
        return out;
    }
    bool compress = packed.size() + (packed.size() > 0xFFFF ? 4 : 2) < raw.size();
    if (compress) header |= STREAM_COMPRESSED | (packed.size() > 0xFFFF ? STREAM_PACKED_32 : 0);
    out.push_back(header);
    if (header & STREAM_SIZE_32) put32(out, static_cast<uint32_t>(raw.size()));
    else put16(out, static_cast<uint16_t>(raw.size()));
    if (compress) {
        if (header & STREAM_PACKED_32) put32(out, static_cast<uint32_t>(packed.size()));
        else put16(out, static_cast<uint16_t>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
    } else {
        out.insert(out.end(), raw.begin(), raw.end());
    }
    return out;
}

Bytes encodeStream(const Bytes& raw) {
    if (raw.empty()) return encodeStreamPacked(raw, {});
    return encodeStreamPacked(raw, compressStream(raw.data(), raw.size()));
}

Bytes encodeDelta(const DeltaStreams& delta) {
    Bytes out = encodeStream(delta.commands);
    Bytes data = encodeStream(delta.data);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace pkg
