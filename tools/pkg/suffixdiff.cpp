// Approximate matcher over a suffix array of the old file.
#include "pkg/suffixdiff.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/delta.h"
#include "pkg/difference.h"

#ifdef UPD_HAVE_DIVSUFSORT
#include <divsufsort.h>
#endif

namespace pkg {

DeltaStreams exactCopies(const DeltaStreams& approximate, const Bytes& oldFile, const Bytes& newFile) {
    // A run of equal bytes shorter than this costs more as a copy (command
    // and distance) than as inserted bytes.
    const size_t kExactRun = 6;
    DeltaStreams out;
    const uint8_t* p = approximate.commands.data();
    const uint8_t* end = p + approximate.commands.size();
    size_t at = 0, litStart = 0;
    int64_t from = 0, oldPos = 0;
    auto flushInserts = [&](size_t upTo) {
        if (upTo > litStart) encodeInsert(out, newFile.data() + litStart, upTo - litStart);
        litStart = upTo;
    };
    DeltaCommand c;
    while (p < end && readDeltaCommand(&p, end, &c)) {
        at += c.insertLength;
        if (!c.copyLength) continue;
        from += c.distance;
        for (size_t i = 0; i < c.copyLength;) {
            size_t run = 0;
            while (i + run < c.copyLength && oldFile[size_t(from) + i + run] == newFile[at + i + run]) run++;
            int64_t distance = int64_t(from) + int64_t(i) - oldPos;
            // (A run beyond a distance field's reach, behind a hop whose
            // bytes differed, is left to the inserts.)
            if (run >= kExactRun && distance >= DELTA_DISTANCE_MIN && distance <= DELTA_DISTANCE_MAX) {
                flushInserts(at + i);
                for (size_t left = run, src = size_t(from) + i; left;) {
                    size_t k = std::min<size_t>(left, DELTA_COPY_MAX);
                    if (left - k == 1) k--;
                    encodeCopy(out.commands, static_cast<uint32_t>(k), static_cast<int32_t>(int64_t(src) - oldPos));
                    oldPos = int64_t(src + k);
                    src += k;
                    left -= k;
                }
                litStart = at + i + run;
            }
            i += run ? run : 1;
        }
        at += c.copyLength;
        from += c.copyLength;
    }
    flushInserts(newFile.size());
    return out;
}

size_t matchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t k = 0;
    while (k + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + k, 8);
        std::memcpy(&y, b + k, 8);
        if (x != y) return k + (__builtin_ctzll(x ^ y) >> 3);
        k += 8;
    }
    while (k < limit && a[k] == b[k]) k++;
    return k;
}

#ifndef UPD_HAVE_DIVSUFSORT

std::optional<DifferenceDelta> diffApproximate(const Bytes&, const Bytes&) { return std::nullopt; }

#else

namespace {

// The suffix array of the old file; lookups binary-search it as bsdiff
// does, then look at the neighbours of the entry found.
class SuffixIndex {
public:
    explicit SuffixIndex(const Bytes& old) : o_(old), sa_(old.size()) {
        if (divsufsort(old.data(), sa_.data(), static_cast<int32_t>(old.size())) != 0)
            throw std::runtime_error("differ: suffix sorting failed");
    }

    // The longest match of p[0, n) in the old file; among equally long
    // ones next to it in the array, the one nearest to `near` (the old
    // position that keeps the current alignment). Returns the length, the
    // position in *pos.
    size_t search(const uint8_t* p, size_t n, int64_t near, size_t* pos) const {
        *pos = 0;
        if (sa_.empty()) return 0;
        size_t lo = 0, hi = sa_.size() - 1;
        while (hi - lo > 1) {
            size_t mid = lo + (hi - lo) / 2;
            size_t at = size_t(sa_[mid]);
            size_t limit = std::min(o_.size() - at, n);
            if (std::memcmp(o_.data() + at, p, limit) < 0) lo = mid;
            else hi = mid;
        }
        size_t x = length(sa_[lo], p, n), y = length(sa_[hi], p, n);
        size_t centre = x >= y ? lo : hi;
        size_t len = std::max(x, y);
        *pos = size_t(sa_[centre]);
        if (len == 0) return 0;
        int64_t bestGap = std::llabs(int64_t(*pos) - near);
        auto offer = [&](size_t k) {
            int64_t gap = std::llabs(int64_t(sa_[k]) - near);
            if (gap < bestGap) {
                bestGap = gap;
                *pos = size_t(sa_[k]);
            }
        };
        for (size_t k = centre, steps = 0; k > 0 && steps < kNeighbours; steps++) {
            k--;
            if (length(sa_[k], p, len) < len) break;
            offer(k);
        }
        for (size_t k = centre + 1, steps = 0; k < sa_.size() && steps < kNeighbours; k++, steps++) {
            if (length(sa_[k], p, len) < len) break;
            offer(k);
        }
        return len;
    }

private:
    size_t length(int32_t at, const uint8_t* p, size_t n) const {
        return matchLength(o_.data() + at, p, std::min(o_.size() - size_t(at), n));
    }

    static const size_t kNeighbours = 16;
    const Bytes& o_;
    std::vector<int32_t> sa_;
};

class ApproximateMatcher {
public:
    ApproximateMatcher(const Bytes& oldFile, const Bytes& newFile)
        : o_(oldFile), n_(newFile), index_(oldFile) {}

    DifferenceDelta run() {
        const int64_t oldSize = int64_t(o_.size()), newSize = int64_t(n_.size());
        const uint8_t* oldp = o_.data();
        const uint8_t* newp = n_.data();
        int64_t scan = 0, len = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
        size_t pos = 0;
        auto same = [&](int64_t at, int64_t offset) {
            int64_t from = at + offset;
            return from >= 0 && from < oldSize && oldp[from] == newp[at];
        };
        while (scan < newSize) {
            int64_t oldScore = 0;
            int64_t scsc = scan += len;
            for (; scan < newSize; scan++) {
                len = int64_t(index_.search(newp + scan, size_t(newSize - scan), scan + lastOffset, &pos));
                for (; scsc < scan + len; scsc++)
                    if (same(scsc, lastOffset)) oldScore++;
                if ((len == oldScore && len != 0) || len > oldScore + kBreak) break;
                if (same(scan, lastOffset)) oldScore--;
            }
            if (len == oldScore && scan != newSize) continue;

            // Stretch the last alignment forwards while enough bytes agree.
            int64_t lenf = 0;
            {
                int64_t s = 0, best = 0;
                for (int64_t i = 0; lastScan + i < scan && lastPos + i < oldSize;) {
                    if (oldp[lastPos + i] == newp[lastScan + i]) s++;
                    i++;
                    if (s * kAgree - i * kAgreeOf > best) {
                        best = s * kAgree - i * kAgreeOf;
                        lenf = i;
                    }
                }
            }
            // And the new one backwards.
            int64_t lenb = 0;
            if (scan < newSize) {
                int64_t s = 0, best = 0;
                for (int64_t i = 1; scan >= lastScan + i && int64_t(pos) >= i; i++) {
                    if (oldp[int64_t(pos) - i] == newp[scan - i]) s++;
                    if (s * kAgree - i * kAgreeOf > best) {
                        best = s * kAgree - i * kAgreeOf;
                        lenb = i;
                    }
                }
            }
            // Where they overlap, split at the point that keeps most agreeing bytes.
            if (lastScan + lenf > scan - lenb) {
                int64_t overlap = (lastScan + lenf) - (scan - lenb);
                int64_t s = 0, best = 0, lens = 0;
                for (int64_t i = 0; i < overlap; i++) {
                    if (newp[lastScan + lenf - overlap + i] == oldp[lastPos + lenf - overlap + i]) s++;
                    if (newp[scan - lenb + i] == oldp[int64_t(pos) - lenb + i]) s--;
                    if (s > best) {
                        best = s;
                        lens = i + 1;
                    }
                }
                lenf += lens - overlap;
                lenb -= lens;
            }
            copy(size_t(lastScan), size_t(lastPos), size_t(lenf));
            lastScan = scan - lenb;
            lastPos = int64_t(pos) - lenb;
            lastOffset = int64_t(pos) - scan;
        }
        if (litStart_ < n_.size()) encodeInsert(out_.streams, newp + litStart_, n_.size() - litStart_);
        out_.difference = difference_.finish();
        return std::move(out_);
    }

private:
    // An approximate copy of new[at, at + length) from old[from...]; the
    // bytes since the last copy are inserted in front of it. A source
    // farther away than a distance field reaches is reached in hops: 2-byte
    // copies from as far as the field goes, their bytes made right by their
    // differences (cheaper than inserting what the copy would have given).
    // A copy too short for that is left to the inserts.
    void copy(size_t at, size_t from, size_t length) {
        int64_t distance = int64_t(from) - oldPos_;
        while (distance < DELTA_DISTANCE_MIN || distance > DELTA_DISTANCE_MAX) {
            if (length < kHop + 2) return;
            int64_t hop = oldPos_ + (distance > 0 ? DELTA_DISTANCE_MAX : DELTA_DISTANCE_MIN);
            hop = std::max<int64_t>(0, std::min<int64_t>(hop, int64_t(o_.size()) - int64_t(kHop)));
            emit(at, size_t(hop), kHop);
            at += kHop;
            from += kHop;
            length -= kHop;
            distance = int64_t(from) - oldPos_;
        }
        if (length >= 2) emit(at, from, length);
    }

    // Writes one copy (split as the format needs) with its differences.
    void emit(size_t at, size_t from, size_t length) {
        size_t pending = at - litStart_;
        uint32_t fused = 0;
        if (pending) {
            size_t tail = pending % DELTA_INSERT_MAX;
            if (tail >= 1 && tail <= DELTA_FUSED_INSERT_MAX && length <= DELTA_FUSED_COPY_MAX) {
                if (pending > tail) encodeInsert(out_.streams, n_.data() + litStart_, pending - tail);
                out_.streams.data.insert(out_.streams.data.end(), n_.data() + at - tail, n_.data() + at);
                fused = static_cast<uint32_t>(tail);
            } else {
                encodeInsert(out_.streams, n_.data() + litStart_, pending);
            }
        }
        size_t left = length, source = from;
        while (left) {
            size_t k = std::min<size_t>(left, DELTA_COPY_MAX);
            if (left - k == 1) k--;  // never leave a 1-byte copy
            encodeCopy(out_.streams.commands, static_cast<uint32_t>(k),
                       static_cast<int32_t>(int64_t(source) - oldPos_), fused);
            fused = 0;
            oldPos_ = int64_t(source + k);
            source += k;
            left -= k;
        }
        // The differences, new minus old, modulo 256.
        uint8_t buffer[4096];
        for (size_t done = 0; done < length;) {
            size_t k = std::min(sizeof buffer, length - done);
            for (size_t i = 0; i < k; i++)
                buffer[i] = static_cast<uint8_t>(n_[at + done + i] - o_[from + done + i]);
            difference_.add(buffer, k);
            done += k;
        }
        litStart_ = at + length;
    }

    // bsdiff's rules, in our units: a new alignment must beat the current
    // one by kBreak bytes; an alignment is stretched while
    // agreeing * kAgree - bytes * kAgreeOf grows.
    // (Measured on the patch benchmark's pairs: other weights, or a higher
    // or lower threshold, give larger deltas.)
    static const int64_t kBreak = 8;
    static const int64_t kAgree = 2;
    static const int64_t kAgreeOf = 1;
    static const size_t kHop = 2;

    const Bytes& o_;
    const Bytes& n_;
    SuffixIndex index_;
    DifferenceDelta out_;
    DifferenceWriter difference_;
    size_t litStart_ = 0;
    int64_t oldPos_ = 0;
};

}  // namespace

std::optional<DifferenceDelta> diffApproximate(const Bytes& oldFile, const Bytes& newFile) {
    if (oldFile.size() > 0x7FFFFFFF || newFile.size() > 0x7FFFFFFF)
        throw std::invalid_argument("differ: files must stay below 2 GiB");
    if (oldFile.empty()) {
        DifferenceDelta all;
        all.streams = insertAll(newFile);
        all.difference = zeroDifference(0);
        return all;
    }
    return ApproximateMatcher(oldFile, newFile).run();
}

#endif

}  // namespace pkg
